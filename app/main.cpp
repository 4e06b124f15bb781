// SPDX-License-Identifier: MIT
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "app/display_loss.h"
#include "app/engine_folders.h"
#include "app/main_form.h"
#include "app/stop_signals.h"
#include "engine/db/attach_call.h"
#include "engine/db/server_waits.h"
#include "platform/main_loop.h"

namespace {

// Set once a stop signal arrived. Before the event loop runs, Qt drops a
// quit request, so main looks at this before it enters the loop.
std::atomic<bool> stopSignalled{false};

// The application that a stop signal is handed to, null before and after
// it lives. Never freed: the signal thread may use it while the process ends.
std::mutex& ApplicationGuard() {
  static auto* guard = new std::mutex;
  return *guard;
}
QApplication* liveApplication = nullptr;  // guarded by ApplicationGuard()

void SetLiveApplication(QApplication* application) {
  std::lock_guard<std::mutex> lock(ApplicationGuard());
  liveApplication = application;
}

// A start-up message box runs its own loop: it is closed, so that the start
// ends and main can return.
void CloseModalBox() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr) return;
  if (auto* dialog = qobject_cast<QDialog*>(modal)) return dialog->reject();
  modal->close();
}

// On the signal thread: the close itself runs in the GUI thread's loop.
void RequestClose() {
  stopSignalled = true;
  std::lock_guard<std::mutex> lock(ApplicationGuard());
  if (liveApplication == nullptr) return;
  QMetaObject::invokeMethod(
      liveApplication,
      [] {
        CloseModalBox();
        QApplication::quit();
      },
      Qt::QueuedConnection);
}

constexpr int kStartFailedExitCode = 1;

int RunForm(QApplication& application) {
  larkspur::TForm1 form;
  if (form.StartFailed()) return kStartFailedExitCode;
  if (stopSignalled) return 0;
  larkspur::CloseBeforeExit([&form] {
    form.ShutDown();
    platform::MainThread().Shutdown();
  });
  form.show();
  const int result = application.exec();
  larkspur::CloseBeforeExit(nullptr);
  return result;
}

// An attach left waiting on a server that answers nothing still runs in the
// database library: the library's own clean-up at exit must not run under
// it.
int EndOfProcess(int result) {
  if (tidewell::db::AttachThreadsRunning() == 0) return result;
  std::fflush(nullptr);
  std::_Exit(result);
}

}  // namespace

int main(int argc, char* argv[]) {
  larkspur::UseUserFoldersForEmbeddedEngine();
  larkspur::WatchStopSignals(RequestClose, tidewell::db::EndEveryServerWait);
  QApplication application(argc, argv);
  SetLiveApplication(&application);
  QApplication::setApplicationName("Larkspur Podcast Downloader");
  QApplication::setApplicationDisplayName("Larkspur Podcast Downloader");
  platform::MainThread().BindToCurrentThread();
  // A database server that stalls must not freeze the window.
  tidewell::db::BoundServerWaitsOfThisThread();
  // The engine's workers hand their events to the main thread: they run from
  // Qt's event loop, at once when they arrive and when the engine's next
  // timer is due. An idle application then sleeps instead of polling.
  QTimer pump;
  pump.setSingleShot(true);
  const auto rearm = [&pump] {
    const int next = platform::MainThread().MsUntilNextTimer();
    if (next < 0)
      pump.stop();
    else
      pump.start(next);
  };
  const auto pumpAndRearm = [rearm] {
    try {
      platform::MainThread().Pump();
    } catch (...) {
      rearm();
      throw;
    }
    rearm();
  };
  QObject::connect(&pump, &QTimer::timeout, pumpAndRearm);
  platform::MainThread().SetWakeup(
      [&pumpAndRearm] { QMetaObject::invokeMethod(qApp, pumpAndRearm, Qt::QueuedConnection); });

  const int result = RunForm(application);
  platform::MainThread().SetWakeup(nullptr);
  platform::MainThread().Shutdown();
  SetLiveApplication(nullptr);
  return EndOfProcess(result);
}
