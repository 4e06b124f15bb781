// SPDX-License-Identifier: MIT
#include "engine/db/sql_text.h"

#include <gtest/gtest.h>

namespace {

using tidewell::db::SqlText;
using tidewell::db::SubstringCutLengths;

TEST(SqlTextTest, JoinsLinesAndCountsChanges) {
  SqlText sql;
  EXPECT_TRUE(sql.IsEmpty());
  const uint64_t before = sql.Version();
  sql.Add("select id");
  sql.Add("from feeds");
  EXPECT_EQ(sql.Text(), "select id\nfrom feeds");
  EXPECT_EQ(sql.Count(), 2);
  EXPECT_NE(sql.Version(), before);
  sql.Clear();
  EXPECT_EQ(sql.Text(), "");
}

TEST(SqlTextTest, FindsTheCutLengthOfEachSubstringParameter) {
  struct Case {
    const char* sql;
    std::vector<int32_t> lengths;
  };
  const Case cases[] = {
      {"values(?,substring(? from 1 for 512),?)", {0, 512, 0}},
      {"values(SUBSTRING( ?  FROM 1 FOR 3000 ))", {3000}},
      {"values(substring(? from 2 for 5))", {0}},
      {"values(mysubstring(? from 1 for 5))", {0}},
      {"where a='?' and b=? -- ?\n and c=? /* ? */", {0, 0}},
      {"values(substring(? from 1 for x))", {0}},
  };
  for (const Case& c : cases) EXPECT_EQ(SubstringCutLengths(c.sql), c.lengths) << c.sql;
}

}  // namespace
