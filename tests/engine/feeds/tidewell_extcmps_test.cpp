// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_extcmps.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

struct Found {
  TStrings urls;
  TStrings titles;
};

Found Discover(const std::string& page, const std::string& baseUrl = "http://example.org/blog/index.html") {
  kt::TMemoryStream stream;
  stream.WriteBuffer(page.data(), static_cast<int64_t>(page.size()));
  Found found;
  Ttidewell_autodiscoverRSSURL discovery;
  discovery.Discover(baseUrl, &stream, &found.titles, &found.urls);
  EXPECT_EQ(stream.Position(), 0);
  return found;
}

TEST(AutodiscoveryTest, FeedLinksAreFoundInDocumentOrderWithTheirTitles) {
  const Found found = Discover(
      "<html><head><link rel=stylesheet href=s.css type=text/css>"
      "<link rel=alternate type=\"application/rss+xml\" title=\" News \" href=\"/feed.rss?a=1&amp;b=2\">"
      "<link rel=\"alternate\" type=\"APPLICATION/ATOM+XML\" href=\"atom.xml\" title=\"Atom\">"
      "<link rel=alternate type=\"application/rss+xml \" href=\"https://other.net/x\">"
      "</head><body><a href=\"/feed.xml\" type=\"application/rss+xml\">not a link tag</a></body></html>");
  EXPECT_EQ(found.urls, (TStrings{"http://example.org/feed.rss?a=1&b=2", "http://example.org/blog/atom.xml",
                                  "https://other.net/x"}));
  EXPECT_EQ(found.titles, (TStrings{"News", "Atom", "https://other.net/x"}));
}

TEST(AutodiscoveryTest, PagesWithoutFeedsOrWithoutInputFindNothing) {
  EXPECT_TRUE(Discover("<html><head><title>x</title></head><body>nothing</body></html>").urls.empty());
  EXPECT_TRUE(Discover("").urls.empty());
  TStrings urls = {"kept"};
  TStrings titles;
  Ttidewell_autodiscoverRSSURL discovery;
  discovery.Discover("http://h/", nullptr, &titles, &urls);
  kt::TMemoryStream stream;
  discovery.Discover("http://h/", &stream, nullptr, &urls);
  EXPECT_EQ(urls, TStrings{"kept"});
}

TEST(AutodiscoveryTest, DeclaredCharacterSetsDecodeTheTitles) {
  // "Новости" in windows-1251, declared by its usual name.
  const Found cyrillic = Discover(
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">"
      "<link rel=alternate type=application/rss+xml title=\"\xCD\xEE\xE2\xEE\xF1\xF2\xE8\" href=f.xml></head></html>");
  EXPECT_EQ(cyrillic.titles, TStrings{"\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8"});
  const Found utf8 = Discover(
      "<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=Utf-8\"><link rel=alternate type=application/rss+xml title=\"Caf\xC3\xA9\" "
      "href=f.xml></head></html>");
  EXPECT_EQ(utf8.titles, TStrings{"Caf\xC3\xA9"});
  const Found latin = Discover(
      "<html><head><link rel=alternate type=application/rss+xml title=\"Caf\xE9\" href=f.xml></head></html>");
  EXPECT_EQ(latin.titles, TStrings{"Caf\xC3\xA9"});
}

// Pages today declare their set only as <meta charset>; the first
// declaration holds even when a stale http-equiv one follows it.
TEST(AutodiscoveryTest, Html5CharsetDeclarationsDecodeTheTitles) {
  const Found utf8 = Discover(
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
      "<link rel=alternate type=application/rss+xml title=\"Caf\xC3\xA9\" href=f.xml></head></html>");
  EXPECT_EQ(utf8.titles, TStrings{"Caf\xC3\xA9"});
  const Found cyrillic = Discover(
      "<html><head><META CHARSET=' Windows-1251 '>"
      "<link rel=alternate type=application/rss+xml title=\"\xCD\xEE\xE2\xEE\xF1\xF2\xE8\" href=f.xml>"
      "</head></html>");
  EXPECT_EQ(cyrillic.titles, TStrings{"\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8"});
}

TEST(LinkWalkerTest, CallbacksSeeTheSixTagKindsAndMayRewriteTheirUrls) {
  const std::string page =
      "<p>&lt;script&gt; x</p><a href=\"a.html\">A</a><img src=\"i.png\"><script src=\"s.js\"></script>"
      "<iframe src=\"f.html\"></iframe><frame src=\"g.html\"><link rel=\"Stylesheet\" href=\"c.css\">";
  kt::TMemoryStream stream;
  stream.WriteBuffer(page.data(), static_cast<int64_t>(page.size()));
  stream.SetPosition(0);
  Ttidewell_htmlhelper walker;
  std::vector<std::string> seen;
  auto record = [&](const char* kind) {
    return [&seen, kind](const std::string&, WideString& url) {
      seen.push_back(std::string(kind) + ":" + kt::WideToUtf8(url));
      url = u"http://cdn/" + url;
    };
  };
  walker.OnAHref = record("a");
  walker.OnImgSrc = record("img");
  walker.OnScriptSrc = record("script");
  walker.OnIFrameSrc = record("iframe");
  walker.OnFrameSrc = record("frame");
  walker.OnStyleSheetHref = record("css");
  WideString rewritten;
  walker.OnEndOfPage = [&](const WideString& text) { rewritten = text; };
  EXPECT_TRUE(walker.Parse("http://h/", stream));
  EXPECT_EQ(seen, (std::vector<std::string>{"a:a.html", "img:i.png", "script:s.js", "iframe:f.html", "frame:g.html",
                                            "css:c.css"}));
  const std::string text = kt::WideToUtf8(rewritten);
  EXPECT_NE(text.find("http://cdn/a.html"), std::string::npos) << text;
  EXPECT_NE(text.find("http://cdn/c.css"), std::string::npos) << text;
  // Escaped text stays escaped: the page never gains markup it did not have.
  EXPECT_NE(text.find("&lt;script&gt;"), std::string::npos) << text;
}

}  // namespace
}  // namespace tidewell
