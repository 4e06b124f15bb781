// SPDX-License-Identifier: MIT
// Workers run at a lower priority than the main thread, so the window stays
// responsive while they parse and store.
#include <sys/resource.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "platform/system.h"
#include "tests/engine/feeds/feed_worker_fixture.h"

namespace tidewell::feed_worker_testing {
namespace {

int NiceOf(uint32_t thread) {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
  EXPECT_EQ(errno, 0) << "thread " << thread;
  return nice;
}

class FeedWorkerPriority : public FeedWorkerTest {};

TEST_F(FeedWorkerPriority, StartedWorkerHasAHigherNiceValueThanTheMainThread) {
  const int mainNice = NiceOf(platform::CurrentThreadId());
  if (mainNice >= 19) GTEST_SKIP() << "the main thread already runs at the lowest priority";
  int workerNice = mainNice;
  uint32_t workerThread = 0;
  StartWorker([&](TtidewellWorkerHandlers& h) {
    h.OnStartWorking = [&](uint32_t thread, int32_t, const std::string&, int32_t, TQueueJobTypes) {
      workerThread = thread;
      workerNice = NiceOf(thread);
    };
  });
  worker_->AddFeedJob(db_.InsertFeed(" ARCHIVE "), false);
  ASSERT_TRUE(WaitUntil([&] { return events_.stops.size() == 1; }));
  ASSERT_NE(workerThread, platform::CurrentThreadId());
  EXPECT_GT(workerNice, mainNice);
  EXPECT_EQ(NiceOf(platform::CurrentThreadId()), mainNice) << "only the worker's own thread is lowered";
}

}  // namespace
}  // namespace tidewell::feed_worker_testing
