// SPDX-License-Identifier: MIT
#include "app/stop_signals.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

namespace larkspur {
namespace {

bool IsIgnored(int signal) {
  struct sigaction current {};
  return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  if (!IsIgnored(SIGHUP)) sigaddset(&set, SIGHUP);
  return set;
}

int WaitForSignal(const sigset_t& set) {
  for (;;) {
    int signal = 0;
    if (::sigwait(&set, &signal) == 0) return signal;
  }
}

// The second signal or the end of the grace period, whichever comes first.
void WaitForGraceToEnd(const sigset_t& set) {
  timespec grace{kStopGraceSeconds, 0};
  const auto end = std::time(nullptr) + kStopGraceSeconds;
  while (::sigtimedwait(&set, nullptr, &grace) < 0 && errno == EINTR) {
    const auto left = end - std::time(nullptr);
    if (left <= 0) return;
    grace = timespec{left, 0};
  }
}

void EndAtOnce(int signal) {
  const std::string text = "Larkspur Podcast Downloader: the close asked for by \"" + std::string(::strsignal(signal)) +
                           "\" did not end in time; ending at once\n";
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
  ::_exit(128 + signal);
}

}  // namespace

void WatchStopSignals(std::function<void()> requestClose) {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // Detached: it may still wait while the process ends.
  std::thread([set, requestClose = std::move(requestClose)] {
    const int signal = WaitForSignal(set);
    requestClose();
    WaitForGraceToEnd(set);
    EndAtOnce(signal);
  }).detach();
}

}  // namespace larkspur
