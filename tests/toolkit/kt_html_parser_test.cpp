// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_parser.h"

#include <gtest/gtest.h>

#include "kt_html_test_support.h"
#include "toolkit/exception.h"
#include "toolkit/kt_html_parser_plugin.h"

namespace kt {
namespace {

using K = TKtHtmlPieceKind;
using F = TKtFilter;

// Records the pieces it receives and can claim them for the caller.
class RecordingPlugin : public TKtHtmlParserPlugin {
 public:
  void HandleText(bool& show) override { Record("text", show); }
  void HandleComment(bool& show) override { Record("comment", show); }
  void HandleHtmlTag(bool& show) override {
    const TKtHtmlTag& tag = HtmlParser()->HtmlTag();
    Record((tag.EndTag == 1 ? "/" : "") + WideToUtf8(tag.TagName), show);
  }
  void HandleReset() override { ++resets; }

  std::vector<std::string> seen;
  bool claim = false;
  int resets = 0;

 private:
  void Record(const std::string& what, bool& show) {
    seen.push_back(what);
    if (claim) show = true;
  }
};

std::vector<std::string> Shown(TKtHtmlParser& parser, const WideString& text) {
  testing_html::RegisterNames();
  parser.Reset();
  testing_html::SourceText(parser, text);
  std::vector<std::string> shown;
  while (parser.ReadNextPiece()) {
    if (parser.PieceKind() == K::pkHtmlTag) {
      shown.push_back((parser.HtmlTag().EndTag == 1 ? "/" : "") + WideToUtf8(parser.HtmlTag().TagName));
    } else {
      shown.push_back(WideToUtf8(parser.GetData()));
    }
  }
  return shown;
}

const WideString kPage =
    u"<!DOCTYPE html><html><head><title>T</title><script src=s.js>x<y</script><style>p{}</style>"
    u"<link rel=alternate href=/feed.xml></head><body><!-- c --><p>Hi <a href=x>y</a><img src=i.gif>"
    u"<iframe src=f></iframe><frame src=g><?pi?></p></body></html>";

TEST(KtHtmlParser, DefaultFiltersHideEverything) {
  TKtHtmlParser parser;
  EXPECT_TRUE(Shown(parser, u"").empty());
  EXPECT_TRUE(Shown(parser, kPage).empty());
  EXPECT_FALSE(parser.CharValid);
}

TEST(KtHtmlParser, LinkWalkerSetUpShowsSixStartTagsAndFeedsTheRestToThePlugin) {
  TKtHtmlParser parser;
  RecordingPlugin plugin;
  plugin.FilterHtmlTags().SetStartAndEndTags(F::fiShowHidden);
  plugin.SetFilterText(F::fiShow);
  plugin.SetFilterComments(F::fiShowHidden);
  parser.AddPluginLast(&plugin);
  TKtTagFilters filters;
  parser.SetHtmlTagFilters(&filters);
  filters.SetTagFilters({42, 86, 1, 58, 67, 56}, F::fiShow);
  EXPECT_EQ(Shown(parser, kPage), (std::vector<std::string>{"script", "link", "a", "img", "iframe", "frame"}));
  EXPECT_EQ(plugin.seen,
            (std::vector<std::string>{"html", "head", "title", "/title", "/script", "style", "/style", "/head",
                                      "body", "comment", "p", "text", "text", "/a", "/iframe", "/p", "/body",
                                      "/html"}));
  EXPECT_EQ(plugin.resets, 2);
}

TEST(KtHtmlParser, ShowLocalDoesNotCountAsShownButShowDoes) {
  TKtHtmlParser parser;
  RecordingPlugin local;
  RecordingPlugin hidden;
  local.SetFilterText(F::fiShowLocal);
  hidden.SetFilterText(F::fiShowHidden);
  parser.AddPluginLast(&local);
  parser.AddPluginLast(&hidden);
  EXPECT_TRUE(Shown(parser, u"a<b>c").empty());
  EXPECT_EQ(local.seen, (std::vector<std::string>{"text", "text"}));
  EXPECT_EQ(hidden.seen, (std::vector<std::string>{"text", "text"}));
  local.SetFilterText(F::fiShow);
  local.seen.clear();
  hidden.seen.clear();
  EXPECT_TRUE(Shown(parser, u"a<b>c").empty());
  EXPECT_EQ(local.seen.size(), 2u);
  EXPECT_TRUE(hidden.seen.empty());
  parser.SetFilterText(F::fiShowShown);
  EXPECT_EQ(Shown(parser, u"a<b>c"), (std::vector<std::string>{"a", "c"}));
}

TEST(KtHtmlParser, AHandlerCanShowAPieceTheCallerHides) {
  TKtHtmlParser parser;
  RecordingPlugin plugin;
  plugin.SetFilterComments(F::fiShowLocal);
  plugin.claim = true;
  plugin.SetHtmlParser(&parser);
  EXPECT_EQ(Shown(parser, u"a<!--b-->c"), (std::vector<std::string>{"b"}));
}

TEST(KtHtmlParser, DisablingAPluginStopsItAndLetsHiddenPartiesSeeItsPieces) {
  TKtHtmlParser parser;
  RecordingPlugin shower;
  shower.SetFilterText(F::fiShow);
  parser.SetFilterText(F::fiShowHidden);
  parser.AddPluginFirst(&shower);
  EXPECT_TRUE(Shown(parser, u"x").empty());
  shower.SetEnabled(false);
  shower.seen.clear();
  EXPECT_EQ(Shown(parser, u"x"), (std::vector<std::string>{"x"}));
  EXPECT_TRUE(shower.seen.empty());
  EXPECT_EQ(parser.PluginCount(), 1);
}

TEST(KtHtmlParser, PluginFiltersSetBeforeAttachingAreMergedOnAttach) {
  TKtHtmlParser parser;
  RecordingPlugin plugin;
  plugin.SetFilterComments(F::fiShow);
  EXPECT_TRUE(Shown(parser, u"<!--x-->").empty());
  parser.AddPluginLast(&plugin);
  EXPECT_TRUE(Shown(parser, u"<!--x-->").empty());
  EXPECT_EQ(plugin.seen, (std::vector<std::string>{"comment"}));
}

TEST(KtHtmlParser, RemovingAForeignPluginRaisesAndChangesNothing) {
  TKtHtmlParser a;
  TKtHtmlParser b;
  RecordingPlugin plugin;
  a.AddPluginLast(&plugin);
  try {
    b.RemovePlugin(&plugin);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Class TKtHtmlParserPlugin: Plugin does not belong to this HtmlParser instance");
  }
  EXPECT_EQ(a.PluginCount(), 1);
  EXPECT_EQ(plugin.HtmlParser(), &a);
  b.RemovePlugin(nullptr);
  plugin.SetHtmlParser(&b);
  EXPECT_EQ(a.PluginCount(), 0);
  EXPECT_EQ(b.PluginCount(), 1);
}

TEST(KtHtmlParser, SourceMisuseNamesTheParser) {
  TKtHtmlParser parser;
  TMemoryStream stream;
  parser.SourceStream(&stream);
  try {
    parser.SourceWideStr(u"x");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Class TKtHtmlParser: Operation not allowed in Source Stream Mode");
  }
}

TEST(KtHtmlParser, DestroyingAPluginOrASetDetachesIt) {
  TKtHtmlParser parser;
  {
    RecordingPlugin plugin;
    parser.AddPluginLast(&plugin);
    EXPECT_EQ(parser.PluginCount(), 1);
  }
  EXPECT_EQ(parser.PluginCount(), 0);
  {
    TKtTagFilters filters;
    parser.SetHtmlTagFilters(&filters);
    filters.SetStartTagFilter(79, F::fiShow);
    EXPECT_EQ(Shown(parser, u"<p><b>"), (std::vector<std::string>{"p"}));
  }
  EXPECT_EQ(parser.HtmlTagFilters(), nullptr);
  EXPECT_TRUE(Shown(parser, u"<p><b>").empty());
}

TEST(KtHtmlParser, PerTagEndFiltersAndKindFiltersCombine) {
  TKtHtmlParser parser;
  TKtTagFilters filters;
  parser.SetHtmlTagFilters(&filters);
  parser.FilterHtmlTags().SetEndTags(F::fiShow);
  filters.SetEndTagFilter(79, F::fiHide);
  EXPECT_EQ(Shown(parser, u"<p><b></b></p>"), (std::vector<std::string>{"/b"}));
}

TEST(KtHtmlParser, ResetForgetsPiecesAndTellsEveryPlugin) {
  TKtHtmlParser parser;
  RecordingPlugin a;
  RecordingPlugin b;
  b.SetEnabled(false);
  parser.AddPluginLast(&a);
  parser.AddPluginLast(&b);
  parser.SetFilterText(F::fiShow);
  parser.FilterHtmlTags().SetStartTags(F::fiShow);
  const WideString text = u"<pre><title>";
  testing_html::SourceText(parser, text);
  while (parser.ReadNextPiece()) {
  }
  EXPECT_EQ(parser.PreDepth(), 1u);
  parser.Reset();
  EXPECT_EQ(parser.PreDepth(), 0u);
  EXPECT_EQ(parser.PieceKind(), K::pkNone);
  EXPECT_EQ(parser.HtmlTag().TagName, u"");
  EXPECT_EQ(a.resets, 2);
  EXPECT_EQ(b.resets, 2);
}

TEST(KtHtmlParser, UnreceivedCustomAndSsiTagsAreSkippedWholesale) {
  TKtHtmlParser parser;
  parser.EnableCustomTags = true;
  parser.EnableSSI = true;
  parser.SetFilterText(F::fiShow);
  EXPECT_EQ(Shown(parser, u"a<#x b=c>d<!--#e f-->g"), (std::vector<std::string>{"a", "d", "g"}));
  EXPECT_EQ(parser.CustomTag().TagName, u"");
  parser.FilterSsiTags().SetStartTags(F::fiShow);
  Shown(parser, u"<!--#echo var=a-->");
  EXPECT_EQ(parser.SsiTag().StringOfCardinal(0), u"a");
}

}  // namespace
}  // namespace kt
