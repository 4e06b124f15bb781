// SPDX-License-Identifier: MIT
#include "engine/settings/tidewell_globvars.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tidewell {
namespace {

TEST(GlobalVarsTest, BuiltInValuesHoldFromTheStart) {
  ASSERT_NE(GlobalVars, nullptr);
  const TtidewellGlobalVars fresh;
  for (const TtidewellGlobalVars* vars : {static_cast<const TtidewellGlobalVars*>(GlobalVars), &fresh}) {
    EXPECT_EQ(vars->GetSizeLimit(), 5242880);
    EXPECT_TRUE(vars->GetSkipCustomFields());
    EXPECT_FALSE(vars->GetSkipCategoryKeywords());
    EXPECT_FALSE(vars->GetCommentFeedsEnabled());
    EXPECT_EQ(vars->GetCacheDirectory(), "");
    EXPECT_EQ(vars->GetSecondsSetting(), 0);
  }
  EXPECT_FALSE(fresh.GetDistinctSmartFeeds());
}

TEST(GlobalVarsTest, ReadersRunAlongsideTheOneWriter) {
  TtidewellGlobalVars vars;
  std::atomic<bool> done{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 5; ++i) {
    readers.emplace_back([&] {
      while (!done) {
        vars.GetDistinctSmartFeeds();
        if (vars.GetSizeLimit() != 5242880) ++wrong;
      }
    });
  }
  for (int i = 0; i < 1000; ++i) vars.SetDistinctSmartFeeds(i % 2 == 0);
  done = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_FALSE(vars.GetDistinctSmartFeeds());
}

}  // namespace
}  // namespace tidewell
