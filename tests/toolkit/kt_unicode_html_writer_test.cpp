// SPDX-License-Identifier: MIT
#include "toolkit/kt_unicode_html_writer.h"

#include <gtest/gtest.h>

#include "toolkit/kt_unicode_codecs.h"

namespace kt {
namespace {

std::string Text(TKtUnicodeHtmlWriter& writer, std::u16string_view text) {
  writer.BufPos = 0;
  writer.WriteText(text);
  writer.Flush();
  return writer.Bytes();
}

std::string Html(TKtUnicodeHtmlWriter& writer, std::u16string_view value, bool* unquoted = nullptr) {
  writer.BufPos = 0;
  const bool result = writer.WriteHtmlAttribValue(value);
  if (unquoted) *unquoted = result;
  return writer.Bytes();
}

TEST(KtUnicodeHtmlWriter, TextIsEscapedWithThePredefinedEntities) {
  TKtUnicodeHtmlWriter writer;
  EXPECT_EQ(Text(writer, u"a<b & \"c\" 'd'>"), "a&lt;b &amp; &quot;c&quot; 'd'&gt;");
  writer.PredefinedEntities = peApos | peNbsp;
  EXPECT_EQ(Text(writer, u"a<b & 'c'\u00a0"), "a<b & &apos;c&apos;&nbsp;");
  writer.PredefinedEntities = 0;
  EXPECT_EQ(Text(writer, u"a<b & \"c\""), "a<b & \"c\"");
}

TEST(KtUnicodeHtmlWriter, UnencodableCharactersBecomeReferences) {
  TKtUnicodeHtmlWriter writer;
  EXPECT_EQ(Text(writer, u"\u20ac\u00e9\u0001"), "&#x20AC;\xe9\x01");
  EXPECT_EQ(Text(writer, u"\U0001F600"), "&#x1F600;");
  EXPECT_EQ(Text(writer, u"a\ufffdb"), "a?b");
  writer.ReplacementChar = u'*';
  EXPECT_EQ(Text(writer, u"\ufffd"), "*");
  writer.SetWriteMethods({nullptr, Write_UTF_8, nullptr, nullptr});
  EXPECT_EQ(Text(writer, u"\u20ac\U0001F600"), "\xe2\x82\xac\xf0\x9f\x98\x80");
}

TEST(KtUnicodeHtmlWriter, AttributeValuesAreQuotedByMode) {
  TKtUnicodeHtmlWriter writer;
  bool unquoted = false;
  EXPECT_EQ(Html(writer, u"x", &unquoted), "=x");
  EXPECT_TRUE(unquoted);
  EXPECT_EQ(Html(writer, u"a&b", &unquoted), "=\"a&amp;b\"");
  EXPECT_FALSE(unquoted);
  EXPECT_EQ(Html(writer, u"&{x}"), "=\"&{x}\"");
  EXPECT_EQ(Html(writer, u"\"x\"'"), "='\"x\"&apos;'");
  EXPECT_EQ(Html(writer, u"<\u20ac>"), "=\"<&#x20AC;>\"");
  writer.QuoteHtmlTags = TKtQuoteTags::qtAlways;
  EXPECT_EQ(Html(writer, u"a&b"), "=\"a&amp;b\"");
  writer.QuoteHtmlTags = TKtQuoteTags::qtWhiteSpace;
  EXPECT_EQ(Html(writer, u"a/b?c"), "=a/b?c");
  EXPECT_EQ(Html(writer, u"a b"), "=\"a b\"");
  writer.BufPos = 0;
  EXPECT_TRUE(writer.WriteCustomAttribValue(u"x"));
  EXPECT_FALSE(writer.WriteSsiAttribValue(u"&{"));
  EXPECT_EQ(writer.Bytes(), "=x=\"&amp;{\"");
}

TEST(KtUnicodeHtmlWriter, EmptyValuesAreWrittenQuotedOrNotAtAll) {
  TKtUnicodeHtmlWriter writer;
  EXPECT_EQ(Html(writer, u""), "");
  writer.EmptyHtmlAttribValues = true;
  for (TKtQuoteTags mode : {TKtQuoteTags::qtAlways, TKtQuoteTags::qtSpecialChars, TKtQuoteTags::qtWhiteSpace}) {
    writer.QuoteHtmlTags = mode;
    bool unquoted = true;
    EXPECT_EQ(Html(writer, u"", &unquoted), "=\"\"");
    EXPECT_FALSE(unquoted);
  }
}

}  // namespace
}  // namespace kt
