// SPDX-License-Identifier: MIT
#include "engine/addresses/feed_address_claims.h"

#include <chrono>

namespace tidewell {

bool TFeedAddressClaims::TryClaim(const std::string& key, TOwner owner) {
  std::lock_guard guard(lock_);
  const auto [at, added] = claims_.emplace(key, owner);
  return added || at->second == owner;
}

bool TFeedAddressClaims::Holds(TOwner owner) const {
  std::lock_guard guard(lock_);
  for (const auto& [key, holder] : claims_)
    if (holder == owner) return true;
  return false;
}

void TFeedAddressClaims::WaitUntilFree(const std::string& key, const std::function<bool()>& stopping) {
  std::unique_lock guard(lock_);
  ++waiting_;
  while (claims_.count(key) != 0 && !(stopping && stopping()))
    released_.wait_for(guard, std::chrono::milliseconds(100));
  --waiting_;
}

void TFeedAddressClaims::Release(TOwner owner) {
  {
    std::lock_guard guard(lock_);
    bool held = false;
    for (auto at = claims_.begin(); at != claims_.end();) {
      if (at->second != owner) {
        ++at;
        continue;
      }
      at = claims_.erase(at);
      held = true;
    }
    if (!held) return;
    ++generation_;
  }
  released_.notify_all();
}

uint64_t TFeedAddressClaims::Generation() const {
  std::lock_guard guard(lock_);
  return generation_;
}

TFeedAddressClaim::TFeedAddressClaim(TFeedAddressClaims& claims, const std::string& key,
                                     TFeedAddressClaims::TOwner owner, const std::function<bool()>& stopping)
    : claims_(claims), owner_(owner) {
  while (!claims_.TryClaim(key, owner_) && !(stopping && stopping())) claims_.WaitUntilFree(key, stopping);
}

int TFeedAddressClaims::Waiting() const {
  std::lock_guard guard(lock_);
  return waiting_;
}

}  // namespace tidewell
