// SPDX-License-Identifier: MIT
#include "engine/tidewell_charset_helper.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

struct Conversion {
  bool converted;
  std::string output;
};

Conversion Convert(const std::string& document) {
  kt::TMemoryStream input;
  input.WriteBuffer(document.data(), static_cast<int64_t>(document.size()));
  kt::TMemoryStream output;
  const bool converted = ConvertXmlToUtf8(input, output);
  EXPECT_EQ(output.Position(), 0);
  return {converted, output.ToString()};
}

TEST(ConvertXmlToUtf8Test, DeclaredEncodingIsRewrittenAsUtf8WithOneDeclaration) {
  // "Привет" in windows-1251, and an ampersand that must stay escaped.
  const std::string document =
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<!-- before -->\n"
      "<rss><title>\xCF\xF0\xE8\xE2\xE5\xF2 &amp; co</title> <x a=\"1\"/></rss>\n<!-- after -->";
  const Conversion result = Convert(document);
  EXPECT_TRUE(result.converted);
  EXPECT_EQ(result.output,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
            "<rss><title>\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 &amp; co</title> <x a=\"1\"/></rss>");
}

TEST(ConvertXmlToUtf8Test, DocumentsWithoutAUsableDeclarationAreLeftAlone) {
  EXPECT_FALSE(Convert("<rss><title>x</title></rss>").converted);
  EXPECT_FALSE(Convert("<?xml version=\"1.0\" encoding=\"x\"?><rss/>").converted);
  EXPECT_FALSE(Convert("<?xml version=\"1.0\" encoding=windows-1251><rss/>").converted);
  // The declaration must stand in the first 1024 bytes.
  EXPECT_FALSE(Convert(std::string(1100, ' ') + "<?xml version=\"1.0\" encoding=\"koi8-r\"?><rss/>").converted);
}

TEST(ConvertXmlToUtf8Test, SingleQuotedDeclarationIsHonoured) {
  const Conversion result = Convert("<?xml version='1.0' encoding='iso-8859-1'?><a>\xE9</a>");
  EXPECT_TRUE(result.converted);
  EXPECT_EQ(result.output, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA9</a>");
}

TEST(ConvertXmlToUtf8Test, UnreadableDocumentsWriteNothingButCountAsHandled) {
  const Conversion unknown = Convert("<?xml version=\"1.0\" encoding=\"no-such-set\"?><a/>");
  EXPECT_TRUE(unknown.converted);
  EXPECT_EQ(unknown.output, "");
  const Conversion broken = Convert("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a><b></a>");
  EXPECT_TRUE(broken.converted);
  EXPECT_EQ(broken.output, "");
}

}  // namespace
}  // namespace tidewell
