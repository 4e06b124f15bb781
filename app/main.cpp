// SPDX-License-Identifier: MIT
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "platform/main_loop.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  platform::MainThread().BindToCurrentThread();
  // Hand-overs from the engine's workers run on Qt's event loop.
  platform::MainThread().SetWakeup([] {
    QMetaObject::invokeMethod(qApp, [] { platform::MainThread().Pump(); }, Qt::QueuedConnection);
  });
  QTimer pump;
  QObject::connect(&pump, &QTimer::timeout, [] { platform::MainThread().Pump(); });
  pump.start(20);

  QWidget window;
  window.setWindowFlags(Qt::FramelessWindowHint);
  window.setWindowTitle("Larkspur Podcast Downloader");
  window.resize(480, 220);
  window.show();
  const int result = application.exec();
  platform::MainThread().Shutdown();
  return result;
}
