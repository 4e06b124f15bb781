// SPDX-License-Identifier: MIT
// libFuzzer target for URI parsing, building and resolution. The input is
// UTF-8; a first line, when there is one, is the base and the rest the
// reference, else the whole input is the reference against a fixed base.
// Checks: parsing never fails loudly, valid text builds back to itself,
// built text parses back to the same text, and resolved text is valid.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "toolkit/kt_uri.h"

namespace {

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

bool NoComponents(const kt::TKtUri& uri) {
  return !uri.HasScheme() && !uri.HasHost() && !uri.HasUser() && !uri.HasPassword() &&
         !uri.HasPort() && !uri.HasQuery() && !uri.HasFragment() && uri.Path().empty();
}

// Parse then Build: either the same text, or nothing at all.
void CheckRoundTrip(std::u16string_view text) {
  kt::TKtUri uri;
  if (!uri.Parse(text)) {
    Check(NoComponents(uri) && uri.Build().empty());
    return;
  }
  const kt::WideString built = uri.Build();
  Check(built == text);
  kt::TKtUri again;
  Check(again.Parse(built) && again.Build() == built);
}

void CheckResolution(std::u16string_view base, std::u16string_view relative) {
  kt::WideString result = u"stale";
  if (!kt::ResolveRelativeUri(base, relative, result)) {
    Check(result.empty());
    return;
  }
  kt::TKtUri uri;
  Check(uri.Parse(result) && uri.Build() == result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const kt::WideString text =
      kt::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::u16string_view input(text);
  const size_t newline = input.find(u'\n');
  const std::u16string_view base =
      newline == std::u16string_view::npos ? u"http://a/b/c/d;p?q" : input.substr(0, newline);
  const std::u16string_view relative =
      newline == std::u16string_view::npos ? input : input.substr(newline + 1);
  CheckRoundTrip(base);
  CheckRoundTrip(relative);
  CheckResolution(base, relative);
  return 0;
}
