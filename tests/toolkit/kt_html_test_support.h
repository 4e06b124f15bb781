// SPDX-License-Identifier: MIT
// Helpers of the HTML reader tests: the name tables, and the pieces a
// tokenizer cuts from a text.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "toolkit/kt_html_names.h"
#include "toolkit/kt_html_tokenizer.h"
#include "toolkit/kt_unicode_encodings.h"

namespace kt::testing_html {

// The engine fills the tables once at start-up; tests do the same.
inline void RegisterNames() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHtmlTagNames();
    RegisterHtmlAttribNames();
  });
}

struct Piece {
  TKtHtmlPieceKind kind;
  std::string data;  // UTF-8 of GetData
  bool operator==(const Piece&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Piece& p) {
  return os << "{" << static_cast<int>(p.kind) << ", \"" << p.data << "\"}";
}

// Reads text as UTF-16 from the start (the name tables filled).
inline void SourceText(TKtHtmlTokenizer& tokenizer, const WideString& text) {
  RegisterNames();
  tokenizer.SetReadMethods(ReadMethods_UTF_16LE);
  tokenizer.SourceWideStr(text);
}

// Every piece the tokenizer returns, as kind and data.
inline std::vector<Piece> PiecesOf(TKtHtmlTokenizer& tokenizer, const WideString& text) {
  RegisterNames();
  SourceText(tokenizer, text);
  std::vector<Piece> pieces;
  while (tokenizer.ReadNextPiece()) pieces.push_back({tokenizer.PieceKind(), WideToUtf8(tokenizer.GetData())});
  return pieces;
}

inline std::vector<Piece> PiecesOf(const std::string& utf8) {
  TKtHtmlTokenizer tokenizer;
  const WideString text = Utf8ToWide(utf8);
  return PiecesOf(tokenizer, text);
}

}  // namespace kt::testing_html
