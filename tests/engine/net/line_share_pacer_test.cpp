// SPDX-License-Identifier: MIT
#include "engine/net/line_share_pacer.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

using Clock = TLineSharePacer::Clock;
using std::chrono::milliseconds;

// A pause per received block halved a fast line: a lone transfer never
// pauses, and beside others it pauses at most once per 100 ms of transfer.
TEST(LineSharePacer, PausesOnlyBesideOtherTransfersAndAtMostOncePer100Ms) {
  TLineSharePacer pacer;
  EXPECT_EQ(TLineSharePacer::RunningTransfers(), 1);
  const Clock::time_point start = Clock::now();
  for (int ms = 0; ms <= 1000; ms += 1) EXPECT_FALSE(pacer.PauseDue(start + milliseconds(ms), 1)) << ms;

  int pauses = 0;
  Clock::time_point pausedAt{};
  for (int ms = 1000; ms <= 2000; ms += 1) {
    if (!pacer.PauseDue(start + milliseconds(ms), 2)) continue;
    if (pauses > 0) {
      EXPECT_GE(start + milliseconds(ms) - pausedAt, TLineSharePacer::kTransferPerPause + TLineSharePacer::kPause);
    }
    pausedAt = start + milliseconds(ms);
    ++pauses;
  }
  EXPECT_GE(pauses, 9);
  EXPECT_LE(pauses, 10);
  {
    TLineSharePacer other;
    EXPECT_EQ(TLineSharePacer::RunningTransfers(), 2);
  }
  EXPECT_EQ(TLineSharePacer::RunningTransfers(), 1);
}

}  // namespace
}  // namespace tidewell
