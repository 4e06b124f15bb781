// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_xml.h"

#include <gtest/gtest.h>

#include "engine/feeds/tidewell_feed_store.h"
#include "engine/model/new_custom_tags_class.h"
#include "engine/tidewell_utilities.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

pugi::xml_node Parse(pugi::xml_document& document, const char* xml) {
  EXPECT_TRUE(document.load_string(xml));
  return document.document_element();
}

TEST(MakeMD5KeyTest, HashesTheUtf16CodeUnitsOfBothTextsJoined) {
  EXPECT_EQ(MakeMD5Key(u"", u""), "MD5-D41D8CD98F00B204E9800998ECF8427E");
  // "ab" as UTF-16 little-endian: 61 00 62 00.
  EXPECT_EQ(MakeMD5Key(u"a", u"b"), "MD5-" + BytesMD5Hex(std::string("a\0b\0", 4)));
  EXPECT_EQ(MakeMD5Key(u"a", u"b"), MakeMD5Key(u"ab", u""));
}

TEST(NodeToMarkupTest, InlineMarkupKeepsTheSpaceBetweenWordsAndElements) {
  pugi::xml_document document;
  pugi::xml_node root = Parse(document, "<d>  Hello  <b class=\"x\">big   world</b>  <![CDATA[  raw <i>  ]]></d>");
  EXPECT_EQ(NodeToMarkup(root, false, false, {}), u"Hello  <b class=\"x\">big   world</b>  raw <i>");
  EXPECT_EQ(NodeToMarkup(root, false, true, {}), u"Hello <b class=\"x\">big world</b> raw <i>");
  EXPECT_EQ(NodeToMarkup(root, true, false, {}), u"  Hello  <b class=\"x\">big   world</b>  raw <i>  ");
  // Keys are still made of what earlier versions wrote.
  EXPECT_EQ(LegacyKeyMarkup(root, false, false, {}), u"Hello<b class=\"x\">big   world</b>raw <i>");
  EXPECT_EQ(LegacyKeyMarkup(root, false, true, {}), u"Hello<b class=\"x\">big world</b>raw <i>");
  EXPECT_EQ(LegacyKeyMarkup(root, true, false, {}), u"  Hello  <b class=\"x\">big   world</b>raw <i>");
}

TEST(NodeToMarkupTest, TextOfInlineMarkupStaysTextWhileEscapedHtmlStaysHtml) {
  pugi::xml_document document;
  pugi::xml_node root = Parse(document,
                              "<d>a &lt;script&gt;x&lt;/script&gt; &amp; <a href=\"/p?a=1&amp;b=&quot;&lt;\">t</a></d>");
  EXPECT_EQ(NodeToMarkup(root, false, false, {}),
            u"a &lt;script&gt;x&lt;/script&gt; &amp; <a href=\"/p?a=1&amp;b=&quot;&lt;\">t</a>");
  pugi::xml_document escaped;
  EXPECT_EQ(NodeToMarkup(Parse(escaped, "<d> &lt;p&gt;Hi &amp; bye&lt;/p&gt; </d>"), false, false, {}),
            u"<p>Hi & bye</p>");
}

TEST(NodeToMarkupTest, RaisesTheStopExceptionWhenStopping) {
  pugi::xml_document document;
  pugi::xml_node root = Parse(document, "<d>text</d>");
  EXPECT_THROW(NodeToMarkup(root, false, false, [] { return true; }), kt::EAbort);
}

TEST(FeedXmlTest, ChildLookupIgnoresCaseAndCustomTagsKeepAttributes) {
  pugi::xml_document document;
  pugi::xml_node root = Parse(document, "<item><media:Rating scheme=\"urn:simple\">adult</media:Rating></item>");
  EXPECT_TRUE(FindChildElement(root, "MEDIA:RATING", {}));
  EXPECT_FALSE(FindChildElement(root, "RATING", {}));
  TNewCustomTagsClass tags;
  AddCustomTag(root.first_child(), tags, 42, false, {});
  ASSERT_EQ(tags.Count(), 1);
  EXPECT_EQ(tags.GetItem(0)->OwnerId, 42);
  EXPECT_EQ(tags.GetItem(0)->Children().Count(), 1);
}

TEST(FeedXmlTest, RightToLeftLanguagesAndCommentElements) {
  EXPECT_TRUE(IsRtlLanguage(" ar "));
  EXPECT_TRUE(IsRtlLanguage("he"));
  EXPECT_FALSE(IsRtlLanguage("ar-SA"));
  EXPECT_TRUE(IsCommentRssElement("wfw:commentRss"));
  EXPECT_FALSE(IsCommentRssElement("comments"));
}

TEST(ExtractHtmlLinksTest, HrefValuesAreMadeAbsoluteAgainstTheFolderOfTheBase) {
  TArticleLinkPairs pairs;
  ExtractHtmlLinks("http://site.example/news/page.html",
                   u"<p><A HREF=\"/x\">x</A> <a href=\"y.html\">y</a> <a href=\"javascript:go()\">no</a>"
                   u"<a href=\"http://other.example/z\">z</a><a name=\"n\">n</a></p>",
                   7, pairs, {});
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0].url, u"http://site.example/news/x");
  EXPECT_EQ(pairs[1].url, u"http://site.example/news/y.html");
  EXPECT_EQ(pairs[2].url, u"http://other.example/z");
  EXPECT_EQ(pairs[2].articleId, 7);
}

TEST(UsableImageUrlTest, KeepsOnlyHttpUrlsOfTenTo255Characters) {
  EXPECT_EQ(UsableImageUrl("http://a/"), "");  // 9 characters
  EXPECT_EQ(UsableImageUrl(" http://a/b "), "http://a/b");
  EXPECT_EQ(UsableImageUrl("ftp://host/logo.png"), "");
  EXPECT_EQ(UsableImageUrl("http://h/" + std::string(247, 'a')), "");
}

}  // namespace
}  // namespace tidewell
