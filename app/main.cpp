// SPDX-License-Identifier: MIT
#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>

#include "app/main_form.h"
#include "platform/main_loop.h"

namespace {

// SIGTERM and SIGINT end the application through its event loop, so the
// engine stops its workers and closes the database as on "Close". The
// signals are blocked in every thread (they inherit the mask from here) and
// read from a descriptor instead: a handler interrupting the database
// library's threads leaves its last detach spinning.
int BlockStopSignals() {
  sigset_t stop_set;
  sigemptyset(&stop_set);
  sigaddset(&stop_set, SIGTERM);
  sigaddset(&stop_set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_set, nullptr);
  return signalfd(-1, &stop_set, SFD_CLOEXEC | SFD_NONBLOCK);
}

// Set once a stop signal arrived. Before the event loop runs, Qt drops a
// quit request, so main looks at this before it enters the loop.
bool stopSignalled = false;

// A start-up message box runs its own loop: it is closed, so that the start
// ends and main can return.
void CloseModalBox() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr) return;
  if (auto* dialog = qobject_cast<QDialog*>(modal)) return dialog->reject();
  modal->close();
}

void QuitOnStopSignals(int descriptor) {
  if (descriptor < 0) return;
  auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, [descriptor] {
    signalfd_siginfo info;
    while (::read(descriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    stopSignalled = true;
    CloseModalBox();
    QApplication::quit();
  });
}

constexpr int kStartFailedExitCode = 1;

}  // namespace

int main(int argc, char* argv[]) {
  const int stopSignals = BlockStopSignals();
  QApplication application(argc, argv);
  QuitOnStopSignals(stopSignals);
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
    if (form.StartFailed()) {
      result = kStartFailedExitCode;
    } else if (!stopSignalled) {
      form.show();
      result = application.exec();
    }
  }
  platform::MainThread().Shutdown();
  return result;
}
