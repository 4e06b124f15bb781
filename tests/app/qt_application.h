// SPDX-License-Identifier: MIT
// One Qt application object for the whole test program, on Qt's offscreen
// platform unless another one is asked for.
#pragma once

#include <QApplication>

namespace larkspur::testing {

// Never destroyed: tearing it down among the other statics at exit would
// outlive parts of Qt it depends on.
inline QApplication& App() {
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace larkspur::testing
