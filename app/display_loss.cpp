// SPDX-License-Identifier: MIT
#include "app/display_loss.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>

#include "platform/main_loop.h"

namespace larkspur {
namespace {

// Never freed: exit() may read it after main's objects are gone.
std::function<void()>& ArmedClose() {
  static auto* close = new std::function<void()>;
  return *close;
}

QtMessageHandler previousHandler = nullptr;

void RunArmedClose() {
  if (!ArmedClose() || !platform::MainThread().IsMainThread()) return;
  const std::function<void()> close = std::move(ArmedClose());
  ArmedClose() = nullptr;
  close();
}

bool TellsOfBrokenDisplay(QtMsgType type, const QString& message) {
  return type == QtWarningMsg && message.contains("connection broke", Qt::CaseInsensitive);
}

void WatchMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (previousHandler != nullptr) {
    previousHandler(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
  }
  if (TellsOfBrokenDisplay(type, message)) RunArmedClose();
}

void InstallHooksOnce() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  previousHandler = qInstallMessageHandler(WatchMessages);
  // Registered after everything that main made so far: it runs before their
  // destruction.
  std::atexit(RunArmedClose);
}

}  // namespace

void CloseBeforeExit(std::function<void()> close) {
  InstallHooksOnce();
  ArmedClose() = std::move(close);
}

}  // namespace larkspur
