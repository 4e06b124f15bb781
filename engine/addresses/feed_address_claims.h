// SPDX-License-Identifier: MIT
// One address, one feed row, whoever files it: a transaction that is about
// to store a feed row for an address (a list's merge, AddFeed, a feed that
// moved) claims the address's key (FeedAddressKey) until it has committed
// or rolled back. Another that wants the same key waits for it and then
// finds the row, instead of looking in its own transaction, where the first
// one's row cannot be seen yet, and storing a second.
//
// Who waits must hold no claim meanwhile (commit first): then no two wait
// for each other. A claimer must not hand anything over to the main thread
// while it holds claims, since the main thread may be waiting here (AddFeed).
//
// Threads: any; every member is safe to call concurrently.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tidewell {

class TFeedAddressClaims {
 public:
  // Whoever holds claims: the claimer's transaction, for instance.
  using TOwner = const void*;

  // Claims the key for owner; false while another owner holds it. An owner
  // may claim a key it holds again.
  bool TryClaim(const std::string& key, TOwner owner);
  // Whether owner holds any claim.
  bool Holds(TOwner owner) const;
  // Returns once no owner holds the key, or when stopping() says so (asked
  // every 100 ms).
  void WaitUntilFree(const std::string& key, const std::function<bool()>& stopping);
  // Ends every claim of owner, after its transaction committed or rolled
  // back; wakes who waits for them.
  void Release(TOwner owner);
  // Counts the releases: a copy of the feed table read before the count
  // last changed may lack rows committed since.
  uint64_t Generation() const;
  // How many wait in WaitUntilFree now (tests force their interleavings
  // with it).
  int Waiting() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable released_;
  std::unordered_map<std::string, TOwner> claims_;
  uint64_t generation_ = 0;
  int waiting_ = 0;
};

// The claim of one key for owner, from construction (waiting while another
// owner holds the key) to destruction, which ends every claim of owner.
class TFeedAddressClaim {
 public:
  TFeedAddressClaim(TFeedAddressClaims& claims, const std::string& key, TFeedAddressClaims::TOwner owner,
                    const std::function<bool()>& stopping = {});
  ~TFeedAddressClaim() { claims_.Release(owner_); }
  TFeedAddressClaim(const TFeedAddressClaim&) = delete;
  TFeedAddressClaim& operator=(const TFeedAddressClaim&) = delete;

 private:
  TFeedAddressClaims& claims_;
  TFeedAddressClaims::TOwner owner_;
};

}  // namespace tidewell
