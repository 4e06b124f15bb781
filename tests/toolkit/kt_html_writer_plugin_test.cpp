// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_writer_plugin.h"

#include <gtest/gtest.h>

#include "kt_html_test_support.h"
#include "toolkit/exception.h"
#include "toolkit/kt_html_parser.h"
#include "toolkit/kt_unicode_codecs.h"

namespace kt {
namespace {

using F = TKtFilter;
using K = TKtHtmlPieceKind;

// A parser whose writer plugin receives every piece, writing UTF-8.
struct Pipe {
  TKtHtmlParser parser;
  TKtHtmlWriterPlugin writer;

  Pipe() {
    parser.EnableASP = parser.EnablePHP = parser.EnableSSI = parser.EnableCustomTags = true;
    for (int k = 1; k < kHtmlPieceKindCount; ++k) writer.SetFilter(static_cast<K>(k), F::fiShowLocal);
    writer.FilterHtmlTags().SetStartAndEndTags(F::fiShowLocal);
    writer.FilterCustomTags().SetStartAndEndTags(F::fiShowLocal);
    writer.FilterSsiTags().SetStartAndEndTags(F::fiShowLocal);
    writer.Writer().SetWriteMethods({nullptr, Write_UTF_8, nullptr, nullptr});
    parser.AddPluginLast(&writer);
  }

  std::string Run(const std::string& utf8) {
    testing_html::RegisterNames();
    const WideString text = Utf8ToWide(utf8);
    parser.Reset();
    writer.Writer().BufPos = 0;
    testing_html::SourceText(parser, text);
    while (parser.ReadNextPiece()) {
    }
    writer.Writer().Flush();
    return writer.Writer().Bytes();
  }
};

TEST(KtHtmlWriterPlugin, TextIsEscapedOnceAndMarkupKeepsItsForm) {
  Pipe pipe;
  EXPECT_EQ(pipe.Run("<p class=x>a &amp; b</p>"), "<p class=x>a &amp; b</p>");
  EXPECT_EQ(pipe.Run("<br/><img src=a.gif /><img src=a.gif/>"), "<br/><img src=a.gif /><img src=\"a.gif/\">");
  EXPECT_EQ(pipe.Run("<script>if (a<b) x();</script><title>a<b</title>"),
            "<script>if (a<b) x();</script><title>a&lt;b</title>");
  EXPECT_EQ(pipe.Run("<!DOCTYPE html><?xml v?><?pi x?><!--c--><![CDATA[<]]><!x><%a%><?php b ?>"),
            "<!DOCTYPE html><?xml v?><?pi x?><!--c--><![CDATA[<]]><!x><%a%><?php b ?>");
  pipe.writer.SetPredefinedEntities(0);
  EXPECT_EQ(pipe.Run("<p>a &amp; b</p>"), "<p>a & b</p>");
}

TEST(KtHtmlWriterPlugin, SsiAndCustomTagsKeepTheirEnds) {
  Pipe pipe;
  EXPECT_EQ(pipe.Run("<!--#echo var=a- -->"), "<!--#echo var=a- -->");
  EXPECT_EQ(pipe.Run("<!--#echo var=a-->"), "<!--#echo var=a-->");
  EXPECT_EQ(pipe.Run("<!--#x- --><!--#/x--><!--#y a /-->"), "<!--#x- --><!--#/x--><!--#y a/-->");
  EXPECT_EQ(pipe.Run("<#c a=b /><#c a=b/><#c x=\"1 2\"><#/c>"), "<#c a=b /><#c a=\"b/\"><#c x=\"1 2\"><#/c>");
}

TEST(KtHtmlWriterPlugin, ChangedAttributesAreWrittenByTheCaller) {
  testing_html::RegisterNames();
  TKtHtmlParser parser;
  TKtHtmlWriterPlugin writer;
  writer.Writer().PredefinedEntities = 0;
  writer.SetFilterText(F::fiShow);
  writer.FilterHtmlTags().SetStartAndEndTags(F::fiShowHidden);
  parser.AddPluginLast(&writer);
  TKtTagFilters filters;
  parser.SetHtmlTagFilters(&filters);
  filters.SetTagFilters({42, 86, 1, 58, 67, 56}, F::fiShow);
  const WideString page =
      u"<html><head><title>T</title><link rel=alternate href=\"feed.php?a=1&amp;b=2\"></head>"
      u"<body><!-- c --><p>Hi<a href=x title='a b'>y</a></p></body></html>";
  parser.Reset();
  testing_html::SourceText(parser, page);
  std::vector<WideString> shown;
  while (parser.ReadNextPiece()) {
    TKtHtmlTag& tag = parser.HtmlTag();
    shown.push_back(tag.TagName);
    const uint32_t attrib = tag.TagID == 1 ? 52 : 52;
    tag.SetAttribValue(attrib, u"href", u"http://h/" + tag.StringOfCardinal(attrib));
    writer.WriteHtmlTag();
  }
  EXPECT_EQ(shown, (std::vector<WideString>{u"link", u"a"}));
  writer.Writer().Flush();
  EXPECT_EQ(writer.Writer().Bytes(),
            "<html><head><title></title><link rel=alternate href=\"http://h/feed.php?a=1&amp;b=2\"></head>"
            "<body><p>Hi<a href=\"http://h/x\" title=\"a b\">y</a></p></body></html>");
}

TEST(KtHtmlWriterPlugin, RealWorldPagesSurviveARoundTrip) {
  const std::string canonical =
      "<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8><title>Tides &amp; notes</title>\n"
      "<link rel=alternate type=\"application/rss+xml\" href=\"/feed.xml\">\n"
      "<script type=\"text/javascript\">var s = '</script>'; if (a < b && c > d) {}</script>\n"
      "<style>a > b { color: red }</style></head>\n<body class=\"x y\"><!-- nav -->\n"
      "<p>Caf\u00e9 &lt;3 &quot;quoted&quot; \u20ac<br/><img src=\"/i.png\" alt width=10 /></p>\n"
      "<pre>  keep   this  </pre><![CDATA[ raw ]]></body></html>\n";
  Pipe pipe;
  EXPECT_EQ(pipe.Run(canonical), canonical);
  const std::string messy =
      "<HTML><Body BGCOLOR=#fff onload='go(\"x\")'><a href=a&amp;b&#38;c title=\"it's\">&copy; 2026 &#8212;"
      "&bogus; &amp</a><p a b=c d='' e=\" f \">x</p><!----><!--- a -- b --->";
  const std::string once = pipe.Run(messy);
  EXPECT_EQ(pipe.Run(once), once);
  EXPECT_EQ(once,
            "<HTML><Body BGCOLOR=\"#fff\" onload='go(\"x\")'><a href=\"a&amp;b&amp;c\" title=\"it's\">"
            "\u00a9 2026 \u2014&amp;bogus; &amp;amp</a><p a b=c d e=f>x</p><!----><!--- a -- b -->");
}

TEST(KtHtmlWriterPlugin, AWrittenPageReadsBackToItself) {
  std::string page = "<html><head><meta http-equiv=Content-Type content='text/html; charset=utf-8'>"
                     "<script>var x = a < b ? '</p>' : \"&amp;\";</script></head><body>";
  for (int i = 0; i < 200; ++i) {
    const std::string n = std::to_string(i);
    page += "<div class='post p" + n + "'><h2><a href=/e/" + n + ".html title=\"Ep &#8220;" + n +
            "&#8221;\">Tides &amp; currents " + n + "</a></h2><p>4.2&nbsp;m &lt; 5 m<br>" +
            "<img src=\"/i/" + n + ".jpg\" alt='a \"b\"' width=" + n + "/></p><!-- " + n + " --></div>\n";
  }
  page += "</body></html>";
  Pipe pipe;
  const std::string once = pipe.Run(page);
  EXPECT_EQ(pipe.Run(once), once);
  EXPECT_NE(once.find("<a href=\"/e/199.html\" title=\"Ep \u201c199\u201d\">Tides &amp; currents 199</a>"),
            std::string::npos);
  EXPECT_NE(once.find("4.2\u00a0m &lt; 5 m<br><img src=\"/i/0.jpg\" alt='a \"b\"' width=\"0/\">"),
            std::string::npos);
}

TEST(KtHtmlWriterPlugin, WritingWithoutAParserOrTagRaises) {
  TKtHtmlWriterPlugin writer;
  auto message_of = [](auto&& call) {
    try {
      call();
    } catch (const Exception& e) {
      return e.Message();
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message_of([&] { writer.WriteHtmlTag(); }), "Class TKtHtmlWriterPlugin: HtmlParser is not assigned");
  bool show = false;
  EXPECT_EQ(message_of([&] { writer.HandleText(show); }), "Class TKtHtmlWriterPlugin: HtmlParser is not assigned");
  EXPECT_EQ(message_of([&] { writer.WriteTag(nullptr, K::pkHtmlTag); }),
            "Class TKtHtmlWriterPlugin: Tag is not assigned");
  TKtHtmlParser parser;
  writer.SetHtmlParser(&parser);
  parser.RemovePlugin(&writer);
  EXPECT_EQ(message_of([&] { writer.WriteHtmlTag(); }), "Class TKtHtmlWriterPlugin: HtmlParser is not assigned");
}

}  // namespace
}  // namespace kt
