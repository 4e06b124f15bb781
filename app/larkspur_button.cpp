// SPDX-License-Identifier: MIT
#include "app/larkspur_button.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>

namespace larkspur {
namespace {

constexpr int kHeight = 17;
constexpr int kArrowZone = 25;

// Win32's rounded rectangle: the corner ellipse is w x h, both clamped to
// the rectangle.
void DrawRoundRect(QPainter& painter, const QRect& rect, int ellipseWidth, int ellipseHeight) {
  const qreal rx = std::min(ellipseWidth, rect.width()) / 2.0;
  const qreal ry = std::min(ellipseHeight, rect.height()) / 2.0;
  painter.drawRoundedRect(rect, rx, ry, Qt::AbsoluteSize);
}

}  // namespace

TLarkspurButton::TLarkspurButton(QWidget* parent) : QWidget(parent), font_(QStringLiteral("tahoma")) {
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  setMouseTracking(false);
  resize(PreferredWidth(), kHeight);
}

QString TLarkspurButton::DisplayText() const { return collapsed_ ? QStringLiteral(">") : caption_.trimmed(); }

int TLarkspurButton::TextBoxWidth() const { return QFontMetrics(font_).horizontalAdvance(DisplayText()) + 15; }

int TLarkspurButton::PreferredWidth() const { return TextBoxWidth() + (arrow_visible_ ? 20 : 3); }

void TLarkspurButton::SetCaption(const QString& caption) { StoreAndRepaint(caption_, caption); }
void TLarkspurButton::SetBackColor(const QColor& color) { StoreAndRepaint(back_color_, color); }
void TLarkspurButton::SetForeColor(const QColor& color) { StoreAndRepaint(fore_color_, color); }
void TLarkspurButton::SetButtonFont(const QFont& font) { StoreAndRepaint(font_, font); }
void TLarkspurButton::SetCollapsed(bool collapsed) { StoreAndRepaint(collapsed_, collapsed); }
void TLarkspurButton::SetArrowVisible(bool visible) { StoreAndRepaint(arrow_visible_, visible); }
void TLarkspurButton::SetMenuOnClick(bool on) { StoreAndRepaint(menu_on_click_, on); }
void TLarkspurButton::SetMenuOnMouseEnter(bool on) { StoreAndRepaint(menu_on_mouse_enter_, on); }
void TLarkspurButton::SetMenuVisible(bool visible) { StoreAndRepaint(menu_visible_, visible); }
void TLarkspurButton::SetRounded(bool rounded) { StoreAndRepaint(rounded_, rounded); }

void TLarkspurButton::paintEvent(QPaintEvent*) {
  const int cornerHeight = rounded_ ? 220 : 2;
  const int w = TextBoxWidth();
  QPixmap bitmap(std::max(width(), PreferredWidth()), kHeight);
  bitmap.fill(Qt::transparent);
  {
    QPainter painter(&bitmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font_);
    painter.setBrush(back_color_);
    painter.setPen(back_color_);
    if (collapsed_ && rounded_)
      painter.drawEllipse(QRect(0, 0, 17, 17));
    else if (collapsed_)
      DrawRoundRect(painter, QRect(0, 0, 17, 17), 14, 2);
    else
      DrawRoundRect(painter, QRect(0, 0, arrow_visible_ ? w + 20 : w + 2, 17), 14, cornerHeight);
    painter.setPen(fore_color_);
    const QPoint origin = collapsed_ ? QPoint(6, 1) : QPoint(8, 2);
    painter.drawText(QRect(origin, QSize(bitmap.width(), kHeight)), Qt::AlignLeft | Qt::AlignTop, DisplayText());
    if (arrow_visible_ && !collapsed_) {
      QPainterPath arrow;
      arrow.moveTo(w, 6);
      arrow.lineTo(w + 10, 6);
      arrow.lineTo(w + 5, 11);
      arrow.closeSubpath();
      painter.fillPath(arrow, fore_color_);
    }
  }
  QPainter(this).drawPixmap(0, 0, bitmap);
  if (size() != QSize(PreferredWidth(), kHeight)) resize(PreferredWidth(), kHeight);
  if (OnMoveNeeded) OnMoveNeeded();
}

void TLarkspurButton::enterEvent(QEnterEvent*) {
  saved_color_ = back_color_;
  SetBackColor(hover_color_);
  if (QApplication::activeWindow() != nullptr && menu_on_mouse_enter_ && !menu_visible_) OpenMenu(true);
}

void TLarkspurButton::leaveEvent(QEvent*) {
  if (saved_color_.isValid()) SetBackColor(saved_color_);
  SetMenuVisible(false);
}

void TLarkspurButton::mousePressEvent(QMouseEvent* event) {
  if (OnMouseDown) OnMouseDown(event);
  if (event->button() == Qt::LeftButton) pressed_ = true;
}

void TLarkspurButton::mouseMoveEvent(QMouseEvent* event) {
  if (OnMouseMove) OnMouseMove(event);
}

void TLarkspurButton::mouseReleaseEvent(QMouseEvent* event) {
  if (pressed_) {
    pressed_ = false;
    const bool inArrowZone = arrow_visible_ && event->position().x() > width() - kArrowZone;
    if (!menu_on_click_ && !inArrowZone && !collapsed_) {
      if (OnClick) OnClick();
    } else {
      OpenMenu(false);
      if (saved_color_.isValid()) SetBackColor(saved_color_);
    }
  }
  if (OnMouseUp) OnMouseUp(event);
}

void TLarkspurButton::OpenMenu(bool fromMouseEnter) {
  if (PopDownMenu == nullptr) return;
  const QPoint below = mapToGlobal(QPoint(0, height()));
  if (OnPopup) OnPopup();
  if (fromMouseEnter) SetMenuVisible(true);
  const int x = AlignRight ? below.x() : below.x() + width();
  PopDownMenu->popup(QPoint(x, below.y() + 1));
}

}  // namespace larkspur
