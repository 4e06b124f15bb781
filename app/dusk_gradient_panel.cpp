// SPDX-License-Identifier: MIT
#include "app/dusk_gradient_panel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <cstdint>
#include <cstdlib>

namespace larkspur {

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t half = std::llabs(c) / 2;
  const bool negative = (product < 0) != (c < 0);
  const int64_t magnitude = (std::llabs(product) + half) / std::llabs(c);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

TduskgradientPanel::TduskgradientPanel(QWidget* parent)
    : QWidget(parent), begin_color_(palette().color(QPalette::Dark)), end_color_(0xC0, 0xC0, 0xC0) {
  resize(377, 121);
  // The paint covers the whole panel, so no background needs erasing.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TduskgradientPanel::SetBeginColor(const QColor& color) {
  if (color == begin_color_) return;
  begin_color_ = color;
  update();
}

void TduskgradientPanel::SetEndColor(const QColor& color) {
  if (color == end_color_) return;
  end_color_ = color;
  update();
}

TduskgradientPanel::ColourTable TduskgradientPanel::BuildColourTable(const QColor& begin, const QColor& end) {
  ColourTable table;
  auto channel = [](int from, int to, int band) { return (from + MulDiv(band, to - from, kBandCount - 1)) & 0xFF; };
  for (int band = 0; band < 256; ++band)
    table[band] = QColor(channel(begin.red(), end.red(), band), channel(begin.green(), end.green(), band),
                         channel(begin.blue(), end.blue(), band));
  return table;
}

int TduskgradientPanel::BandTop(int band, int height) { return MulDiv(band, height, kBandCount); }

void TduskgradientPanel::paintEvent(QPaintEvent*) {
  QPixmap bitmap(size());
  const ColourTable colours = BuildColourTable(begin_color_, end_color_);
  {
    QPainter painter(&bitmap);
    for (int band = 0; band < 256; ++band) {
      const int top = BandTop(band, height());
      painter.fillRect(QRect(0, top, width(), BandTop(band + 1, height()) - top), colours[band]);
    }
  }
  QPainter(this).drawPixmap(0, 0, bitmap);
}

void TduskgradientPanel::mousePressEvent(QMouseEvent* event) {
  if (OnMouseDown) OnMouseDown(event);
}

void TduskgradientPanel::mouseMoveEvent(QMouseEvent* event) {
  if (OnMouseMove) OnMouseMove(event);
}

void TduskgradientPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (OnMouseUp) OnMouseUp(event);
}

}  // namespace larkspur
