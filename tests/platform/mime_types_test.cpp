// SPDX-License-Identifier: MIT
#include "platform/mime_types.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_folder.h"

namespace platform {
namespace {

TEST(MimeTypeTableTest, ReadsTheFirstListedExtensionUnlessAPreferredOneIsListed) {
  testing_support::TempFolder folder;
  std::ofstream(folder.File("mime.types")) << "# comment line\n"
                                              "application/x-thing\t\tthg thing\n"
                                              "audio/mpeg\t\t\tmpga mpega mp2 mp3\n"
                                              "video/mp4 mp4 m4v  # trailing comment\n"
                                              "application/no-extension\n";
  const MimeTypeTable table = MimeTypeTable::FromFile(folder.File("mime.types"));
  EXPECT_TRUE(table.ReadFromFile());
  EXPECT_EQ(table.ExtensionFor("application/x-thing"), ".thg");
  EXPECT_EQ(table.ExtensionFor("audio/mpeg"), ".mp3");
  EXPECT_EQ(table.ExtensionFor("video/mp4"), ".mp4");
  EXPECT_EQ(table.ExtensionFor("application/no-extension"), "");
}

TEST(MimeTypeTableTest, ComparesTypesIgnoringCaseAndSurroundingBlanks) {
  const MimeTypeTable table = MimeTypeTable::BuiltIn();
  EXPECT_EQ(table.ExtensionFor("  Audio/MPEG "), ".mp3");
  EXPECT_EQ(table.ExtensionFor(""), "");
  EXPECT_EQ(table.ExtensionFor("application/x-unknown-type"), "");
}

TEST(MimeTypeTableTest, MissingFileFallsBackToTheBuiltInTable) {
  testing_support::TempFolder folder;
  const MimeTypeTable table = MimeTypeTable::FromFile(folder.File("absent.types"));
  EXPECT_FALSE(table.ReadFromFile());
  EXPECT_EQ(table.ExtensionFor("audio/mpeg"), ".mp3");
  EXPECT_EQ(table.ExtensionFor("audio/x-m4a"), ".m4a");
  EXPECT_EQ(table.ExtensionFor("text/html"), ".html");
}

TEST(MimeTypeTableTest, BuiltInTableFillsTypesTheFileDoesNotList) {
  testing_support::TempFolder folder;
  std::ofstream(folder.File("mime.types")) << "text/html htm\n";
  const MimeTypeTable table = MimeTypeTable::FromFile(folder.File("mime.types"));
  EXPECT_EQ(table.ExtensionFor("text/html"), ".htm");
  EXPECT_EQ(table.ExtensionFor("audio/mpeg"), ".mp3");
}

TEST(MimeTypeTableTest, SystemTableKnowsCommonPodcastTypes) {
  const MimeTypeTable& table = MimeTypeTable::System();
  EXPECT_EQ(&table, &MimeTypeTable::System());
  EXPECT_EQ(table.ExtensionFor("audio/mpeg"), ".mp3");
  EXPECT_EQ(table.ExtensionFor("video/mp4"), ".mp4");
}

}  // namespace
}  // namespace platform
