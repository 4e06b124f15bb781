// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_tokenizer.h"

#include <gtest/gtest.h>

#include "kt_html_test_support.h"

namespace kt {
namespace {

using testing_html::Piece;
using testing_html::PiecesOf;
using K = TKtHtmlPieceKind;

std::string DataOf(const std::vector<Piece>& pieces, K kind) {
  for (const Piece& p : pieces) {
    if (p.kind == kind) return p.data;
  }
  return "<none>";
}

// Stores every piece but those of the kinds in skipped (HTML tags are always
// stored, since their attributes steer the reading of the next piece).
class SkippingTokenizer : public TKtHtmlTokenizer {
 public:
  explicit SkippingTokenizer(bool skip_all) : skip_all_(skip_all) {}

 protected:
  uint32_t PieceRoute(K kind, bool, uint32_t) const override {
    return (skip_all_ && kind != K::pkHtmlTag) ? kRouteShow : kRouteShow | kRouteRead;
  }

 private:
  bool skip_all_;
};

struct End {
  K kind;
  uint32_t pos;
  bool valid;
  WideChar current;
  bool operator==(const End&) const = default;
};

std::vector<End> EndsOf(bool skip_all, const std::string& utf8, bool normalize) {
  testing_html::RegisterNames();
  SkippingTokenizer tokenizer(skip_all);
  tokenizer.NormalizeWhiteSpace = normalize;
  tokenizer.EnableASP = tokenizer.EnablePHP = tokenizer.EnableSSI = tokenizer.EnableCustomTags = true;
  const WideString text = Utf8ToWide(utf8);
  testing_html::SourceText(tokenizer, text);
  std::vector<End> ends;
  while (tokenizer.ReadNextPiece()) {
    ends.push_back({tokenizer.PieceKind(), tokenizer.CharPos, tokenizer.CharValid, tokenizer.Char});
  }
  return ends;
}

// Runs one reader from the first character with and without storing.
void ExpectTwinsStopTogether(K kind, const std::string& utf8, bool endTag = false) {
  testing_html::RegisterNames();
  const WideString text = Utf8ToWide(utf8);
  End ends[2];
  for (int store = 0; store < 2; ++store) {
    TKtHtmlTokenizer tokenizer;
    testing_html::SourceText(tokenizer, text);
    tokenizer.ReadChar();
    tokenizer.TEST_ReadPiece(kind, store == 1, endTag);
    ends[store] = {kind, tokenizer.CharPos, tokenizer.CharValid, tokenizer.Char};
  }
  EXPECT_EQ(ends[0], ends[1]) << "kind " << static_cast<int>(kind) << " input " << utf8;
}

TEST(KtHtmlTokenizer, ClassifiesEveryPieceKind) {
  TKtHtmlTokenizer tokenizer;
  tokenizer.EnableASP = tokenizer.EnablePHP = tokenizer.EnableSSI = tokenizer.EnableCustomTags = true;
  const WideString text = Utf8ToWide(
      "<!DocType html><?XmL version='1.0'?><?php echo 1; ?><?pi x?><%a%%><![CDATA[a]]]>"
      "<!--c--><!--#include file='a'--><#ct a=1><!x>t<title> T </title><style>s</style>"
      "<script>a</b></script>");
  const std::vector<Piece> expected = {
      {K::pkDTD, " html"},          {K::pkXmlPI, " version='1.0'"}, {K::pkPHP, " echo 1; "},
      {K::pkHtmlPI, "pi x?"},       {K::pkASP, "a%"},               {K::pkCDataSection, "a]"},
      {K::pkComment, "c"},          {K::pkSsiTag, "include"},       {K::pkCustomTag, "a"},
      {K::pkExclamationMarkup, "x"}, {K::pkText, "t"},              {K::pkHtmlTag, "title"},
      {K::pkTitle, " T "},          {K::pkHtmlTag, "title"},        {K::pkHtmlTag, "style"},
      {K::pkStyle, "s"},            {K::pkHtmlTag, "style"},        {K::pkHtmlTag, "script"},
      {K::pkScript, "a</b>"},       {K::pkHtmlTag, "script"},
  };
  const std::vector<Piece> pieces = PiecesOf(tokenizer, text);
  ASSERT_EQ(pieces.size(), expected.size());
  for (size_t i = 0; i < pieces.size(); ++i) {
    EXPECT_EQ(pieces[i].kind, expected[i].kind) << i;
    // Tags leave their value in the tag object, not in the data.
    if (expected[i].kind != K::pkHtmlTag && expected[i].kind != K::pkCustomTag && expected[i].kind != K::pkSsiTag) {
      EXPECT_EQ(pieces[i].data, expected[i].data) << i;
    }
  }
}

TEST(KtHtmlTokenizer, MarkupWhoseSwitchIsOffOrThatIsBrokenIsTextOrFallback) {
  EXPECT_TRUE(PiecesOf("").empty());
  EXPECT_EQ(PiecesOf("a<"), (std::vector<Piece>{{K::pkText, "a<"}}));
  EXPECT_EQ(PiecesOf("x </ y"), (std::vector<Piece>{{K::pkText, "x </ y"}}));
  EXPECT_EQ(PiecesOf("<%x%>"), (std::vector<Piece>{{K::pkText, "<%x%>"}}));
  EXPECT_EQ(PiecesOf("<!DOCTYP>"), (std::vector<Piece>{{K::pkExclamationMarkup, "DOCTYP"}}));
  EXPECT_EQ(PiecesOf("<!-x>"), (std::vector<Piece>{{K::pkExclamationMarkup, "-x"}}));
  EXPECT_EQ(PiecesOf("<?php echo 1; ?>"), (std::vector<Piece>{{K::pkHtmlPI, "php echo 1; ?"}}));
  EXPECT_EQ(PiecesOf("<?xm?>"), (std::vector<Piece>{{K::pkHtmlPI, "xm?"}}));
  EXPECT_EQ(PiecesOf("<!--#include file='a'-->"), (std::vector<Piece>{{K::pkComment, "#include file='a'"}}));
  EXPECT_EQ(PiecesOf("<!---->"), (std::vector<Piece>{{K::pkComment, ""}}));
  EXPECT_EQ(PiecesOf("<!--->x-->"), (std::vector<Piece>{{K::pkComment, "->x"}}));
  EXPECT_EQ(PiecesOf("<!--a"), (std::vector<Piece>{{K::pkComment, "a"}}));
  EXPECT_EQ(PiecesOf("a<<b>"), (std::vector<Piece>{{K::pkText, "a<"}, {K::pkHtmlTag, "b"}}));
}

TEST(KtHtmlTokenizer, NumericReferencesFollowTheTerminatorRule) {
  EXPECT_EQ(DataOf(PiecesOf("&#65;&#x41;"), K::pkText), "AA");
  EXPECT_EQ(DataOf(PiecesOf("&#65 b"), K::pkText), "A b");
  EXPECT_EQ(DataOf(PiecesOf("&#65b"), K::pkText), "&#65b");
  EXPECT_EQ(DataOf(PiecesOf("&#65"), K::pkText), "A");
  EXPECT_EQ(DataOf(PiecesOf("&#x110000;"), K::pkText), "&#x110000;");
  EXPECT_EQ(DataOf(PiecesOf("&#150;"), K::pkText), "\u2013");
  EXPECT_EQ(DataOf(PiecesOf("&#128;&#153;"), K::pkText), "\u20ac\u2122");
  EXPECT_EQ(DataOf(PiecesOf("&#129;"), K::pkText), "\ufffd");
}

TEST(KtHtmlTokenizer, ReferencesToNoCharacterNeverBecomeNulOrLoneSurrogates) {
  EXPECT_EQ(DataOf(PiecesOf("a&#;b&#x;c"), K::pkText), "a&#;b&#x;c");
  EXPECT_EQ(DataOf(PiecesOf("&#0;"), K::pkText), "\ufffd");
  EXPECT_EQ(DataOf(PiecesOf("&#xD800;&#57343;"), K::pkText), "\ufffd\ufffd");
}

TEST(KtHtmlTokenizer, NamedReferencesAreDecodedFromTheEntityTable) {
  EXPECT_EQ(DataOf(PiecesOf("a &amp; b &lt;&gt;&quot;&apos;&nbsp;&euro;&hearts;"), K::pkText),
            "a & b <>\"'\u00a0\u20ac\u2665");
  EXPECT_EQ(DataOf(PiecesOf("&amp b"), K::pkText), "& b");
  EXPECT_EQ(DataOf(PiecesOf("&AMP; &bogus; AT&T &ampx"), K::pkText), "&AMP; &bogus; AT&T &ampx");
}

TEST(KtHtmlTokenizer, WhiteSpaceIsNormalisedOutsidePreAndAlwaysInTitles) {
  TKtHtmlTokenizer normal;
  normal.NormalizeWhiteSpace = true;
  EXPECT_EQ(DataOf(PiecesOf(normal, u"a  \r\n b"), K::pkText), "a b");
  EXPECT_EQ(DataOf(PiecesOf(normal, u"a &#32; b"), K::pkText), "a b");
  TKtHtmlTokenizer in_pre;
  in_pre.NormalizeWhiteSpace = true;
  const std::vector<Piece> pre = PiecesOf(in_pre, u"<pre>a  \r\n b</pre>c  d");
  EXPECT_EQ(pre[1], (Piece{K::pkText, "a  \r\n b"}));
  EXPECT_EQ(pre[3], (Piece{K::pkText, "c d"}));
  EXPECT_EQ(in_pre.PreDepth(), 0u);
  EXPECT_EQ(DataOf(PiecesOf("a  b"), K::pkText), "a  b");
  EXPECT_EQ(DataOf(PiecesOf("<title>\n a \t&amp;\r\n b </TITLE >"), K::pkTitle), " a & b ");
  EXPECT_EQ(DataOf(PiecesOf("<title>a<b</title x>c</title>"), K::pkTitle), "a<b</title x>c");
}

TEST(KtHtmlTokenizer, AttributesAreReadWithIdsValuesAndTrimming) {
  testing_html::RegisterNames();
  TKtHtmlTokenizer tokenizer;
  PiecesOf(tokenizer, u"<a HREF = ' x ' title=\"t&amp;u\" rel=alt data-x id=a&#38;b class=c d=e&amp;f>");
  const TKtHtmlTag& tag = tokenizer.HtmlTag();
  ASSERT_EQ(tag.Count(), 7);
  EXPECT_EQ(tag.TagID, 1u);
  EXPECT_EQ(tag.GetString(0), u"HREF");
  EXPECT_EQ(tag.StringOfCardinal(52), u"x");
  EXPECT_EQ(tag.StringOfCardinal(119), u"t&u");
  EXPECT_EQ(tag.StringOfCardinal(97), u"alt");
  EXPECT_EQ(tag.GetString(3), u"data-x");
  EXPECT_EQ(tag.GetSecondString(3), u"");
  EXPECT_EQ(tag.StringOfCardinal(56), u"a&b");
  EXPECT_EQ(tag.GetSecondString(6), u"e&f");

  TKtHtmlTokenizer untrimmed;
  untrimmed.TrimAttribValues = true;
  PiecesOf(untrimmed, u"<a href = ' x '>");
  EXPECT_EQ(untrimmed.HtmlTag().StringOfCardinal(52), u" x ");
}

TEST(KtHtmlTokenizer, FeedLinkQueryKeepsItsSeparatorOnce) {
  testing_html::RegisterNames();
  TKtHtmlTokenizer tokenizer;
  PiecesOf(tokenizer, u"<link rel=alternate href=\"feed.php?a=1&amp;b=2\">");
  EXPECT_EQ(tokenizer.HtmlTag().StringOfCardinal(52), u"feed.php?a=1&b=2");
}

TEST(KtHtmlTokenizer, EndFlagsAndRepeatedAttributes) {
  testing_html::RegisterNames();
  TKtHtmlTokenizer tokenizer;
  const WideString text = u"<br/><br /><img src=a.gif/></p foo><p a=1 a=2>";
  testing_html::SourceText(tokenizer, text);
  const uint8_t expected[] = {2, 2, 0, 1, 0};
  for (uint8_t flag : expected) {
    ASSERT_TRUE(tokenizer.ReadNextPiece());
    EXPECT_EQ(tokenizer.HtmlTag().EndTag, flag) << WideToUtf8(tokenizer.HtmlTag().TagName);
    if (tokenizer.HtmlTag().TagID == 58) {
      EXPECT_EQ(tokenizer.HtmlTag().StringOfCardinal(110), u"a.gif/");
    }
    if (flag == 1) {
      EXPECT_EQ(tokenizer.HtmlTag().Count(), 0);
    }
  }
  EXPECT_EQ(tokenizer.HtmlTag().Count(), 2);
  EXPECT_EQ(tokenizer.HtmlTag().GetSecondString(1), u"2");
  EXPECT_FALSE(tokenizer.ReadNextPiece());
}

TEST(KtHtmlTokenizer, ScriptBodiesEndByTheirLanguage) {
  EXPECT_EQ(DataOf(PiecesOf("<script type='text/JavaScript'>var s='</script>';</script>"), K::pkScript),
            "var s='</script>';");
  EXPECT_EQ(DataOf(PiecesOf("<script>var s='</script>';</script>"), K::pkScript), "var s='");
  EXPECT_EQ(DataOf(PiecesOf("<script language=javascript>x = /'/g;</SCRIPT >"), K::pkScript), "x = /'/g;");
  // Divisions: the quotes after them open strings that hide the end tags.
  EXPECT_EQ(DataOf(PiecesOf("<script type=text/javascript>a = b /'/ c /'/ d;</script>"), K::pkScript),
            "a = b /'/ c /'/ d;");
  EXPECT_EQ(DataOf(PiecesOf("<script type=text/javascript>return /'/ + '</script>"), K::pkScript),
            "return /'/ + '");
  EXPECT_EQ(DataOf(PiecesOf("<script type=text/javascript>/* </script> */ // </script>\n"
                            "<!-- </script> -->\nx</script>"),
                   K::pkScript),
            "/* </script> */ // </script>\n<!-- </script> -->\nx");
  EXPECT_EQ(DataOf(PiecesOf("<meta http-equiv=Content-Script-Type content=text/javascript>"
                            "<script>'</script>'</script>"),
                   K::pkScript),
            "'</script>'");
  EXPECT_EQ(DataOf(PiecesOf("<script/>x"), K::pkText), "x");
}

TEST(KtHtmlTokenizer, SsiTagsEndAtTheirDashRun) {
  testing_html::RegisterNames();
  TKtHtmlTokenizer tokenizer;
  tokenizer.EnableSSI = true;
  PiecesOf(tokenizer, u"<!--#echo var=\"a\\\"b\" x='  y  '-->");
  EXPECT_EQ(tokenizer.SsiTag().TagName, u"echo");
  EXPECT_EQ(tokenizer.SsiTag().GetSecondString(0), u"a\"b");
  EXPECT_EQ(tokenizer.SsiTag().GetSecondString(1), u"y");
  PiecesOf(tokenizer, u"<!--#echo var=a- -->");
  EXPECT_EQ(tokenizer.SsiTag().GetSecondString(0), u"a-");
  PiecesOf(tokenizer, u"<!--#echo var=a-->");
  EXPECT_EQ(tokenizer.SsiTag().GetSecondString(0), u"a");
  PiecesOf(tokenizer, u"<!--#x-->");
  EXPECT_EQ(tokenizer.SsiTag().TagName, u"x");
  EXPECT_EQ(tokenizer.SsiTag().Count(), 0);
  PiecesOf(tokenizer, u"<!--#x a /--->");
  EXPECT_EQ(tokenizer.SsiTag().EndTag, 2);
  // A reference name must not run on into the "-->" that closes the tag.
  EXPECT_EQ(PiecesOf(tokenizer, u"<!--#echo var=&amp-->rest").back().data, "rest");
  EXPECT_EQ(tokenizer.SsiTag().GetSecondString(0), u"&amp");
  PiecesOf(tokenizer, u"<!--#echo var=&lt;&a-b--->");
  EXPECT_EQ(tokenizer.SsiTag().GetSecondString(0), u"<&a-b");
}

TEST(KtHtmlTokenizer, ClosingSequencesAreLookedForOnlyWithinABoundedDistance) {
  const std::string near = "<style>a</style" + std::string(200, ' ') + ">b";
  EXPECT_EQ(DataOf(PiecesOf(near), K::pkStyle), "a");
  // A megabyte of white space or dashes is read in linear time: it cannot
  // close the body or the tag.
  const std::string far = "<style>a</style" + std::string(1 << 20, ' ') + ">b";
  EXPECT_EQ(DataOf(PiecesOf(far), K::pkStyle).size(), far.size() - 7);
  testing_html::RegisterNames();
  TKtHtmlTokenizer tokenizer;
  tokenizer.EnableSSI = true;
  const WideString dashes = u"<!--#a" + WideString(1 << 20, u'-') + u">";
  testing_html::SourceText(tokenizer, dashes);
  ASSERT_TRUE(tokenizer.ReadNextPiece());
  EXPECT_TRUE(tokenizer.CharValid);
  EXPECT_EQ(tokenizer.Char, u'>');
  EXPECT_FALSE(tokenizer.ReadNextPiece());
}

TEST(KtHtmlTokenizer, PieceStartIsTheFirstCharacter) {
  TKtHtmlTokenizer tokenizer;
  const WideString text = u"ab\n<p>";
  testing_html::SourceText(tokenizer, text);
  ASSERT_TRUE(tokenizer.ReadNextPiece());
  EXPECT_EQ(tokenizer.PieceStartPos(), 1u);
  ASSERT_TRUE(tokenizer.ReadNextPiece());
  EXPECT_EQ(tokenizer.PieceStartLine(), 2u);
  EXPECT_EQ(tokenizer.PieceStartColumn(), 1u);
}

TEST(KtHtmlTokenizer, StoringAndSkippingReadersStopAtTheSameCharacter) {
  const std::string pages[] = {
      "<html><head><title> a &amp; b </title><style>p{}</style><script>if (a<b) x='</script>';</script>"
      "<script type=text/javascript>x = a / b / c; y = /'<\\/script>/; s='</script>';</script></head>"
      "<body><!-- c -- > --><![CDATA[x]]]><?xml v?><?php ?><%a%><!--#include f=\"a\" --><#c a=b>"
      "<p>a &#65; &#x41 &amp  &#999999; <pre> a  b </pre> <b>x</b> < a <3 </ p></body></html>",
      "<!--#x a=\"b\\\"c\" d=e- f=g-- -->z<!--#/x--><!--#y a b /-->",
      "<!--#echo var=&amp-->z<!--#echo var=&lt-x--->y",
      "&#", "<", "<!", "<!-", "<!--", "<![CDATA[", "<?", "<?x", "<a href='x", "<script>", "<title>a",
  };
  for (const std::string& page : pages) {
    for (bool normalize : {false, true}) {
      EXPECT_EQ(EndsOf(false, page, normalize), EndsOf(true, page, normalize)) << page;
    }
  }
  ExpectTwinsStopTogether(K::pkHtmlTag, "a href = ' x ' b=c&amp;d e f='' / g/>h");
  ExpectTwinsStopTogether(K::pkHtmlTag, "a \"x>\" y>");
  ExpectTwinsStopTogether(K::pkHtmlTag, "p foo>", true);
  ExpectTwinsStopTogether(K::pkSsiTag, "echo var=\"a\\\"b\" x=`y` z=a-b- --> q");
  ExpectTwinsStopTogether(K::pkSsiTag, "x--->");
  ExpectTwinsStopTogether(K::pkSsiTag, "echo var=&amp--> q");
  ExpectTwinsStopTogether(K::pkSsiTag, "echo var=a&b-c&#1--->q");
  ExpectTwinsStopTogether(K::pkScript, "a = b /'/ c; s = \"\\\"</script>\"; /re\\/x/g; </script>");
  ExpectTwinsStopTogether(K::pkText, "a &#65; &amp &#x; b <c");
}

}  // namespace
}  // namespace kt
