// SPDX-License-Identifier: MIT
// How many feed documents an engine's workers store at once. Storing (the
// document's statements) is CPU work inside the database engine, where
// workers writing the same tables contend for the same pages and latches:
// five workers storing 100-item documents at once spent a sixth more CPU
// than three at a time, for no more throughput (two at a time saved little
// more CPU and lengthened the pass), and five 1000-item documents half as
// much again as three. A worker's turn ends before its commit, whose
// synchronous writes wait on the disk, not on each other. Documents of a few
// items are let through: theirs is little work to contend over (1000
// documents of 10 items spent as much CPU gated as not), and a turn held by a
// worker that the system does not run holds up the others. Through a server
// a worker's statements wait on round trips as well, and holding short
// documents back lengthened the 100-feed pass by a sixth: there only long
// documents take a turn.
// Threads: any.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

namespace tidewell {

class TDocumentGate {
 public:
  static constexpr int kDocumentsAtOnce = 3;
  // Items from which a document takes a turn, in-process and through a
  // server.
  static constexpr size_t kGatedItems = 50;
  static constexpr size_t kLongDocumentItems = 500;

  static bool TakesATurn(size_t items, bool throughAServer) {
    return items >= (throughAServer ? kLongDocumentItems : kGatedItems);
  }

  explicit TDocumentGate(int slots = kDocumentsAtOnce) : free_(slots) {}
  TDocumentGate(const TDocumentGate&) = delete;
  TDocumentGate& operator=(const TDocumentGate&) = delete;

  // Waits for a free slot and takes it.
  void Enter();
  void Leave();
  // Workers waiting in Enter now.
  int Waiting() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable freed_;
  int free_;
  int waiting_ = 0;
};

// One worker's turn at a gate: taken by Enter, given back by Leave (again
// harmless) or at the latest when a LeftAtScopeEnd ends. No gate, no
// waiting.
class TDocumentTurn {
 public:
  explicit TDocumentTurn(std::shared_ptr<TDocumentGate> gate) : gate_(std::move(gate)) {}
  ~TDocumentTurn() { Leave(); }
  TDocumentTurn(const TDocumentTurn&) = delete;
  TDocumentTurn& operator=(const TDocumentTurn&) = delete;

  void Enter();
  void Leave();

  class LeftAtScopeEnd {
   public:
    explicit LeftAtScopeEnd(TDocumentTurn& turn) : turn_(turn) {}
    ~LeftAtScopeEnd() { turn_.Leave(); }
    LeftAtScopeEnd(const LeftAtScopeEnd&) = delete;
    LeftAtScopeEnd& operator=(const LeftAtScopeEnd&) = delete;

   private:
    TDocumentTurn& turn_;
  };

 private:
  std::shared_ptr<TDocumentGate> gate_;
  bool held_ = false;
};

}  // namespace tidewell
