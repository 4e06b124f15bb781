// SPDX-License-Identifier: MIT
// libFuzzer target for the HTML tokenizer. The first input byte chooses the
// switches (ASP, PHP, SSI, custom tags, white-space normalisation, trimming,
// UTF-8 or ISO-8859-1 decoding); the rest is the page. Checks: nothing
// crashes, and the storing and skipping readers always stop at the same
// character, both over whole pages and reader by reader, SSI tags included
// (the seed "ssi_references" starts the search with character references
// that end right before an SSI tag's "-->").
#include <cstddef>
#include <cstdint>
#include <vector>

#include "toolkit/kt_html_names.h"
#include "toolkit/kt_html_tag.h"
#include "toolkit/kt_html_tokenizer.h"
#include "toolkit/kt_unicode_codecs.h"

namespace {

using kt::TKtHtmlPieceKind;

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// Stores everything, or everything but HTML tags (whose attributes decide
// what the next piece is) skipped.
class RoutedTokenizer : public kt::TKtHtmlTokenizer {
 public:
  explicit RoutedTokenizer(bool skip) : skip_(skip) {}

 protected:
  uint32_t PieceRoute(TKtHtmlPieceKind kind, bool, uint32_t) const override {
    return (skip_ && kind != TKtHtmlPieceKind::pkHtmlTag) ? kRouteShow : kRouteShow | kRouteRead;
  }

 private:
  bool skip_;
};

struct End {
  int kind;
  uint32_t pos;
  bool valid;
  char16_t current;
  bool operator==(const End&) const = default;
};

void Configure(kt::TKtHtmlTokenizer& t, uint8_t flags, const uint8_t* page, size_t size) {
  t.EnableASP = flags & 1;
  t.EnablePHP = flags & 2;
  t.EnableSSI = flags & 4;
  t.EnableCustomTags = flags & 8;
  t.NormalizeWhiteSpace = flags & 16;
  t.TrimAttribValues = flags & 32;
  if (flags & 64) t.SetReadMethods({nullptr, kt::Read_UTF_8, nullptr});
  if (flags & 128) t.DefaultContentScriptType = u"text/javascript";
  t.SourceBufferEx(page, static_cast<uint32_t>(size));
}

std::vector<End> Ends(bool skip, uint8_t flags, const uint8_t* page, size_t size) {
  RoutedTokenizer t(skip);
  Configure(t, flags, page, size);
  std::vector<End> ends;
  while (t.ReadNextPiece()) ends.push_back({static_cast<int>(t.PieceKind()), t.CharPos, t.CharValid, t.Char});
  return ends;
}

End ReaderEnd(TKtHtmlPieceKind kind, bool store, bool endTag, uint8_t flags, const uint8_t* page, size_t size) {
  kt::TKtHtmlTokenizer t;
  Configure(t, flags, page, size);
  t.ReadChar();
  t.TEST_ReadPiece(kind, store, endTag);
  return {static_cast<int>(kind), t.CharPos, t.CharValid, t.Char};
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
  const uint8_t* page = data + 1;
  const size_t length = size - 1;
  Check(Ends(false, flags, page, length) == Ends(true, flags, page, length));
  for (int kind = 1; kind < kt::kHtmlPieceKindCount; ++kind) {
    const auto k = static_cast<TKtHtmlPieceKind>(kind);
    for (bool endTag : {false, true}) {
      Check(ReaderEnd(k, true, endTag, flags, page, length) == ReaderEnd(k, false, endTag, flags, page, length));
    }
  }
  kt::TKtHtmlTag tag;
  tag.ParseTagString(std::u16string(page, page + length));
  return 0;
}
