// SPDX-License-Identifier: MIT
#include <QApplication>
#include <QTimer>

#include "app/main_form.h"
#include "platform/main_loop.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Larkspur Podcast Downloader");
  QApplication::setApplicationDisplayName("Larkspur Podcast Downloader");
  platform::MainThread().BindToCurrentThread();
  // The engine's workers hand their events to the main thread: they run from
  // Qt's event loop, at once when they arrive and with the engine's timers.
  platform::MainThread().SetWakeup([] {
    QMetaObject::invokeMethod(qApp, [] { platform::MainThread().Pump(); }, Qt::QueuedConnection);
  });
  QTimer pump;
  QObject::connect(&pump, &QTimer::timeout, [] { platform::MainThread().Pump(); });
  pump.start(20);

  int result = 0;
  {
    larkspur::TForm1 form;
    form.show();
    result = application.exec();
  }
  platform::MainThread().Shutdown();
  return result;
}
