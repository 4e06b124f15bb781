// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_names.h"

#include <gtest/gtest.h>

#include "kt_html_test_support.h"

namespace kt {
namespace {

TEST(KtHtmlNames, ElementNamesIgnoreCase) {
  testing_html::RegisterNames();
  EXPECT_EQ(HtmlTagID(u"img"), 58u);
  EXPECT_EQ(HtmlTagID(u"Img"), 58u);
  EXPECT_EQ(HtmlTagID(u"IMG"), 58u);
  EXPECT_EQ(HtmlTagID(u"A"), 1u);
  EXPECT_EQ(HtmlTagID(u"var"), 108u);
  EXPECT_EQ(HtmlTagID(u"foo"), 0u);
  EXPECT_EQ(HtmlTagID(u""), 0u);
}

TEST(KtHtmlNames, AttributeNamesIgnoreCaseAndEncodingHasItsId) {
  testing_html::RegisterNames();
  EXPECT_EQ(HtmlAttribID(u"HTTP-EQUIV"), 55u);
  EXPECT_EQ(HtmlAttribID(u"abbr"), 1u);
  EXPECT_EQ(HtmlAttribID(u"width"), 130u);
  EXPECT_EQ(HtmlAttribID(u"encoding"), 41u);
  EXPECT_EQ(HtmlAttribID(u"enctype"), 42u);
  EXPECT_EQ(HtmlAttribID(u"data-x"), 0u);
}

TEST(KtHtmlNames, RegisteringAgainKeepsTheIds) {
  testing_html::RegisterNames();
  RegisterHtmlTagNames();
  RegisterHtmlAttribNames();
  EXPECT_EQ(HtmlTagID(u"title"), 103u);
  EXPECT_EQ(HtmlAttribID(u"type"), 120u);
  RegisterHtmlTag(u"blink", 200);
  EXPECT_EQ(HtmlTagID(u"BLINK"), 200u);
  RegisterHtmlTag(u"blink", 201);
  EXPECT_EQ(HtmlTagID(u"blink"), 201u);
}

TEST(KtHtmlNames, EntityTableHoldsTheHtml4EntitiesCaseSensitively) {
  auto text = [](const WideString& name) {
    const WideString* found = FindHtmlEntity(name.data(), static_cast<int32_t>(name.size()));
    return found ? *found : WideString(u"<none>");
  };
  EXPECT_EQ(text(u"amp"), u"&");
  EXPECT_EQ(text(u"nbsp"), u"\u00a0");
  EXPECT_EQ(text(u"yuml"), u"\u00ff");
  EXPECT_EQ(text(u"Yuml"), u"\u0178");
  EXPECT_EQ(text(u"Omega"), u"\u03a9");
  EXPECT_EQ(text(u"sigmaf"), u"\u03c2");
  EXPECT_EQ(text(u"diams"), u"\u2666");
  EXPECT_EQ(text(u"AMP"), u"<none>");
}

}  // namespace
}  // namespace kt
