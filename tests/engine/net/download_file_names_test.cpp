// SPDX-License-Identifier: MIT
// The enclosure file-name rules of the download: usable extensions, names
// from URLs and headers, safe, temporary and unique names, and the move.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "engine/net/download_file_names.h"
#include "support/temp_folder.h"

namespace tidewell::download_names {
namespace {

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

TEST(DownloadFileNames, UsableExtensionsRefuseScriptsAndTemporaryFiles) {
  for (const char* name : {"a.mp3", "b.M4A", "c.ogg"}) EXPECT_TRUE(IsUsableFileExtension(name)) << name;
  for (const char* name : {"get.php", "x.PHP3", "y.asp", "z.aspx", "w.pl", "v.tmp", "noext", "dot.", "dir.d/file"}) {
    EXPECT_FALSE(IsUsableFileExtension(name)) << name;
  }
}

TEST(DownloadFileNames, UrlDocumentReplacesCharactersThatCannotStandInAName) {
  EXPECT_EQ(UrlDocumentToFileName("http://h/media/ep%2012.mp3?x=1#t"), "ep%2012.mp3");
  EXPECT_EQ(UrlDocumentToFileName("http://h/a:b*c.mp3"), "a_b_c.mp3");
  EXPECT_EQ(UrlDocumentToFileName("http://h"), "");
}

TEST(DownloadFileNames, ContentDispositionNameAsTheHeaderGivesIt) {
  EXPECT_EQ(ExtractContentDispositionFileName("attachment; filename=a.mp3"), "a.mp3");
  EXPECT_EQ(ExtractContentDispositionFileName("attachment; filename=\"a.mp3\"; size=3"), "a.mp3");
  EXPECT_EQ(ExtractContentDispositionFileName("inline"), "");
  EXPECT_EQ(LastPathComponent("../../x.mp3"), "x.mp3");
  EXPECT_EQ(LastPathComponent("..\\x.mp3"), "x.mp3");
}

TEST(DownloadFileNames, SafeNamesStayInTheirFolder) {
  EXPECT_EQ(SafeEnclosureFileName(".."), "download");
  EXPECT_EQ(SafeEnclosureFileName(" . "), "download");
  EXPECT_EQ(SafeEnclosureFileName(""), "download");
  EXPECT_EQ(SafeEnclosureFileName("a/b\\c.mp3"), "a_b_c.mp3");
  const std::string longName = SafeEnclosureFileName(std::string(300, 'n') + ".mp3");
  EXPECT_EQ(longName.size(), 255u);
  EXPECT_EQ(longName.substr(251), ".mp3");
}

TEST(DownloadFileNames, ContentTypesGiveTheirExtension) {
  EXPECT_EQ(GetExtensionForContentType("audio/mpeg"), ".mp3");
  EXPECT_EQ(GetExtensionForContentType("Video/MP4; codecs=x"), ".mp4");
  EXPECT_EQ(GetExtensionForContentType(" "), "");
  EXPECT_EQ(GetExtensionForContentType("application/x-no-such-type"), "");
}

TEST(DownloadFileNames, TemporaryNamesDifferWithinOneSecond) {
  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) names.insert(MakeTempDownloadFileName());
  EXPECT_EQ(names.size(), 200u);
  const std::string name = *names.begin();
  EXPECT_EQ(name.rfind("download", 0), 0u);
  EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
}

TEST(DownloadFileNames, UniqueNamesNumberTakenOnes) {
  testing_support::TempFolder folder;
  EXPECT_EQ(MakeUniqueFileName(folder.File("ep.mp3")), folder.File("ep.mp3"));
  Touch(folder.File("ep.mp3"));
  EXPECT_EQ(MakeUniqueFileName(folder.File("ep.mp3")), folder.File("ep(1).mp3"));
  Touch(folder.File("ep(1).mp3"));
  EXPECT_EQ(MakeUniqueFileName(folder.File("ep.mp3")), folder.File("ep(2).mp3"));
  Touch(folder.File("ep"));
  EXPECT_EQ(MakeUniqueFileName(folder.File("ep")), folder.File("ep(1)"));
}

TEST(DownloadFileNames, MoveNeverReplacesAFile) {
  testing_support::TempFolder folder;
  Touch(folder.File("a.tmp"));
  Touch(folder.File("taken.mp3"));
  EXPECT_EQ(MoveFileWriteThrough(folder.File("a.tmp"), folder.File("taken.mp3")), EEXIST);
  EXPECT_EQ(MoveFileWriteThrough(folder.File("a.tmp"), folder.File("free.mp3")), 0);
  EXPECT_TRUE(std::filesystem::exists(folder.File("free.mp3")));
  EXPECT_FALSE(std::filesystem::exists(folder.File("a.tmp")));
  EXPECT_EQ(MoveFileWriteThrough(folder.File("gone.tmp"), folder.File("x.mp3")), ENOENT);
}

TEST(DownloadFileNames, RelativeUrlsResolveAgainstTheirBase) {
  EXPECT_EQ(ResolveUrl("http://h/feeds/rss.xml", "ep.mp3"), "http://h/feeds/ep.mp3");
  EXPECT_EQ(ResolveUrl("http://h/feeds/rss.xml", "/ep.mp3"), "http://h/ep.mp3");
  EXPECT_EQ(ResolveUrl("http://h/a/b", "http://other/x"), "http://other/x");
}

}  // namespace
}  // namespace tidewell::download_names
