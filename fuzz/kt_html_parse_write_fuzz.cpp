// SPDX-License-Identifier: MIT
// libFuzzer target for parsing and writing HTML. The first input byte
// chooses the switches and the filters; the rest is the page, read as
// ISO-8859-1 or UTF-8 and written through a writer plugin. Checks: nothing
// crashes; a plugin that only listens (fiShowLocal) never changes what the
// caller sees; a reset parser writes the same page the same way again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/kt_html_charset_plugin.h"
#include "toolkit/kt_html_names.h"
#include "toolkit/kt_html_parser.h"
#include "toolkit/kt_html_writer_plugin.h"
#include "toolkit/kt_unicode_codecs.h"

namespace {

using kt::TKtFilter;
using kt::TKtHtmlPieceKind;

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

struct Seen {
  int kind;
  std::u16string data;
  bool operator==(const Seen&) const = default;
};

void Configure(kt::TKtHtmlParser& parser, uint8_t flags) {
  parser.EnableASP = flags & 1;
  parser.EnablePHP = flags & 2;
  parser.EnableSSI = flags & 4;
  parser.EnableCustomTags = flags & 8;
  parser.NormalizeWhiteSpace = flags & 16;
  for (int k = 1; k < kt::kHtmlPieceKindCount; ++k) parser.SetFilter(static_cast<TKtHtmlPieceKind>(k), TKtFilter::fiShow);
  parser.FilterHtmlTags().SetStartAndEndTags(TKtFilter::fiShow);
  parser.FilterCustomTags().SetStartAndEndTags(TKtFilter::fiShow);
  parser.FilterSsiTags().SetStartAndEndTags(TKtFilter::fiShow);
}

void Listen(kt::TKtHtmlWriterPlugin& writer, uint8_t flags) {
  for (int k = 1; k < kt::kHtmlPieceKindCount; ++k) writer.SetFilter(static_cast<TKtHtmlPieceKind>(k), TKtFilter::fiShowLocal);
  writer.FilterHtmlTags().SetStartAndEndTags(TKtFilter::fiShowLocal);
  writer.FilterCustomTags().SetStartAndEndTags(TKtFilter::fiShowLocal);
  writer.FilterSsiTags().SetStartAndEndTags(TKtFilter::fiShowLocal);
  writer.Writer().EmptyHtmlAttribValues = flags & 32;
  writer.Writer().QuoteHtmlTags = static_cast<kt::TKtQuoteTags>((flags >> 6) % 3);
}

std::vector<Seen> Read(kt::TKtHtmlParser& parser, const uint8_t* page, size_t size, bool utf8) {
  parser.Reset();
  if (utf8) parser.SetReadMethods({nullptr, kt::Read_UTF_8, nullptr});
  parser.SourceBufferEx(page, static_cast<uint32_t>(size));
  std::vector<Seen> seen;
  while (parser.ReadNextPiece()) seen.push_back({static_cast<int>(parser.PieceKind()), parser.GetData()});
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = [] {
    kt::RegisterHtmlTagNames();
    kt::RegisterHtmlAttribNames();
    return true;
  }();
  (void)registered;
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  const bool utf8 = flags & 128;

  kt::TKtHtmlParser alone;
  Configure(alone, flags);
  const std::vector<Seen> expected = Read(alone, data + 1, size - 1, utf8);

  kt::TKtHtmlParser parser;
  Configure(parser, flags);
  kt::TKtHtmlWriterPlugin writer;
  Listen(writer, flags);
  parser.AddPluginLast(&writer);
  Check(Read(parser, data + 1, size - 1, utf8) == expected);
  writer.Writer().Flush();
  const std::string first = writer.Writer().Bytes();
  writer.Writer().BufPos = 0;
  Read(parser, data + 1, size - 1, utf8);
  writer.Writer().Flush();
  Check(writer.Writer().Bytes() == first);

  // The character-set plugin may switch decoders in the middle of the page.
  kt::TKtHtmlCharSetPlugin charset;
  parser.AddPluginFirst(&charset);
  Read(parser, data + 1, size - 1, false);
  return 0;
}
