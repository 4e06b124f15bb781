// SPDX-License-Identifier: MIT
// The panel that fills the application window with a vertical colour
// gradient; child widgets lie on it, and its mouse events let the
// application drag the borderless window. Lives on the GUI thread.
#pragma once

#include <QColor>
#include <QWidget>
#include <array>
#include <functional>

class QMouseEvent;

namespace larkspur {

class TduskgradientPanel : public QWidget {
 public:
  static constexpr int kBandCount = 255;
  using ColourTable = std::array<QColor, 256>;
  using MouseHandler = std::function<void(QMouseEvent*)>;

  explicit TduskgradientPanel(QWidget* parent = nullptr);

  QColor BeginColor() const { return begin_color_; }
  QColor EndColor() const { return end_color_; }
  void SetBeginColor(const QColor& color);
  void SetEndColor(const QColor& color);

  MouseHandler OnMouseDown;
  MouseHandler OnMouseMove;
  MouseHandler OnMouseUp;

  // One colour per band: colour[0] is the begin colour, colour[254] the end
  // colour; each channel keeps its low 8 bits.
  static ColourTable BuildColourTable(const QColor& begin, const QColor& end);
  // The top row of band i in a panel of the given height.
  static int BandTop(int band, int height);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QColor begin_color_;
  QColor end_color_;
};

// Windows' MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c);

}  // namespace larkspur
