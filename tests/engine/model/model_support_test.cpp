// SPDX-License-Identifier: MIT
#include "engine/model/model_support.h"

#include <gtest/gtest.h>

namespace {

using namespace tidewell;

TEST(ModelSupportTest, PagingClauseOnlyForAPositiveCount) {
  EXPECT_EQ(model::PagingClause(5, 10), " FIRST(10) SKIP(5) ");
  EXPECT_EQ(model::PagingClause(5, 0), "");
  EXPECT_EQ(model::PagingClause(0, -1), "");
}

TEST(ModelSupportTest, InListSplitsAfterFifteenHundredValues) {
  EXPECT_EQ(model::InListCondition("id", {7}), "id in (7)");
  EXPECT_EQ(model::InListCondition("id", {1, 2, 3}), "id in (1,2,3)");
  const TDynIntArray limit(1500, 4);
  EXPECT_EQ(model::InListCondition("id", limit).find(" or "), std::string::npos);
  TDynIntArray over(1501, 4);
  over.back() = 9;
  const std::string text = model::InListCondition("id", over);
  EXPECT_EQ(text.substr(0, 10), "(id in (4,");
  EXPECT_EQ(text.substr(text.size() - 16), "4) or id in (9))");
}

TEST(ModelSupportTest, TagsAreStrippedAndWhiteSpaceTrimmed) {
  EXPECT_EQ(model::StripTagsAndTrim(u"  <b>bold</b> and <i>it</i>\t"), u"bold and it");
  EXPECT_EQ(model::StripTagsAndTrim(u"a < b"), u"a < b");
  EXPECT_EQ(model::StripTagsAndTrim(u"<br/>"), u"");
}

}  // namespace
