// SPDX-License-Identifier: MIT
// The job property object, the 16-bit file stream, the OpenSearch URL
// builder and the no-proxy list.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/net/file_stream_ext.h"
#include "engine/net/open_search_file_parser.h"
#include "engine/net/proxy_settings.h"
#include "engine/net/tidewell_dummy_class.h"
#include "engine/net/tidewell_trd_job_prop_class.h"
#include "support/temp_folder.h"

namespace tidewell {
namespace {

using kt::Utf8ToWide;

TEST(TtidewellTrdJobPropClass, MakesTheStreamThatTheJobKindNeeds) {
  testing_support::TempFolder folder;
  TtidewellTrdJobPropClass none("http://h/", nullptr, u"", TQueueJobTypes::CNoJob);
  EXPECT_EQ(none.Stream(), nullptr);
  EXPECT_EQ(none.httpCode, 0);
  for (TQueueJobTypes kind : {TQueueJobTypes::CfeedOperation, TQueueJobTypes::CgetArticle, TQueueJobTypes::CgetOpmlData}) {
    TtidewellTrdJobPropClass memory("http://h/", nullptr, u"", kind);
    EXPECT_NE(dynamic_cast<kt::TMemoryStream*>(memory.Stream()), nullptr) << EnumName(kind);
  }
  const std::string path = folder.File("enclosure.tmp");
  {
    TtidewellTrdJobPropClass enclosure("http://h/e.mp3", nullptr, Utf8ToWide(path), TQueueJobTypes::CgetEnclosure);
    ASSERT_NE(enclosure.Stream(), nullptr);
    enclosure.Stream()->WriteBuffer("abc", 3);
  }
  EXPECT_EQ(std::filesystem::file_size(path), 3u);
}

TEST(TtidewellTrdJobPropClass, LeavesTheCallersRawDataStreamAlive) {
  kt::TMemoryStream callers;
  {
    TtidewellTrdJobPropClass raw("http://h/", &callers, u"", TQueueJobTypes::CgetRawData);
    EXPECT_TRUE(raw.OwnsNoStream());
    EXPECT_EQ(raw.Stream(), &callers);
    raw.Stream()->WriteBuffer("xyz", 3);
  }
  EXPECT_EQ(callers.ToString(), "xyz");
}

TEST(TtidewellTrdJobPropClass, FindsHeadersWithoutRegardToCase) {
  TtidewellTrdJobPropClass result("http://h/", nullptr, u"", TQueueJobTypes::CNoJob);
  result.headers = {"Content-Type: text/xml", "ETag: \"a\""};
  EXPECT_EQ(result.Header("etag"), "\"a\"");
  EXPECT_EQ(result.Header("Server"), "");
}

TEST(TDummyClass, CarriesANumberAndAText) {
  TDummyClass holder(42, u"http://h/e.mp3");
  EXPECT_EQ(holder.number, 42);
  EXPECT_EQ(holder.text, u"http://h/e.mp3");
}

TEST(TFileStreamExt, OpensAnExistingFileAndCreatesANewOne) {
  testing_support::TempFolder folder;
  const kt::WideString name = Utf8ToWide(folder.File("caf\xC3\xA9.bin"));
  { TFileStreamExt created(name, TFileStreamExt::kCreate); created.WriteBuffer("1234", 4); }
  TFileStreamExt opened(name, 0);
  EXPECT_EQ(opened.Size(), 4);
}

TEST(TFileStreamExt, RaisesTheOpenMessageWithTheSystemsReason) {
  testing_support::TempFolder folder;
  const std::string path = folder.File("missing.bin");
  try {
    TFileStreamExt missing(Utf8ToWide(path), 0);
    FAIL() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Can't open file " + path + " \r\n" + std::strerror(ENOENT));
  }
  EXPECT_THROW(TFileStreamExt(Utf8ToWide(folder.File("no/such/folder.bin")), TFileStreamExt::kCreate), EFCreateError);
}

TEST(TOpenSearchFileParser, ReplacesEveryPlaceholderInAnyCase) {
  const std::string url = TOpenSearchFileParser::BuildUrl(
      "http://s/?q={searchTerms}&again={SEARCHTERMS}&p={startPage}&i={startIndex}&c={count}&l={language}"
      "&ie={inputEncoding}&oe={outputEncoding}",
      u"caf\u00E9 au lait", 1, 2, 1000, "*", "UTF-8", "UTF-8");
  EXPECT_EQ(url, "http://s/?q=caf%C3%A9%20au%20lait&again=caf%C3%A9%20au%20lait&p=1&i=2&c=1000&l=*&ie=UTF-8&oe=UTF-8");
}

TEST(IsProxyBypassed, MatchesEntriesByTheirStars) {
  // A leading star matches the end of the scheme-less, lower-cased URL.
  EXPECT_TRUE(IsProxyBypassed("http://news.Example.com", " *example.com ; other"));
  EXPECT_TRUE(IsProxyBypassed("https://example.com.example.com", "*example.com"));
  EXPECT_FALSE(IsProxyBypassed("http://news.example.com/feed.xml", "*example.com"));
  // A trailing star matches only the beginning.
  EXPECT_TRUE(IsProxyBypassed("http://intranet/feed", "http://intranet*"));
  EXPECT_FALSE(IsProxyBypassed("http://www.intranet/feed", "intranet*"));
  // Any other entry matches anywhere; empty entries and lists match nothing.
  EXPECT_TRUE(IsProxyBypassed("http://a.local.net/x", "local"));
  EXPECT_FALSE(IsProxyBypassed("http://a.b/x", ""));
  EXPECT_FALSE(IsProxyBypassed("http://a.b/x", " ; ;"));
}

}  // namespace
}  // namespace tidewell
