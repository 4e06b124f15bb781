// SPDX-License-Identifier: MIT
// The one global setting that a configuration load changes.
#include <gtest/gtest.h>

#include "engine/settings/configuration.h"
#include "engine/settings/settings_fixture.h"
#include "engine/settings/tidewell_globvars.h"

namespace tidewell {
namespace {

class DistinctSmartFeedsTest : public SettingsFixture {
 protected:
  void SetUp() override {
    saved_ = GlobalVars;
    GlobalVars = &vars_;
  }
  void TearDown() override { GlobalVars = saved_; }

  bool LoadedFlag(const std::string& value_lines) {
    WriteKey(UserKeyFile(), value_lines);
    TConfiguration config(Bases());
    config.LoadFromKeys(kApplicationLines);
    return vars_.GetDistinctSmartFeeds();
  }

  TtidewellGlobalVars vars_;
  TtidewellGlobalVars* saved_ = nullptr;
};

TEST_F(DistinctSmartFeedsTest, OneOrTrueInAnyCaseWithBlanksTurnsTheFlagOnAtLoad) {
  for (const char* text : {"1", "true", " TRUE ", "\tTrue"}) {
    vars_.SetDistinctSmartFeeds(false);
    EXPECT_TRUE(LoadedFlag(std::string("\"distinct_smartfeeds\"=\"") + text + "\"\n")) << text;
  }
}

TEST_F(DistinctSmartFeedsTest, AnyOtherTextOrAMissingValueTurnsItOff) {
  for (const char* lines : {"\"distinct_smartfeeds\"=\"yes\"\n", "\"distinct_smartfeeds\"=\"0\"\n",
                            "\"distinct_smartfeeds\"=dword:00000001\n", ""}) {
    vars_.SetDistinctSmartFeeds(true);
    EXPECT_FALSE(LoadedFlag(lines)) << lines;
  }
}

TEST_F(DistinctSmartFeedsTest, LoadingWithoutGlobalSettingsSkipsTheFlag) {
  GlobalVars = nullptr;
  WriteKey(UserKeyFile(), "\"distinct_smartfeeds\"=\"1\"\n\"proxyserver\"=\"p\"\n");
  TConfiguration config(Bases());
  config.LoadFromKeys(kApplicationLines);
  EXPECT_EQ(config.ProxyServer(), "p");
  EXPECT_FALSE(vars_.GetDistinctSmartFeeds());
}

}  // namespace
}  // namespace tidewell
