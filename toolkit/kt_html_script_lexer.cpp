// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_script_lexer.h"

#include <string_view>

#include "toolkit/kt_html_scan.h"
#include "toolkit/kt_utils.h"

namespace kt {
namespace {

using namespace html_scan;

// What the last token was; only kOperator lets a "/" open a regular
// expression.
enum class Token : uint8_t { kNone, kNoClass, kWord, kNumber, kRegExp, kString, kClose, kIncDec, kOperator };

bool IsJsWhiteSpace(WideChar c) {
  return c <= 0x20 || (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 || c == 0x3000;
}
bool IsLineEnd(WideChar c) { return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029; }
bool IsLineCommentStop(WideChar c) { return IsLineEnd(c) || c == u'-'; }
bool IsIdentifierStart(WideChar c) {
  return IsLetter(c) || c == u'$' || c == u'_' || (c >= 0x80 && !IsJsWhiteSpace(c) && c != 0xFEFF);
}
bool IsIdentifierChar(WideChar c) { return IsIdentifierStart(c) || IsCharDigitW(c); }
bool IsOperatorChar(WideChar c) { return std::u16string_view(u"!%&(*,.:;=>?[^{|~").find(c) != std::u16string_view::npos; }

template <bool kStore>
class JavaScriptLexer {
 public:
  explicit JavaScriptLexer(TKtUnicodeReader& r) : r_(r) {}

  void Run() {
    while (r_.CharValid) {
      if (!Step()) return;
    }
  }

 private:
  // One token (or white space, or a comment); false at the closing tag.
  bool Step() {
    const WideChar c = r_.Char;
    if (IsJsWhiteSpace(c)) {
      While<kStore>(r_, IsJsWhiteSpace);
    } else if (c == u'"' || c == u'\'') {
      String(c);
    } else if (c == u'/') {
      Slash();
    } else if (c == u'<') {
      return LessThan();
    } else if (IsIdentifierStart(c) || (c == u'\\' && EscapeFollows())) {
      Identifier();
    } else if (IsCharDigitW(c) || (c == u'.' && PeekIsDigit(0))) {
      Number();
    } else if (c == u')' || c == u']' || c == u'}') {
      Single(Token::kClose);
    } else if (c == u'+' || c == u'-') {
      PlusOrMinus(c);
    } else {
      Single(IsOperatorChar(c) ? Token::kOperator : Token::kNoClass);
    }
    return true;
  }

  void Single(Token token) {
    Take<kStore>(r_);
    last_ = token;
  }

  bool PeekIsDigit(uint32_t index) {
    WideChar c;
    return PeekChar(r_, index, c) && IsCharDigitW(c);
  }
  bool PeekIsHex(uint32_t index) {
    WideChar c;
    return PeekChar(r_, index, c) && IsCharHexDigitW(c);
  }
  bool CurrentIs(WideChar c) const { return r_.CharValid && r_.Char == c; }

  void String(WideChar quote) {
    Take<kStore>(r_);
    while (r_.CharValid) {
      Until2Chars<kStore>(r_, quote, u'\\');
      if (!r_.CharValid) break;
      const bool escape = r_.Char == u'\\';
      Take<kStore>(r_);
      if (!escape) break;
      if (r_.CharValid) Take<kStore>(r_);
    }
    last_ = Token::kString;
  }

  void Slash() {
    if (PeekIs(r_, 0, u'*')) {
      BlockComment();
    } else if (PeekIs(r_, 0, u'/')) {
      Take<kStore>(r_);
      Take<kStore>(r_);
      LineComment();
    } else if (last_ != Token::kOperator) {
      Take<kStore>(r_);
      if (CurrentIs(u'=')) Take<kStore>(r_);
      last_ = Token::kOperator;
    } else {
      RegularExpression();
    }
  }

  void BlockComment() {
    Take<kStore>(r_);
    Take<kStore>(r_);
    while (r_.CharValid) {
      UntilChar<kStore>(r_, u'*');
      if (!r_.CharValid) return;
      Take<kStore>(r_);
      if (CurrentIs(u'/')) {
        Take<kStore>(r_);
        return;
      }
    }
  }

  // Runs to a line end (left current) or through "--", more "-", ">".
  void LineComment() {
    while (r_.CharValid) {
      Until<kStore>(r_, IsLineCommentStop);
      if (!CurrentIs(u'-')) return;
      Take<kStore>(r_);
      if (!CurrentIs(u'-')) continue;
      WhileChar<kStore>(r_, u'-');
      if (CurrentIs(u'>')) {
        Take<kStore>(r_);
        return;
      }
    }
  }

  void RegularExpression() {
    Take<kStore>(r_);
    while (r_.CharValid) {
      Until2Chars<kStore>(r_, u'/', u'\\');
      if (!r_.CharValid) break;
      const bool escape = r_.Char == u'\\';
      Take<kStore>(r_);
      if (!escape) {
        While<kStore>(r_, IsLetter);
        break;
      }
      if (r_.CharValid) Take<kStore>(r_);
    }
    last_ = Token::kRegExp;
  }

  bool LessThan() {
    if (EndTagFollows(r_, u"script")) return false;
    if (PeekIs(r_, 0, u'!') && PeekIs(r_, 1, u'-') && PeekIs(r_, 2, u'-')) {
      for (int i = 0; i < 4; ++i) Take<kStore>(r_);
      LineComment();
    } else {
      Single(Token::kOperator);
    }
    return true;
  }

  // "\u" and four hexadecimal digits, or "\x" and two, after the current "\".
  bool EscapeFollows() {
    if (PeekIs(r_, 0, u'u')) return PeekIsHex(1) && PeekIsHex(2) && PeekIsHex(3) && PeekIsHex(4);
    return PeekIs(r_, 0, u'x') && PeekIsHex(1) && PeekIsHex(2);
  }

  void Identifier() {
    while (r_.CharValid) {
      While<kStore>(r_, IsIdentifierChar);
      if (!CurrentIs(u'\\') || !EscapeFollows()) break;
      const int length = PeekIs(r_, 0, u'u') ? 6 : 4;
      for (int i = 0; i < length; ++i) Take<kStore>(r_);
    }
    last_ = Token::kWord;
  }

  void Number() {
    if (CurrentIs(u'0') && (PeekIs(r_, 0, u'x') || PeekIs(r_, 0, u'X')) && PeekIsHex(1)) {
      Take<kStore>(r_);
      Take<kStore>(r_);
      While<kStore>(r_, IsCharHexDigitW);
    } else {
      While<kStore>(r_, IsCharDigitW);
      if (CurrentIs(u'.')) {
        Take<kStore>(r_);
        While<kStore>(r_, IsCharDigitW);
      }
      if ((CurrentIs(u'e') || CurrentIs(u'E')) && ExponentFollows()) {
        Take<kStore>(r_);
        if (CurrentIs(u'+') || CurrentIs(u'-')) Take<kStore>(r_);
        While<kStore>(r_, IsCharDigitW);
      }
    }
    last_ = Token::kNumber;
  }

  bool ExponentFollows() {
    if (PeekIsDigit(0)) return true;
    return (PeekIs(r_, 0, u'+') || PeekIs(r_, 0, u'-')) && PeekIsDigit(1);
  }

  void PlusOrMinus(WideChar c) {
    Take<kStore>(r_);
    if (CurrentIs(c)) {
      Take<kStore>(r_);
      last_ = Token::kIncDec;
    } else {
      last_ = Token::kOperator;
    }
  }

  TKtUnicodeReader& r_;
  Token last_ = Token::kNone;
};

}  // namespace

template <bool kStore>
void ReadJavaScriptBody(TKtUnicodeReader& reader) {
  JavaScriptLexer<kStore>(reader).Run();
}

template void ReadJavaScriptBody<true>(TKtUnicodeReader& reader);
template void ReadJavaScriptBody<false>(TKtUnicodeReader& reader);

}  // namespace kt
