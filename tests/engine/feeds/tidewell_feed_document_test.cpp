// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_document.h"

#include <gtest/gtest.h>

#include <string>

#include "toolkit/exception.h"

namespace tidewell {
namespace {

const std::string kProlog = "<?xml version=\"1.0\" ?>";

std::string Utf16Le(const std::string& ascii) {
  std::string bytes;
  for (char c : ascii) bytes += std::string{c, '\0'};
  return bytes;
}

TEST(FixXmlPrologTest, ShortBodiesAndBodiesWithPrologStayAsTheyAre) {
  EXPECT_EQ(FixXmlProlog("<a>"), "<a>");
  const std::string withProlog = "<?xml version=\"1.0\"?><rss/>";
  EXPECT_EQ(FixXmlProlog(withProlog), withProlog);
}

TEST(FixXmlPrologTest, MissingPrologIsPutInFrontAndAfterAByteOrderMark) {
  EXPECT_EQ(FixXmlProlog("<rss><channel/></rss>"), kProlog + "<rss><channel/></rss>");
  const std::string marked = std::string("\xFF\xFE", 2) + Utf16Le("<rss/>");
  EXPECT_EQ(FixXmlProlog(marked), std::string("\xFF\xFE", 2) + Utf16Le(kProlog) + Utf16Le("<rss/>"));
}

TEST(FixXmlPrologTest, BigEndianTextIsRepairedInItsOwnByteOrder) {
  std::string utf16be;
  for (char c : std::string("<rss/>")) utf16be += std::string{'\0', c};
  std::string prolog;
  for (char c : kProlog) prolog += std::string{'\0', c};
  const std::string mark("\xFE\xFF", 2);
  EXPECT_EQ(FixXmlProlog(mark + utf16be), mark + prolog + utf16be);
  pugi::xml_document document;
  bool refused = false;
  ParseXmlBody(FixXmlProlog(mark + utf16be), document, refused);
  EXPECT_STREQ(document.document_element().name(), "rss");
}

TEST(FixXmlPrologTest, EuroBytesOfIsoLatinDocumentsBecomeReferencesOnlyWithDoubleQuotes) {
  const std::string doubleQuoted = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><t>5 \x80</t>";
  EXPECT_EQ(FixXmlProlog(doubleQuoted), "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><t>5 &#8364;</t>");
  const std::string singleQuoted = "<?xml version='1.0' encoding='ISO-8859-1'?><t>5 \x80</t>";
  EXPECT_EQ(FixXmlProlog(singleQuoted), singleQuoted);
}

TEST(FixBareCarriageReturnsTest, LoneCarriageReturnsBecomeLineFeeds) {
  std::string body = "a\rb\r\nc\r";
  FixBareCarriageReturns(body);
  EXPECT_EQ(body, "a\nb\r\nc\n");
  std::string empty;
  FixBareCarriageReturns(empty);
  EXPECT_EQ(empty, "");
}

TEST(ResolveXmlBaseTest, OnlyAbsoluteBasesWithHostCount) {
  EXPECT_EQ(ResolveXmlBase("http://reef.example/blog/index.html"), "http://reef.example/blog/");
  EXPECT_EQ(ResolveXmlBase("http://reef.example"), "http://reef.example/");
  EXPECT_EQ(ResolveXmlBase("blog/"), "");
  EXPECT_EQ(ResolveXmlBase("."), "");
}

TEST(ParseXmlBodyTest, EncodingsTheParserCannotReadAskForReencoding) {
  pugi::xml_document document;
  bool refused = false;
  EXPECT_THROW(ParseXmlBody("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x93</a>", document, refused),
               kt::Exception);
  EXPECT_TRUE(refused);
  EXPECT_THROW(ParseXmlBody("<?xml version=\"1.0\"?><a><b></a>", document, refused), kt::Exception);
  EXPECT_FALSE(refused);
  ParseXmlBody("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>", document, refused);
  EXPECT_STREQ(document.document_element().child_value(), "caf\xC3\xA9");
}

}  // namespace
}  // namespace tidewell
