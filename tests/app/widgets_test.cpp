// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <memory>

#include "app/dusk_gradient_panel.h"
#include "app/larkspur_button.h"
#include "qt_application.h"

namespace larkspur {
namespace {

using testing::App;

QImage Render(QWidget& widget) {
  QImage image(widget.size(), QImage::Format_RGB32);
  image.fill(Qt::black);
  widget.render(&image);
  return image;
}

TEST(GradientPanelTest, ColourTableRunsFromBeginToEndColour) {
  const auto table = TduskgradientPanel::BuildColourTable(QColor(0, 100, 200), QColor(254, 100, 0));
  EXPECT_EQ(table[0], QColor(0, 100, 200));
  EXPECT_EQ(table[254], QColor(254, 100, 0));
  EXPECT_EQ(table[127], QColor(127, 100, 100));
  // The last band overshoots and keeps only the low 8 bits of each channel.
  EXPECT_EQ(table[255], QColor(255, 100, 255 & (200 + MulDiv(255, -200, 254))));
  const auto flat = TduskgradientPanel::BuildColourTable(QColor(9, 9, 9), QColor(9, 9, 9));
  for (const QColor& colour : flat) EXPECT_EQ(colour, QColor(9, 9, 9));
}

TEST(GradientPanelTest, EveryRowGetsTheColourOfItsBand) {
  App();
  TduskgradientPanel panel;
  panel.SetBeginColor(QColor(0, 0, 0));
  panel.SetEndColor(QColor(254, 254, 254));
  panel.resize(10, 255);
  const QImage tall = Render(panel);
  for (int row = 0; row < 255; ++row) EXPECT_EQ(QColor(tall.pixel(5, row)).red(), row) << row;
  panel.resize(10, 100);
  const QImage low = Render(panel);
  for (int row = 1; row < 100; ++row) EXPECT_GE(QColor(low.pixel(5, row)).red(), QColor(low.pixel(5, row - 1)).red());
  EXPECT_EQ(TduskgradientPanel::BandTop(255, 100), 100);
}

TEST(MulDivTest, RoundsHalfAwayFromZero) {
  EXPECT_EQ(MulDiv(1, 1, 2), 1);
  EXPECT_EQ(MulDiv(-1, 1, 2), -1);
  EXPECT_EQ(MulDiv(254, 10, 254), 10);
  EXPECT_EQ(MulDiv(5, 5, 0), -1);
}

void Click(QWidget& widget, QPoint at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(&widget, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, widget.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(&widget, &release);
}

TEST(LarkspurButtonTest, WidthFollowsTheTrimmedCaption) {
  App();
  TLarkspurButton button;
  button.SetCaption("  Close  ");
  EXPECT_EQ(button.DisplayText(), "Close");
  TLarkspurButton plain;
  plain.SetCaption("Close");
  EXPECT_EQ(button.PreferredWidth(), plain.PreferredWidth());
  const int withoutArrow = button.PreferredWidth();
  button.SetArrowVisible(true);
  EXPECT_EQ(button.PreferredWidth(), withoutArrow + 17);
  button.SetCollapsed(true);
  EXPECT_EQ(button.DisplayText(), ">");
}

TEST(LarkspurButtonTest, ClicksFireOnClickOrOpenTheMenu) {
  App();
  TLarkspurButton button;
  button.SetCaption("Close");
  button.SetArrowVisible(true);
  button.resize(button.PreferredWidth(), 17);
  int clicks = 0;
  int popups = 0;
  int ups = 0;
  button.OnClick = [&] { ++clicks; };
  button.OnPopup = [&] { ++popups; };
  button.OnMouseUp = [&](QMouseEvent*) { ++ups; };
  Click(button, QPoint(3, 8));
  EXPECT_EQ(clicks, 1);
  // Without a menu, the arrow zone and the menu-on-click mode do nothing but
  // report the release.
  Click(button, QPoint(button.width() - 5, 8));
  button.SetMenuOnClick(true);
  Click(button, QPoint(3, 8));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(popups, 0);
  EXPECT_EQ(ups, 3);
  QMenu menu;
  button.PopDownMenu = &menu;
  Click(button, QPoint(3, 8));
  EXPECT_EQ(popups, 1);
  menu.close();
}

TEST(LarkspurButtonTest, PaintsItsShapeInTheBackColour) {
  App();
  TLarkspurButton button;
  button.SetCaption("Close");
  button.SetBackColor(QColor(0x80, 0x80, 0x80));
  button.resize(button.PreferredWidth(), 17);
  int moves = 0;
  button.OnMoveNeeded = [&] { ++moves; };
  const QImage image = Render(button);
  EXPECT_EQ(QColor(image.pixel(button.width() / 2, 1)), QColor(0x80, 0x80, 0x80));
  EXPECT_GE(moves, 1);
}

}  // namespace
}  // namespace larkspur
