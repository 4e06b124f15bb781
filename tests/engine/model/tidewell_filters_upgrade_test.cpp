// SPDX-License-Identifier: MIT
// Blob-text filters on a database that older versions made: the external
// text-search functions they declared are replaced when the schema is
// checked.
#include <gtest/gtest.h>

#include "filter_fixture.h"

namespace filter_testing {
namespace {

// The declarations older versions made, of a function module this system
// does not have.
void DeclareExternalTextSearchFunctions(testing_support::FirebirdTestDatabase& db) {
  const char* const functions[][2] = {{"F_UTF8BLOBSEARCH", "F_UTF8BlobSearch"},
                                      {"F_UTF8BlobSearchExt", "F_UTF8BlobSearchExt"},
                                      {"F_UTF8BlobEndsWith", "F_UTF8BlobEndsWith"}};
  for (const auto& function : functions) {
    db.Execute(std::string("drop function ") + function[0]);
    db.Execute(std::string("DECLARE EXTERNAL FUNCTION ") + function[0] +
               "\n  VARCHAR(1024),\n  BLOB\nRETURNS INTEGER BY VALUE\nENTRY_POINT '" + function[1] +
               "' MODULE_NAME 'Quenwick'");
  }
}

TEST(FilterUpgradeTest, BlobTextFiltersRunOnADatabaseThatDeclaredExternalFunctions) {
  testing_support::FirebirdTestDatabase db(kSchemaPageSize);
  CreateFilterSchema(db);
  SeedArticles(db);
  DeclareExternalTextSearchFunctions(db);
  TFilterWorkShop workShop(&db.Connection());
  auto contains = OneComparison(&workShop, 9, "articles.body", 4, {"APPLE"});
  EXPECT_THROW(SelectedIds(db, workShop, contains.get()), tidewell::EFirebirdError);

  CreateFilterSchema(db);
  EXPECT_EQ(db.QueryInt64("select count(*) from rdb$functions where rdb$module_name is not null"), 0);
  EXPECT_EQ(SelectedIds(db, workShop, contains.get()), (Ids{1}));
  auto endsWith = OneComparison(&workShop, 10, "articles.body", 4, {"e"});
  EXPECT_EQ(SelectedIds(db, workShop, endsWith.get()), (Ids{4, 5}));
  auto caseSensitive = OneComparison(&workShop, 12, "articles.body", 4, {"Cherries"});
  EXPECT_EQ(SelectedIds(db, workShop, caseSensitive.get()), (Ids{}));
}

}  // namespace
}  // namespace filter_testing
