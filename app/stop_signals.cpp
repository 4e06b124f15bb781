// SPDX-License-Identifier: MIT
#include "app/stop_signals.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <chrono>
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

// Further signals are taken and let go until the time given after the
// first: one close may come as several signals at once (timeout(1) signals
// the program and then its group).
void LetSignalsGoUntil(const sigset_t& set, std::chrono::steady_clock::time_point end) {
  using Clock = std::chrono::steady_clock;
  for (Clock::duration left = end - Clock::now(); left > Clock::duration::zero(); left = end - Clock::now()) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds);
    const timespec grace{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
    ::sigtimedwait(&set, nullptr, &grace);
  }
}

void EndAtOnce(int signal) {
  const std::string text = "Larkspur Podcast Downloader: the close asked for by \"" + std::string(::strsignal(signal)) +
                           "\" did not end in time; ending at once\n";
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
  ::_exit(128 + signal);
}

}  // namespace

void WatchStopSignals(std::function<void()> requestClose, std::function<void()> cutWaits) {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // Detached: it may still wait while the process ends.
  std::thread([set, requestClose = std::move(requestClose), cutWaits = std::move(cutWaits)] {
    const int signal = WaitForSignal(set);
    const auto signalled = std::chrono::steady_clock::now();
    requestClose();
    LetSignalsGoUntil(set, signalled + std::chrono::milliseconds(kCutWaitsAfterMs));
    cutWaits();
    LetSignalsGoUntil(set, signalled + std::chrono::milliseconds(kStopGraceMs));
    EndAtOnce(signal);
  }).detach();
}

}  // namespace larkspur
