// SPDX-License-Identifier: MIT
#include "engine/db/server_waits.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "engine/db/database.h"

namespace tidewell::db {
namespace {

using Clock = std::chrono::steady_clock;

thread_local bool boundedThread = false;
thread_local uint64_t callsOfThread = 0;

// The bounded thread's current call. Never freed: the watching thread and
// late calls may use it while the process ends.
struct BoundedCall {
  std::mutex mutex;
  std::condition_variable changed;
  bool waiting = false;      // guarded by mutex
  uint64_t serial = 0;       // guarded by mutex; counts the calls
  Clock::time_point since;   // guarded by mutex
};

BoundedCall& Call() {
  static auto* call = new BoundedCall;
  return *call;
}

struct ServerDatabases {
  std::mutex mutex;
  std::set<Database*> databases;  // guarded by mutex
};

ServerDatabases& Registry() {
  static auto* registry = new ServerDatabases;
  return *registry;
}

void CutServerAttachments() {
  ServerDatabases& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (Database* database : registry.databases) database->CutAttachment();
}

// Sleeps until a call starts, then until its bound runs out or it ends;
// cuts once per call that outlasts its bound.
[[noreturn]] void WatchBoundedCalls() {
  BoundedCall& call = Call();
  std::unique_lock<std::mutex> lock(call.mutex);
  for (;;) {
    call.changed.wait(lock, [&] { return call.waiting; });
    const uint64_t serial = call.serial;
    const auto same = [&] { return call.waiting && call.serial == serial; };
    if (call.changed.wait_until(lock, call.since + std::chrono::milliseconds(kBoundedWaitMs), [&] { return !same(); }))
      continue;
    lock.unlock();
    CutServerAttachments();
    lock.lock();
    call.changed.wait(lock, [&] { return !same(); });
  }
}

}  // namespace

void BoundServerWaitsOfThisThread() {
  static std::once_flag started;
  std::call_once(started, [] { std::thread(WatchBoundedCalls).detach(); });
  boundedThread = true;
}

ServerWait::ServerWait() : bounded_(boundedThread) {
  ++callsOfThread;
  if (!bounded_) return;
  BoundedCall& call = Call();
  {
    std::lock_guard<std::mutex> lock(call.mutex);
    call.waiting = true;
    ++call.serial;
    call.since = Clock::now();
  }
  call.changed.notify_all();
}

ServerWait::~ServerWait() {
  if (!bounded_) return;
  BoundedCall& call = Call();
  {
    std::lock_guard<std::mutex> lock(call.mutex);
    call.waiting = false;
  }
  call.changed.notify_all();
}

uint64_t DatabaseCallsOfThisThread() { return callsOfThread; }

void EndEveryServerWait() {
  ServerDatabases& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (Database* database : registry.databases) {
    database->RefuseAttaching();
    database->CutAttachment();
  }
}

void NoteServerDatabase(Database* database) {
  ServerDatabases& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.databases.insert(database);
}

void ForgetServerDatabase(Database* database) {
  ServerDatabases& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.databases.erase(database);
}

}  // namespace tidewell::db
