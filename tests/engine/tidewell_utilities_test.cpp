// SPDX-License-Identifier: MIT
#include "engine/tidewell_utilities.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "support/temp_folder.h"
#include "toolkit/stream.h"

namespace tidewell {
namespace {

using testing_support::TempFolder;

WideString W(const std::string& text) { return kt::Utf8ToWide(text); }

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

TEST(TextRoutinesTest, TextToBoolAcceptsOneAndTrue) {
  for (const char* yes : {"1", " true ", "TRUE", "True"}) EXPECT_TRUE(TextToBool(yes)) << yes;
  for (const char* no : {"0", "", "yes", "2", "truely"}) EXPECT_FALSE(TextToBool(no)) << no;
}

TEST(TextRoutinesTest, CommaTextAndOrdinalCompare) {
  EXPECT_EQ(IntArrayToCommaText({}), "");
  EXPECT_EQ(IntArrayToCommaText({7}), "7");
  EXPECT_EQ(IntArrayToCommaText({1, -2, 30}), "1,-2,30");
  EXPECT_EQ(StrCompare("abc", "abc"), 0);
  EXPECT_LT(StrCompare("B", "a"), 0);
  EXPECT_EQ(StrCompare(std::string("ab\0x", 4), "ab"), 0);
}

TEST(TextRoutinesTest, SemicolonListSkipsBlankParts) {
  std::vector<std::string> list{"kept"};
  SplitSemicolonList(" localhost ; ;127.0.0.1;; *.lan ", list);
  EXPECT_EQ(list, (std::vector<std::string>{"kept", "localhost", "127.0.0.1", "*.lan"}));
  SplitSemicolonList("", list);
  EXPECT_EQ(list.size(), 4u);
}

TEST(TextRoutinesTest, StripHtmlTagsRemovesWholeTagsOnly) {
  EXPECT_EQ(StripHtmlTags(u"<p>Hello <b>world</b></p>"), u"Hello world");
  EXPECT_EQ(StripHtmlTags(u"a < b"), u"a < b");
  EXPECT_EQ(StripHtmlTags(u"x<br/>y<"), u"xy<");
  EXPECT_EQ(StripHtmlTags(u""), u"");
}

TEST(TextRoutinesTest, StringHashIsTheElfHash) {
  EXPECT_EQ(StringHash(""), 0u);
  EXPECT_EQ(StringHash("a"), 97u);
  EXPECT_EQ(StringHash("ab"), 97u * 16 + 98);
  // Long enough that the top bits fold back in: every value stays below 2^28.
  const uint32_t folded = StringHash("the quick brown fox jumps over the lazy dog");
  EXPECT_LT(folded, 1u << 28);
  EXPECT_EQ(folded, StringHash("the quick brown fox jumps over the lazy dog"));
  EXPECT_NE(folded, StringHash("the quick brown fox jumps over the lazy cat"));
}

TEST(HtmlEntityTest, NamesAndNumbersGiveTheirCodes) {
  EXPECT_EQ(HtmlEntityToChar("shy"), 1);
  EXPECT_EQ(HtmlEntityToChar("ndash"), 45);
  EXPECT_EQ(HtmlEntityToChar("65"), 65);
  EXPECT_EQ(HtmlEntityToChar("$41"), 65);
  EXPECT_EQ(HtmlEntityToChar("nosuch"), 32);
  EXPECT_EQ(HtmlEntityToChar("AMP"), 32);  // names are case-sensitive
  EXPECT_EQ(HtmlEntityToChar("iexcl"), 161);
  EXPECT_EQ(HtmlEntityToChar("reg"), 174);
  EXPECT_EQ(HtmlEntityToChar("yuml"), 255);
  EXPECT_EQ(HtmlEntityToChar("Yuml"), 159);
  EXPECT_EQ(HtmlEntityToChar("8364"), 32);
  EXPECT_EQ(HtmlEntityToChar("10"), 32);
  EXPECT_EQ(HtmlEntityToChar("99999999999999999999"), 32);
  EXPECT_EQ(HtmlEntityToChar(""), 32);
}

TEST(HtmlEntityTest, DecodesKnownReferencesEndedBySemicolon) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"a &amp; b", "a & b"},
      {"&#x41;&#X42;&#67;", "ABC"},
      {"&lt;p&gt;", "<p>"},
      {"caf&eacute;", "caf\xC3\xA9"},
      {"wait&hellip;", "wait\xE2\x80\xA6"},
      {"&amp;lt;", "&lt;"},
      {"price &#8364;5", "price  5"},
      {"&nbsp;", " "},
  };
  for (const auto& c : cases) {
    std::string text = c.in;
    DecodeHtmlEntities(text);
    EXPECT_EQ(text, c.out) << c.in;
  }
}

TEST(HtmlEntityTest, LeavesAmpersandsThatStartNoReference) {
  for (const char* kept : {"http://h/e.mp3?a=1&b=2", "AT&T", "a & b", "&amp b", "&nosuch;", "&;", "&#;", "&#x;",
                           "&#12a;", "&#xZZ;", "tail&", "&AMP;"}) {
    std::string text = kept;
    DecodeHtmlEntities(text);
    EXPECT_EQ(text, kept);
  }
}

TEST(HtmlEntityTest, LongRunsOfAmpersandsStayAsTheyAre) {
  std::string text(200000, '&');
  text += "&amp;";
  DecodeHtmlEntities(text);
  EXPECT_EQ(text, std::string(200001, '&'));
  std::string padded = "&#" + std::string(40, '0') + "65;";
  const std::string original = padded;
  DecodeHtmlEntities(padded);
  EXPECT_EQ(padded, original);
}

TEST(Md5Test, StreamsAndBytesGiveUpperCaseHex) {
  EXPECT_EQ(StreamMD5Hex(nullptr), "");
  kt::TMemoryStream empty;
  EXPECT_EQ(StreamMD5Hex(&empty), "D41D8CD98F00B204E9800998ECF8427E");
  kt::TMemoryStream stream;
  const std::string text = "The quick brown fox jumps over the lazy dog";
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  EXPECT_EQ(StreamMD5Hex(&stream), "9E107D9D372BB6826BD81D3542A419D6");
  EXPECT_EQ(BytesMD5Hex(text), "9E107D9D372BB6826BD81D3542A419D6");
}

TEST(Md5Test, FileStreamsHashTheWholeFileFromItsStart) {
  TempFolder folder;
  std::string body;
  for (int i = 0; i < 200000; ++i) body += static_cast<char>(i * 7);
  std::ofstream(folder.File("body.bin"), std::ios::binary) << body;
  kt::TFileStream file(folder.File("body.bin"), kt::FileMode::OpenRead);
  file.Seek(100, kt::SeekOrigin::Beginning);
  EXPECT_EQ(StreamMD5Hex(&file), BytesMD5Hex(body));
  EXPECT_NE(BytesMD5Hex(body), BytesMD5Hex(body.substr(1)));
}

TEST(SqlPagingTest, PrefixOnlyForAPositiveCount) {
  EXPECT_EQ(SqlPagingPrefix(0, 5), "");
  EXPECT_EQ(SqlPagingPrefix(-1, 0), "");
  EXPECT_EQ(SqlPagingPrefix(10, 0), " FIRST(10) SKIP(0) ");
  EXPECT_EQ(SqlPagingSuffix(10, 20), "");
}

TEST(UrlEncodingTest, EncodesReservedAndNonPrintableBytes) {
  EXPECT_EQ(UrlEncodeChars("abc-XYZ_09.~!"), "abc-XYZ_09.~!");
  EXPECT_EQ(UrlEncodeChars("a b&c/d:e;f<g=h>i?j\\k"), "a%20b%26c%2Fd%3Ae%3Bf%3Cg%3Dh%3Ei%3Fj%5Ck");
  EXPECT_EQ(UrlEncodeChars("caf\xC3\xA9\x7F\n"), "caf%C3%A9%7F%0A");
  EXPECT_EQ(UrlEncodeChars("100%41"), "100%2541");
}

TEST(UrlEncodingTest, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string encoded = UrlEncodeChars(all);
  std::string decoded;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '%') {
      decoded += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += encoded[i];
    }
  }
  EXPECT_EQ(decoded, all);
  EXPECT_EQ(encoded.find_first_of("&/:;<=>?\\ "), std::string::npos);
}

TEST(UrlRoutinesTest, SchemeTests) {
  EXPECT_TRUE(IsHttpUrl(" HTTP://h/x"));
  EXPECT_TRUE(IsHttpUrl("https://h"));
  EXPECT_FALSE(IsHttpUrl("ftp://h"));
  EXPECT_TRUE(IsHttpsUrl(" Https:x"));
  EXPECT_FALSE(IsHttpsUrl("http://h"));
  EXPECT_EQ(GetUrlProtocol("https://h/x"), "https");
  EXPECT_EQ(GetUrlProtocol("h/x"), "");
  EXPECT_EQ(TrimTrailingUrlMarks(" http://h/x?%?% "), "http://h/x");
  EXPECT_EQ(TrimTrailingUrlMarks("http://h/x?a=1"), "http://h/x?a=1");
}

TEST(UrlRoutinesTest, SplitUrlGivesHostAndBase) {
  std::string host, base;
  SplitUrl("http://h/a/b.xml", host, base);
  EXPECT_EQ(host, "http://h");
  EXPECT_EQ(base, "http://h/a/");
  SplitUrl("http://h:8080/feed.xml?x=/y", host, base);
  EXPECT_EQ(host, "http://h:8080");
  EXPECT_EQ(base, "http://h:8080/");
  SplitUrl("https://h", host, base);
  EXPECT_EQ(host, "https://h");
  EXPECT_EQ(base, "https://h/");
  SplitUrl("   ", host, base);
  EXPECT_EQ(host + base, "");
  SplitUrl("/a/b", host, base);
  EXPECT_EQ(host, "");
  EXPECT_EQ(base, "/a/");
}

TEST(UrlRoutinesTest, ResolveUrlMakesLinksAbsolute) {
  const std::string base = "http://feeds.example.org/shows/daily/feed.xml?fmt=rss";
  const struct {
    const char* link;
    const char* absolute;
  } cases[] = {
      {"ep1.mp3", "http://feeds.example.org/shows/daily/ep1.mp3"},
      {"../weekly/", "http://feeds.example.org/shows/weekly/"},
      {"/about", "http://feeds.example.org/about"},
      {"//cdn.example.net/e.mp3", "http://cdn.example.net/e.mp3"},
      {"?page=2", "http://feeds.example.org/shows/daily/?page=2"},
      {"#top", "http://feeds.example.org/shows/daily/feed.xml?fmt=rss#top"},
      {"https://other.example/x", "https://other.example/x"},
      {"caf\xC3\xA9.html", "http://feeds.example.org/shows/daily/caf\xC3\xA9.html"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveUrl(base, c.link), c.absolute) << c.link;
}

TEST(UrlRoutinesTest, ResolveUrlKeepsALinkItCannotResolve) {
  EXPECT_EQ(ResolveUrl("http://bad_host/feed", "ep.mp3"), "ep.mp3");
  EXPECT_EQ(ResolveUrl("http://bad_host/feed", "http://good.example/ep.mp3"), "http://good.example/ep.mp3");
}

TEST(UrlRoutinesTest, NormalizeUrlAddsHttpOnlyWithoutAScheme) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"  example.org/feed.xml  ", "http://example.org/feed.xml"},
      {" https://example.org/feed ", "https://example.org/feed"},
      {"ftp://h/x", "ftp://h/x"},
      {"HTTP://H/X", "HTTP://H/X"},
      {"svn+ssh://h/x", "svn+ssh://h/x"},
      {"example.org/?u=https://other/", "http://example.org/?u=https://other/"},
      {"localhost:8080/feed", "http://localhost:8080/feed"},
  };
  for (const auto& c : cases) {
    std::string url = c.in;
    NormalizeUrl(url);
    EXPECT_EQ(url, c.out) << c.in;
  }
  std::string blank = "   ";
  try {
    NormalizeUrl(blank);
    FAIL();
  } catch (const kt::Exception& error) {
    EXPECT_EQ(error.Message(), "Invalid URL !");
  }
}

TEST(UrlRoutinesTest, StripUrlSchemeRemovesTheFirstKnownScheme) {
  EXPECT_EQ(StripUrlScheme(" HTTP://h/x "), "h/x");
  EXPECT_EQ(StripUrlScheme("feed:https://h/x"), "h/x");
  EXPECT_EQ(StripUrlScheme("ftp://h/x"), "h/x");
  EXPECT_EQ(StripUrlScheme("h/x"), "h/x");
}

TEST(FileNameTest, UrlDocumentReplacesTheNineUnsafeCharacters) {
  EXPECT_EQ(UrlDocumentToFileName("http://h/dir/a:b.mp3"), "a_b.mp3");
  EXPECT_EQ(UrlDocumentToFileName("http://h/e.mp3"), "e.mp3");
  EXPECT_EQ(UrlDocumentToFileName("http://h/x/*\"<>|\\.ogg"), "______.ogg");
  // The query is left out; the name comes from the path alone.
  EXPECT_EQ(UrlDocumentToFileName("http://h/e.mp3?a=1&b=/c"), "e.mp3");
  EXPECT_EQ(UrlDocumentToFileName("http://h/a:b?.mp3"), "a_b");
}

TEST(FileNameTest, UrlDocumentNeverLeavesItsFolder) {
  for (const char* url : {"http://h/", "http://h", "http://h/..", "http://h/a/.", "http://h/...", "http://h/%20/  "}) {
    const std::string name = UrlDocumentToFileName(url);
    EXPECT_NE(name, "");
    EXPECT_NE(name.find_first_not_of('.'), std::string::npos) << url;
    EXPECT_EQ(name.find('/'), std::string::npos) << url;
  }
  EXPECT_EQ(UrlDocumentToFileName("http://h/.."), "download");
  EXPECT_EQ(MakeSafeFileName(std::string("a\0b\n.mp3", 8)), "a_b_.mp3");
}

TEST(FileNameTest, OverlongNamesAreShortenedKeepingTheirExtension) {
  const std::string longName = std::string(300, 'e') + ".mp3";
  const std::string shortened = UrlDocumentToFileName("http://h/" + longName);
  EXPECT_LE(shortened.size(), 240u);
  EXPECT_EQ(shortened.substr(shortened.size() - 4), ".mp3");
  // A cut never splits a multi-byte character.
  std::string accents;
  for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";
  const std::string cut = MakeSafeFileName(accents + ".ogg");
  EXPECT_EQ(kt::WideToUtf8(kt::Utf8ToWide(cut)), cut);
  EXPECT_EQ(cut.substr(cut.size() - 4), ".ogg");
  TempFolder folder;
  std::ofstream(folder.File(shortened)) << "fits";
  EXPECT_TRUE(std::filesystem::exists(folder.File(shortened)));
}

TEST(FileNameTest, ContentDispositionFileName) {
  EXPECT_EQ(ExtractContentDispositionFileName("attachment; filename=a.mp3"), "a.mp3");
  EXPECT_EQ(ExtractContentDispositionFileName("attachment; filename=\"a.mp3\"; size=3"), "a.mp3");
  EXPECT_EQ(ExtractContentDispositionFileName("attachment; FileName='../x/a.mp3'"), "..xa.mp3");
  EXPECT_EQ(ExtractContentDispositionFileName("attachment; filename=dir\\a.mp3"), "dir");
  EXPECT_EQ(ExtractContentDispositionFileName("inline"), "");
}

TEST(FileNameTest, UsableExtensions) {
  for (const char* name : {"a.mp3", "b.M4A", "c.x", "d.tar.gz"}) EXPECT_TRUE(IsUsableFileExtension(name)) << name;
  for (const char* name : {"a", "a.", "p.PHP", "x.php3", "y.asp", "y.aspx", "z.pl", "t.tmp", "dir.d/file"})
    EXPECT_FALSE(IsUsableFileExtension(name)) << name;
}

TEST(FileNameTest, ExtensionPositionFollowsTheLastFolderSeparator) {
  int32_t position = -1, length = -1;
  WideString extension = u"?";
  ExtractFileExtPos(u"/d/ep.mp3", position, length, extension);
  EXPECT_EQ(std::tie(position, length, extension), std::make_tuple(6, 4, WideString(u".mp3")));
  ExtractFileExtPos(u"C:\\a.b\\file", position, length, extension);
  EXPECT_EQ(std::tie(position, length, extension), std::make_tuple(0, 0, WideString()));
  ExtractFileExtPos(u"name.", position, length, extension);
  EXPECT_EQ(position, 0);
}

TEST(FileNameTest, TempDownloadNamesCarryTheDateAndRandomHex) {
  const std::regex shape("download[0-9]{5,8}[0-9A-F]{8}\\.tmp");
  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) {
    const std::string name = MakeTempDownloadFileName();
    EXPECT_TRUE(std::regex_match(name, shape)) << name;
    names.insert(name);
  }
  // Many downloads in one second do not collide.
  EXPECT_EQ(names.size(), 200u);
}

TEST(ContentTypeTest, RegisteredExtensions) {
  EXPECT_EQ(GetExtensionForContentType("  "), "");
  EXPECT_EQ(GetExtensionForContentType("audio/mpeg"), ".mp3");
  EXPECT_EQ(GetExtensionForContentType("application/x-no-such-type"), "");
}

TEST(ContentTypeTest, DocumentTypesInOrder) {
  std::string extension;
  EXPECT_TRUE(ContentTypeToExtension("text/html; charset=utf-8", extension));
  EXPECT_EQ(extension, ".html");
  EXPECT_TRUE(ContentTypeToExtension("application/xml", extension));
  EXPECT_EQ(extension, ".xml");
  EXPECT_TRUE(ContentTypeToExtension("Text/XML", extension));
  EXPECT_EQ(extension, ".xml");
  EXPECT_TRUE(ContentTypeToExtension("text/plain", extension));
  EXPECT_EQ(extension, ".txt");
  extension = "kept";
  EXPECT_FALSE(ContentTypeToExtension("audio/mpeg", extension));
  EXPECT_EQ(extension, "kept");
}

TEST(FileRoutinesTest, DeleteExistsAndMoveWorkOnUnicodeNames) {
  TempFolder folder;
  const WideString name = W(folder.File("\xC3\xA9pisode \xE2\x99\xAA.mp3"));
  Touch(kt::WideToUtf8(name));
  EXPECT_TRUE(FileExistsUni(name));
  EXPECT_FALSE(FileExistsUni(W(folder.Path())));
  const WideString moved = W(folder.File("\xC3\xA9.mp3"));
  EXPECT_TRUE(MoveFileUni(name, moved, kMoveCopyAllowed | kMoveWriteThrough));
  EXPECT_FALSE(FileExistsUni(name));
  EXPECT_TRUE(FileExistsUni(moved));
  EXPECT_TRUE(DeleteFileUni(moved));
  EXPECT_FALSE(DeleteFileUni(moved));
}

TEST(FileRoutinesTest, UniqueNamesNumberBeforeTheExtension) {
  TempFolder folder;
  EXPECT_EQ(MakeUniqueFileName(W(folder.File("ep.mp3"))), W(folder.File("ep.mp3")));
  Touch(folder.File("ep.mp3"));
  EXPECT_EQ(MakeUniqueFileName(W(folder.File("ep.mp3"))), W(folder.File("ep(1).mp3")));
  Touch(folder.File("ep(1).mp3"));
  EXPECT_EQ(MakeUniqueFileName(W(folder.File("ep.mp3"))), W(folder.File("ep(2).mp3")));
  Touch(folder.File("ep"));
  EXPECT_EQ(MakeUniqueFileName(W(folder.File("ep"))), W(folder.File("ep(1)")));
  std::filesystem::create_directory(folder.File("show.ogg"));
  EXPECT_EQ(MakeUniqueFileName(W(folder.File("show.ogg"))), W(folder.File("show(1).ogg")));
}

// Whatever lies on disk and whatever the rows name (files deleted, ends
// lost), the name given is neither.
TEST(FileRoutinesTest, AUniqueNameIsNeitherOnDiskNorNamedByARow) {
  TempFolder folder;
  const auto name = [&](int n) { return folder.File(n == 0 ? "ep.mp3" : "ep(" + std::to_string(n) + ").mp3"); };
  for (int states = 0; states < 729; ++states) {  // each of six names free (0), on disk (1) or named (2)
    std::set<std::string> named;
    for (int n = 0, state = states; n < 6; ++n, state /= 3) {
      std::filesystem::remove(name(n));
      if (state % 3 == 1) Touch(name(n));
      if (state % 3 == 2) named.insert(name(n));
    }
    const auto byRow = [&](const WideString& path) { return named.count(kt::WideToUtf8(path)) > 0; };
    const std::string given = kt::WideToUtf8(MakeUniqueFileName(W(name(0)), byRow));
    EXPECT_TRUE(!std::filesystem::exists(given) && named.count(given) == 0) << states << " " << given;
  }
}

TEST(FileRoutinesTest, UniqueNameGivesUpAfter1024Tries) {
  TempFolder folder;
  Touch(folder.File("e.mp3"));
  for (int n = 1; n <= 1024; ++n) Touch(folder.File("e(" + std::to_string(n) + ").mp3"));
  EXPECT_EQ(MakeUniqueFileName(W(folder.File("e.mp3"))), W(folder.File("e.mp3")));
}

}  // namespace
}  // namespace tidewell
