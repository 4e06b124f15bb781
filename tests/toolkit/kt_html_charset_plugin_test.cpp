// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_charset_plugin.h"

#include <gtest/gtest.h>

#include "kt_html_test_support.h"
#include "toolkit/kt_html_parser.h"
#include "toolkit/kt_unicode_codecs.h"
#include "toolkit/kt_unicode_encodings.h"

namespace kt {
namespace {

using F = TKtFilter;

// Reads bytes through a parser with the plugin chained first; returns the
// text pieces and the names the plugin's event saw.
struct CharSetRun {
  TKtHtmlParser parser;
  TKtHtmlCharSetPlugin plugin;
  std::vector<std::string> names;
  bool allow = true;

  CharSetRun() {
    parser.AddPluginFirst(&plugin);
    parser.SetFilterText(F::fiShow);
    plugin.OnCharSetChange = [this](TKtHtmlCharSetPlugin&, const WideString& name, TKtUnicodeReadMethods&,
                                    bool& allow_change) {
      names.push_back(WideToUtf8(name));
      allow_change = allow;
    };
  }

  std::vector<std::string> Texts(const std::string& bytes) {
    testing_html::RegisterNames();
    parser.Reset();
    parser.SourceBufferEx(bytes.data(), static_cast<uint32_t>(bytes.size()));
    std::vector<std::string> texts;
    while (parser.ReadNextPiece()) texts.push_back(WideToUtf8(parser.GetData()));
    return texts;
  }
};

TEST(KtHtmlCharSetPlugin, CharSetNamesAreCutFromTheContent) {
  WideString name;
  EXPECT_TRUE(CharSetOfContent(u"text/html; charset=utf-8", name));
  EXPECT_EQ(name, u"utf-8");
  EXPECT_TRUE(CharSetOfContent(u"text/html; CHARSET = koi8-r", name));
  EXPECT_EQ(name, u"koi8-r");
  EXPECT_FALSE(CharSetOfContent(u"text/html; charset", name));
  EXPECT_TRUE(CharSetOfContent(u"text/html; charset=;", name));
  EXPECT_EQ(name, u"");
}

TEST(KtHtmlCharSetPlugin, NamesAreFoundByNameOrDescription) {
  TKtUnicodeReadMethods methods;
  EXPECT_TRUE(FindCharSetReadMethods(u"utf-8", methods));
  EXPECT_EQ(methods.ReadChar, Read_UTF_8);
  EXPECT_TRUE(FindCharSetReadMethods(u"Windows-1251", methods));
  EXPECT_TRUE(FindCharSetReadMethods(u"iso-8859-2", methods));
  EXPECT_TRUE(FindCharSetReadMethods(u"KOI8-R", methods));
  EXPECT_FALSE(FindCharSetReadMethods(u"x-unknown", methods));
  EXPECT_FALSE(FindCharSetReadMethods(u"", methods));
  EXPECT_FALSE(FindCharSetReadMethods(u"UTF-16LE", methods));
}

TEST(KtHtmlCharSetPlugin, MetaDeclarationSwitchesTheDecoderForWhatFollows) {
  CharSetRun run;
  run.plugin.OnCharSetChange = nullptr;
  EXPECT_EQ(run.Texts("\xc3\xa9<meta http-equiv=content-type content='text/html; charset=UTF-8'>\xc3\xa9"),
            (std::vector<std::string>{"\xc3\x83\xc2\xa9", "\xc3\xa9"}));
  // Reset returns to ISO-8859-1.
  EXPECT_EQ(run.Texts("\xc3\xa9"), (std::vector<std::string>{"\xc3\x83\xc2\xa9"}));
}

TEST(KtHtmlCharSetPlugin, MetaCharsetAttributeDeclaresTheSet) {
  testing_html::RegisterNames();
  WideString name;
  TKtHtmlTag tag;
  tag.ParseTagString(u"<meta charset=' UTF-8 ' http-equiv=Content-Type content='text/html; charset=koi8-r'>");
  EXPECT_TRUE(CharSetOfMeta(tag, name));
  EXPECT_EQ(name, u"UTF-8") << "the attribute, trimmed, before the content of the same tag";
  tag.ParseTagString(u"<meta charset=' ' http-equiv=Content-Type content='text/html; charset=koi8-r'>");
  EXPECT_TRUE(CharSetOfMeta(tag, name));
  EXPECT_EQ(name, u"koi8-r");
  tag.ParseTagString(u"<meta charset>");
  EXPECT_FALSE(CharSetOfMeta(tag, name));

  CharSetRun run;
  run.plugin.OnCharSetChange = nullptr;
  EXPECT_EQ(run.Texts("\xc3\xa9<meta charset=utf-8>\xc3\xa9"), (std::vector<std::string>{"\xc3\x83\xc2\xa9", "\xc3\xa9"}));
  EXPECT_EQ(run.Texts("<meta charset=windows-1251>\xcd\xee"), (std::vector<std::string>{"\xd0\x9d\xd0\xbe"}));
}

TEST(KtHtmlCharSetPlugin, FirstAllowedDeclarationWinsUntilReset) {
  CharSetRun run;
  run.plugin.OnCharSetChange = nullptr;
  EXPECT_EQ(run.Texts("<meta charset=utf-8><meta http-equiv=Content-Type content='charset=windows-1251'>"
                      "<?xml version='1.0' encoding='koi8-r'?><meta charset=iso-8859-1>\xc3\xa9"),
            (std::vector<std::string>{"\xc3\xa9"}));
  EXPECT_EQ(run.Texts("<?xml version='1.0' encoding='utf-8'?><meta charset=windows-1251>\xc3\xa9"),
            (std::vector<std::string>{"\xc3\xa9"}));
  // A name not found, or a 16-bit one, keeps the decoder and is no declaration.
  EXPECT_EQ(run.Texts("<meta charset=x-unknown><meta charset=utf-16><meta charset=utf-8>\xc3\xa9"),
            (std::vector<std::string>{"\xc3\xa9"}));
  EXPECT_EQ(run.Texts("<?xml version='1.0' encoding='utf-16'?><meta http-equiv=Content-Type "
                      "content='charset=x-unknown'><meta charset=windows-1251><meta charset=utf-8>\xcd\xee"),
            (std::vector<std::string>{"\xd0\x9d\xd0\xbe"}));

  // A refused declaration leaves the next one free to decide.
  CharSetRun refusing;
  refusing.plugin.OnCharSetChange = [&refusing](TKtHtmlCharSetPlugin&, const WideString& name,
                                                TKtUnicodeReadMethods&, bool& allow) {
    refusing.names.push_back(WideToUtf8(name));
    allow = name != u"windows-1251";
  };
  EXPECT_EQ(refusing.Texts("<meta charset=windows-1251><meta charset=utf-8><meta charset=koi8-r>\xc3\xa9"),
            (std::vector<std::string>{"\xc3\xa9"}));
  EXPECT_EQ(refusing.names, (std::vector<std::string>{"windows-1251", "utf-8"}));

  // A name the owner finds is the declaration, though the table lacks it.
  CharSetRun finding;
  finding.plugin.OnCharSetChange = [](TKtHtmlCharSetPlugin&, const WideString& name, TKtUnicodeReadMethods& methods,
                                      bool&) {
    if (name == u"x-mine") methods = {nullptr, Read_UTF_8, nullptr};
  };
  EXPECT_EQ(finding.Texts("<meta charset=x-mine><meta charset=windows-1251>\xc3\xa9"),
            (std::vector<std::string>{"\xc3\xa9"}));
}

TEST(KtHtmlCharSetPlugin, MetaCharsetFollowsTheRulesForUnknownAndWideNames) {
  CharSetRun run;
  run.plugin.OnCharSetChange = nullptr;
  run.plugin.DefaultReadMethods = {nullptr, Read_UTF_8, nullptr};
  EXPECT_EQ(run.Texts("<meta charset=x-bogus>\xc3\xa9"), (std::vector<std::string>{"\xc3\xa9"}));
  EXPECT_EQ(run.Texts("<meta charset=utf-16>\xc3\xa9"), (std::vector<std::string>{"\xc3\xa9"}));
  run.plugin.DefaultReadMethods = ReadMethods_UTF_16LE;
  const WideString page = u"<meta charset=windows-1251>\u00e9\u20ac";
  run.Texts(std::string(reinterpret_cast<const char*>(page.data()), page.size() * 2));
  EXPECT_EQ(run.parser.GetData(), u"\u00e9\u20ac");
}

TEST(KtHtmlCharSetPlugin, OnlyContentTypeDeclarationsCount) {
  CharSetRun run;
  run.Texts("<meta name=Content-Type content='text/html; charset=utf-8'>"
            "<meta http-equiv=Content-Type content='text/html'>"
            "<meta http-equiv=Content-Type content='text/html; charset=koi8-r'>");
  EXPECT_EQ(run.names, (std::vector<std::string>{"koi8-r"}));
}

TEST(KtHtmlCharSetPlugin, RefusedOrUnknownNamesKeepTheDecoder) {
  CharSetRun run;
  run.allow = false;
  EXPECT_EQ(run.Texts("<meta http-equiv=Content-Type content='charset=utf-8'>\xc3\xa9"),
            (std::vector<std::string>{"\xc3\x83\xc2\xa9"}));
  run.allow = true;
  run.plugin.DefaultReadMethods = {nullptr, Read_UTF_8, nullptr};
  EXPECT_EQ(run.Texts("<meta http-equiv=Content-Type content='charset=x-bogus'>\xc3\xa9"),
            (std::vector<std::string>{"\xc3\xa9"}));
  EXPECT_EQ(run.names, (std::vector<std::string>{"utf-8", "x-bogus"}));
}

TEST(KtHtmlCharSetPlugin, PagesReadInSixteenBitUnitsKeepTheirDecoder) {
  CharSetRun run;
  run.plugin.DefaultReadMethods = ReadMethods_UTF_16LE;
  const WideString page = u"<meta http-equiv=Content-Type content='text/html; charset=utf-8'>\u00e9\u20ac";
  run.Texts(std::string(reinterpret_cast<const char*>(page.data()), page.size() * 2));
  EXPECT_EQ(run.names, (std::vector<std::string>{"utf-8"}));
  EXPECT_EQ(run.parser.GetData(), u"\u00e9\u20ac");
}

TEST(KtHtmlCharSetPlugin, XmlDeclarationEncodingSwitchesTheDecoder) {
  CharSetRun run;
  EXPECT_EQ(run.Texts("<?xml version='1.0' encoding=' utf-8 '?>\xc3\xa9"), (std::vector<std::string>{"\xc3\xa9"}));
  EXPECT_EQ(run.names, (std::vector<std::string>{"utf-8"}));
  EXPECT_EQ(run.Texts("<?xml version='1.0'?>\xc3\xa9"), (std::vector<std::string>{"\xc3\x83\xc2\xa9"}));
  EXPECT_EQ(run.names.size(), 1u);
}

TEST(KtHtmlCharSetPlugin, MetaTagsStillReachTheCallerAsConfigured) {
  CharSetRun run;
  run.parser.SetFilterText(F::fiHide);
  run.parser.FilterHtmlTags().SetStartTags(F::fiShowHidden);
  EXPECT_EQ(run.Texts("<meta http-equiv=Content-Type content='charset=utf-8'><p>").size(), 2u);
  EXPECT_EQ(run.names.size(), 1u);
}

}  // namespace
}  // namespace kt
