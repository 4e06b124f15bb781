// SPDX-License-Identifier: MIT
// The flat, rounded caption button of the application window: it sizes
// itself to its caption, changes colour while the mouse is over it, and can
// open a drop-down menu (from its arrow, on click, or when the mouse
// enters). Lives on the GUI thread.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>
#include <functional>

class QMenu;
class QMouseEvent;

namespace larkspur {

class TLarkspurButton : public QWidget {
 public:
  using Notify = std::function<void()>;
  using MouseHandler = std::function<void(QMouseEvent*)>;

  explicit TLarkspurButton(QWidget* parent = nullptr);

  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  bool Collapsed() const { return collapsed_; }
  void SetCollapsed(bool collapsed);
  bool ArrowVisible() const { return arrow_visible_; }
  void SetArrowVisible(bool visible);
  bool MenuOnClick() const { return menu_on_click_; }
  void SetMenuOnClick(bool on);
  bool MenuOnMouseEnter() const { return menu_on_mouse_enter_; }
  void SetMenuOnMouseEnter(bool on);
  bool MenuVisible() const { return menu_visible_; }
  void SetMenuVisible(bool visible);
  void SetRounded(bool rounded);
  void SetButtonFont(const QFont& font);

  QColor BackColor() const { return back_color_; }
  void SetBackColor(const QColor& color);
  QColor ForeColor() const { return fore_color_; }
  void SetForeColor(const QColor& color);
  // Stored only: the next mouse entry shows it.
  QColor HoverColor() const { return hover_color_; }
  void SetHoverColor(const QColor& color) { hover_color_ = color; }

  // Placement of the drop-down menu: left-aligned under the button when set.
  bool AlignRight = false;
  QMenu* PopDownMenu = nullptr;  // not owned

  Notify OnClick;
  Notify OnMoveNeeded;  // after every paint: the size may have changed
  Notify OnPopup;       // before the menu opens
  MouseHandler OnMouseDown;
  MouseHandler OnMouseMove;
  MouseHandler OnMouseUp;

  // The width the caption needs: the trimmed text's width plus the margins
  // and, when shown, the arrow.
  int PreferredWidth() const;
  // The text that is drawn: ">" when collapsed, else the trimmed caption.
  QString DisplayText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int TextBoxWidth() const;
  // Stores a changed value and repaints; an unchanged one does nothing.
  template <typename T>
  void StoreAndRepaint(T& member, const T& value) {
    if (member == value) return;
    member = value;
    update();
  }
  void OpenMenu(bool fromMouseEnter);

  QString caption_ = QStringLiteral("Mybutton");
  bool collapsed_ = false;
  bool arrow_visible_ = false;
  bool menu_on_click_ = false;
  bool menu_on_mouse_enter_ = false;
  bool menu_visible_ = false;
  bool rounded_ = true;
  QFont font_;
  QColor back_color_{0x80, 0x80, 0x80};
  QColor fore_color_{0xFF, 0xFF, 0xFF};
  QColor hover_color_{0xA0, 0xA0, 0xA4};
  QColor saved_color_;
  bool pressed_ = false;
};

}  // namespace larkspur
