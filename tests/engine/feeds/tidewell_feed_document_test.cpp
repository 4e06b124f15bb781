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

TEST(ParseXmlBodyTest, IsoLatinAndAsciiDocumentsAreReadAsWindows1252) {
  pugi::xml_document document;
  bool refused = false;
  ParseXmlBody("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\x93q\x94 \x96 \x80 \x81</a>", document, refused);
  EXPECT_STREQ(document.document_element().child_value(),
               "\xE2\x80\x9Cq\xE2\x80\x9D \xE2\x80\x93 \xE2\x82\xAC \xC2\x81");
  ParseXmlBody("<?xml version=\"1.0\" encoding=\"us-ascii\"?><a>\x85</a>", document, refused);
  EXPECT_STREQ(document.document_element().child_value(), "\xE2\x80\xA6");
  // As earlier versions read them, for the keys of their articles.
  ParseXmlBody("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\x93</a>", document, refused, false);
  EXPECT_STREQ(document.document_element().child_value(), "\xC2\x93");
}

TEST(AnswerCharsetTest, EveryMediaTypeCarriesItsCharset) {
  EXPECT_EQ(AnswerCharset("text/xml; charset=ISO-8859-1"), "ISO-8859-1");
  EXPECT_EQ(AnswerCharset("application/rss+xml;charset=\"utf-8\""), "utf-8");
  EXPECT_EQ(AnswerCharset("Application/Atom+XML; type=feed; Charset=windows-1251"), "windows-1251");
  EXPECT_EQ(AnswerCharset("application/xml"), "");
  EXPECT_EQ(AnswerCharset("text/x-opml; charset=windows-1251"), "windows-1251");
  EXPECT_EQ(AnswerCharset(""), "");
}

TEST(DecodeFeedBodyTest, TheAnswersCharsetOverridesTheDeclaration) {
  const std::string latin = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>caf\xE9 \x93</a>";
  EXPECT_EQ(DecodeFeedBody(latin, "iso-8859-1"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>caf\xC3\xA9 \xE2\x80\x9C</a>");
  const std::string utf8 = "<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xC3\xA9</a>";
  EXPECT_EQ(DecodeFeedBody(utf8, "utf-8"), "<?xml version='1.0' encoding='UTF-8'?><a>caf\xC3\xA9</a>");
  const std::string cyrillic = "<?xml version=\"1.0\"?><a>\xC4\xE0</a>";
  EXPECT_EQ(DecodeFeedBody(cyrillic, "windows-1251"), "<?xml version=\"1.0\"?><a>\xD0\x94\xD0\xB0</a>");
  // A byte-order mark outranks the charset.
  EXPECT_EQ(DecodeFeedBody("\xEF\xBB\xBF<a>\xC3\xA9</a>", "iso-8859-1"), "\xEF\xBB\xBF<a>\xC3\xA9</a>");
  EXPECT_EQ(DecodeFeedBody(std::string("\xFF\xFE<\0a\0/\0>\0", 10), "utf-8"), "<a/>");
  // A charset that names nothing leaves the declaration to decide.
  EXPECT_EQ(DecodeFeedBody(latin, "no-such-charset"), latin);
  EXPECT_EQ(DecodeFeedBody(latin, ""), latin);
}

TEST(DecodeFeedBodyTest, Utf16AndUtf32WithOrWithoutMarkBecomeUtf8) {
  const std::u16string text = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\u20AC</a>";
  const std::string expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xE2\x82\xAC</a>";
  std::string le, be, le32, be32;
  for (char16_t c : text) {
    le += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    be += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
    le32 += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8), '\0', '\0'};
    be32 += {'\0', '\0', static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
  }
  EXPECT_EQ(DecodeFeedBody(le, ""), expected);
  EXPECT_EQ(DecodeFeedBody(be, ""), expected);
  EXPECT_EQ(DecodeFeedBody("\xFF\xFE" + le, ""), expected);
  EXPECT_EQ(DecodeFeedBody(le32, ""), expected);
  EXPECT_EQ(DecodeFeedBody(std::string("\0\0\xFE\xFF", 4) + be32, ""), expected);
  EXPECT_EQ(DecodeFeedBody("<rss/>", ""), "<rss/>");
}

TEST(EscapeBareAmpersandsTest, OnlyAmpersandsThatStartNoReferenceAreEscaped) {
  EXPECT_EQ(EscapeBareAmpersands("<a href=\"?a=1&b=2\">x & y &amp; &#38; &#x26; &nbsp; &#; &1;</a>"),
            "<a href=\"?a=1&amp;b=2\">x &amp; y &amp; &#38; &#x26; &nbsp; &amp;#; &amp;1;</a>");
  const std::string literal = "<a><![CDATA[a & b]]><!-- c & d --><?pi e & f?></a>";
  EXPECT_EQ(EscapeBareAmpersands(literal), literal);
  EXPECT_EQ(EscapeBareAmpersands("<a>&"), "<a>&amp;");
}

TEST(AbsoluteXmlBaseTest, RelativeReferencesResolveByTheStandardRules) {
  EXPECT_EQ(AbsoluteXmlBase("http://example.org/blog/sub/", "/root.html"), "http://example.org/root.html");
  EXPECT_EQ(AbsoluteXmlBase("http://example.org/blog/sub/", "../x/"), "http://example.org/blog/x/");
  EXPECT_EQ(AbsoluteXmlBase("http://example.org/feed.xml", "http://cdn.example/a/"), "http://cdn.example/a/");
  EXPECT_EQ(AbsoluteXmlBase("", "blog/"), "");
  EXPECT_EQ(ResolveReference("http://example.org/feeds/main.xml", "media/ep1.mp3"),
            "http://example.org/feeds/media/ep1.mp3");
  EXPECT_EQ(ResolveReference("http://example.org/feeds/main.xml", "  "), "  ");
  EXPECT_EQ(FeedAddress("http://moved.example/rss", "http://old.example/rss"), "http://moved.example/rss");
  EXPECT_EQ(FeedAddress("", "http://old.example/rss"), "http://old.example/rss");
}

}  // namespace
}  // namespace tidewell
