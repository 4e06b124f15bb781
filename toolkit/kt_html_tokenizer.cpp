// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_tokenizer.h"

#include <type_traits>

#include "toolkit/kt_html_names.h"
#include "toolkit/kt_html_scan.h"
#include "toolkit/kt_html_script_lexer.h"
#include "toolkit/kt_utils.h"

namespace kt {
namespace {

using namespace html_scan;
using Kind = TKtHtmlPieceKind;

constexpr WideChar kReplacementChar = 0xFFFD;

// Windows-1252 at 0x80-0x9F; its five holes give U+FFFD.
constexpr WideChar kWindows1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

bool IsWhiteSpaceAmpOrLt(WideChar c) { return c < 0x21 || c == u'&' || c == u'<'; }
bool IsWhiteSpaceOrGt(WideChar c) { return c < 0x21 || c == u'>'; }
bool IsWhiteSpaceGtOrAmp(WideChar c) { return c < 0x21 || c == u'>' || c == u'&'; }
bool IsWhiteSpaceDashOrAmp(WideChar c) { return c < 0x21 || c == u'-' || c == u'&'; }
bool IsWhiteSpaceOrDash(WideChar c) { return c < 0x21 || c == u'-'; }
bool IsNameCharButDash(WideChar c) { return c != u'-' && IsNameChar(c); }
bool IsSsiQuote(WideChar c) { return c == u'"' || c == u'\'' || c == u'`'; }

// Readers after which the current character already belongs to the next
// piece.
bool LeavesNextChar(Kind kind) {
  return kind == Kind::pkScript || kind == Kind::pkStyle || kind == Kind::pkText || kind == Kind::pkTitle;
}

}  // namespace

WideChar HtmlReferenceChar(uint32_t code) {
  if (code >= 0x80 && code <= 0x9F) return kWindows1252High[code - 0x80];
  // A NUL or a lone surrogate would reach every later consumer of the text.
  if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) return kReplacementChar;
  return static_cast<WideChar>(code);
}

TKtHtmlTokenizer::TKtHtmlTokenizer()
    : html_tag_(NewHtmlTag()), custom_tag_(NewCustomTag()), ssi_tag_(NewSsiTag()) {}

TKtHtmlTokenizer::~TKtHtmlTokenizer() = default;

uint32_t TKtHtmlTokenizer::PieceRoute(Kind, bool, uint32_t) const { return kRouteShow | kRouteRead; }

bool TKtHtmlTokenizer::ReadNextPiece() {
  for (;;) {
    if (DispatchPiece()) return true;
    if (!CharValid) return false;
  }
}

void TKtHtmlTokenizer::Reset() {
  DataLength = 0;
  html_tag_->Clear();
  custom_tag_->Clear();
  ssi_tag_->Clear();
  piece_kind_ = Kind::pkNone;
  pending_body_ = Kind::pkNone;
  pre_depth_ = 0;
  ResetNotify();
}

// Dispatcher ------------------------------------------------------------------

bool TKtHtmlTokenizer::DispatchPiece() {
  // A reader that ran out of input (or a new source) leaves no character
  // behind; asking again reads the new source or fails again.
  if ((!LeavesNextChar(piece_kind_) || !CharValid) && !ReadChar()) return false;
  DataLength = 0;
  piece_start_pos_ = CharPos;
  piece_start_line_ = Line;
  piece_start_column_ = Column;
  if (pending_body_ != Kind::pkNone) {
    const Kind body = pending_body_;
    pending_body_ = Kind::pkNone;
    return ReadBodyPiece(body);
  }
  if (Char == u'<' && Take<true>(*this)) return DispatchMarkup();
  return RunPiece(Kind::pkText, [this](auto store) { ReadText<decltype(store)::value>(); });
}

bool TKtHtmlTokenizer::DispatchMarkup() {
  if (Char == u'!') return DispatchExclamation();
  if (Char == u'?') return DispatchQuestion();
  if (EnableHtmlTags) {
    if (IsLetter(Char)) return ReadHtmlTagPiece(false);
    if (Char == u'/' && PeekIsLetter(*this, 0)) {
      ReadChar();
      return ReadHtmlTagPiece(true);
    }
  }
  if (EnableCustomTags && Char == CustomTagChar) {
    if (PeekIs(*this, 0, u'/') && PeekIsLetter(*this, 1)) {
      ReadChar();
      ReadChar();
      return ReadCustomTagPiece(true);
    }
    if (PeekIsLetter(*this, 0)) {
      ReadChar();
      return ReadCustomTagPiece(false);
    }
  }
  if (EnableASP && Char == u'%') {
    DataLength = 0;
    ReadChar();
    return RunPiece(Kind::pkASP, [this](auto store) { ReadBlock<decltype(store)::value>(u'%'); });
  }
  return RunPiece(Kind::pkText, [this](auto store) { ReadText<decltype(store)::value>(); });
}

bool TKtHtmlTokenizer::DispatchExclamation() {
  DataLength = 0;
  ReadChar();
  auto other = [this](auto store) { ReadUntilGt<decltype(store)::value>(); };
  if (CharValid && Char == u'-') {
    Take<true>(*this);
    if (!CharValid || Char != u'-') return RunPiece(Kind::pkExclamationMarkup, other);
    DataLength = 0;
    ReadChar();
    if (EnableSSI && SsiTagFollows()) {
      ReadChar();
      const bool endTag = Char == u'/';
      if (endTag) ReadChar();
      return ReadSsiTagPiece(endTag);
    }
    return RunPiece(Kind::pkComment, [this](auto store) { ReadComment<decltype(store)::value>(); });
  }
  if (CharValid && (Char == u'D' || Char == u'd') && MatchKeyword(u"doctype")) {
    DataLength = 0;
    ReadChar();
    return RunPiece(Kind::pkDTD, other);
  }
  if (CharValid && Char == u'[' && MatchKeyword(u"[cdata[")) {
    DataLength = 0;
    ReadChar();
    return RunPiece(Kind::pkCDataSection, [this](auto store) { ReadCData<decltype(store)::value>(); });
  }
  return RunPiece(Kind::pkExclamationMarkup, other);
}

bool TKtHtmlTokenizer::DispatchQuestion() {
  DataLength = 0;
  ReadChar();
  if (MatchKeyword(u"xml")) {
    DataLength = 0;
    ReadChar();
    return RunPiece(Kind::pkXmlPI, [this](auto store) { ReadXmlDeclaration<decltype(store)::value>(); });
  }
  // A partly matched "xml" stays in the data and cannot start "php".
  if (EnablePHP && DataLength == 0 && MatchKeyword(u"php")) {
    DataLength = 0;
    ReadChar();
    return RunPiece(Kind::pkPHP, [this](auto store) { ReadBlock<decltype(store)::value>(u'?'); });
  }
  return RunPiece(Kind::pkHtmlPI, [this](auto store) { ReadUntilGt<decltype(store)::value>(); });
}

// Matches the keyword (lower case; letters in either case) from the
// current character. On success its last character is current and nothing
// was collected of it; on a mismatch the matched characters are in the data
// and the first unmatched one is current.
bool TKtHtmlTokenizer::MatchKeyword(std::u16string_view keyword) {
  for (size_t i = 0; i < keyword.size(); ++i) {
    if (!CharValid || LowerAscii(Char) != keyword[i]) return false;
    if (i + 1 == keyword.size()) return true;
    Take<true>(*this);
  }
  return false;
}

bool TKtHtmlTokenizer::SsiTagFollows() {
  if (!CharValid || Char != u'#') return false;
  return PeekIsLetter(*this, 0) || (PeekIs(*this, 0, u'/') && PeekIsLetter(*this, 1));
}

bool TKtHtmlTokenizer::TextEndsAtLessThan() {
  WideChar c;
  if (!PeekChar(*this, 0, c)) return false;
  if (c == u'?' || c == u'!' || c == u'%' || IsLetter(c)) return true;
  if (c == u'/') return PeekIsLetter(*this, 1);
  if (EnableCustomTags && c == CustomTagChar) {
    return PeekIsLetter(*this, 1) || (PeekIs(*this, 1, u'/') && PeekIsLetter(*this, 2));
  }
  return false;
}

// Piece frames ------------------------------------------------------------------

template <typename ReadFn>
bool TKtHtmlTokenizer::RunPiece(Kind kind, ReadFn read) {
  piece_kind_ = kind;
  const uint32_t route = PieceRoute(kind, false, 0);
  if (route & kRouteRead) {
    read(std::true_type{});
  } else {
    read(std::false_type{});
  }
  return Finish(kind, false, 0, route);
}

bool TKtHtmlTokenizer::Finish(Kind kind, bool endTag, uint32_t tagID, uint32_t route) {
  const bool show = (route & kRouteShow) != 0;
  return (route & kRoutePlugins) ? DeliverPiece(kind, endTag, tagID, show) : show;
}

bool TKtHtmlTokenizer::ReadBodyPiece(Kind kind) {
  switch (kind) {
    case Kind::pkScript:
      return RunPiece(kind, [this](auto store) { ReadScriptBody<decltype(store)::value>(); });
    case Kind::pkStyle:
      return RunPiece(kind, [this](auto store) { ReadRawBody<decltype(store)::value>(u"style"); });
    default:
      return RunPiece(kind, [this](auto store) { ReadTitle<decltype(store)::value>(); });
  }
}

void TKtHtmlTokenizer::NameTag(TKtTag& tag, bool endTag) {
  DataLength = 0;
  AddCharsWhile(IsNameChar);
  tag.ClearAttribs();
  tag.TagName.assign(Data.get(), DataLength);
  tag.TagID = HtmlTagID(Data.get(), static_cast<int32_t>(DataLength));
  tag.EndTag = endTag ? 1 : 0;
}

bool TKtHtmlTokenizer::ReadHtmlTagPiece(bool endTag) {
  piece_kind_ = Kind::pkHtmlTag;
  TKtHtmlTag& tag = *html_tag_;
  NameTag(tag, endTag);
  const uint32_t route = PieceRoute(Kind::pkHtmlTag, endTag, tag.TagID);
  if (endTag) {
    ReadTagAttribs<false>(tag);
    if (tag.TagID == html_id::kPre && pre_depth_ > 0) --pre_depth_;
  } else {
    // META is always read: its declarations steer the reading.
    if ((route & kRouteRead) || tag.TagID == html_id::kMeta) {
      ReadTagAttribs<true>(tag);
    } else {
      ReadTagAttribs<false>(tag);
    }
    if (tag.EndTag != 2) OpenElement(tag);
  }
  return Finish(Kind::pkHtmlTag, endTag, tag.TagID, route);
}

void TKtHtmlTokenizer::OpenElement(const TKtHtmlTag& tag) {
  switch (tag.TagID) {
    case html_id::kScript:
      pending_body_ = Kind::pkScript;
      break;
    case html_id::kStyle:
      pending_body_ = Kind::pkStyle;
      break;
    case html_id::kTitle:
      pending_body_ = Kind::pkTitle;
      break;
    case html_id::kPre:
      if (pre_depth_ < 0x7FFFFFFF) ++pre_depth_;
      break;
    case html_id::kMeta:
      if (SameTextW(tag.StringOfCardinal(html_id::kAttribHttpEquiv), u"Content-Script-Type")) {
        if (const auto* content = tag.FindCardinal(html_id::kAttribContent)) ContentScriptType = content->second.Get();
      }
      break;
    default:
      break;
  }
}

bool TKtHtmlTokenizer::ReadCustomTagPiece(bool endTag) {
  piece_kind_ = Kind::pkCustomTag;
  TKtCustomTag& tag = *custom_tag_;
  uint32_t route = PieceRoute(Kind::pkCustomTag, endTag, 0);
  if (!(route & kRouteRead) && !TagRoutesExist(Kind::pkCustomTag)) {
    SkipCharsWhile(IsNameChar);
    ReadTagAttribs<false>(tag);
    return Finish(Kind::pkCustomTag, endTag, 0, route);
  }
  NameTag(tag, endTag);
  route = PieceRoute(Kind::pkCustomTag, endTag, tag.TagID);
  if (!endTag && (route & kRouteRead)) {
    ReadTagAttribs<true>(tag);
  } else {
    ReadTagAttribs<false>(tag);
  }
  return Finish(Kind::pkCustomTag, endTag, tag.TagID, route);
}

bool TKtHtmlTokenizer::ReadSsiTagPiece(bool endTag) {
  piece_kind_ = Kind::pkSsiTag;
  TKtSsiTag& tag = *ssi_tag_;
  uint32_t route = PieceRoute(Kind::pkSsiTag, endTag, 0);
  if (!(route & kRouteRead) && !TagRoutesExist(Kind::pkSsiTag)) {
    ReadSsiName<false>();
    ReadSsiAttribs<false>(tag);
    return Finish(Kind::pkSsiTag, endTag, 0, route);
  }
  DataLength = 0;
  ReadSsiName<true>();
  tag.ClearAttribs();
  tag.TagName.assign(Data.get(), DataLength);
  tag.TagID = HtmlTagID(Data.get(), static_cast<int32_t>(DataLength));
  tag.EndTag = endTag ? 1 : 0;
  route = PieceRoute(Kind::pkSsiTag, endTag, tag.TagID);
  if (!endTag && (route & kRouteRead)) {
    ReadSsiAttribs<true>(tag);
  } else {
    ReadSsiAttribs<false>(tag);
  }
  return Finish(Kind::pkSsiTag, endTag, tag.TagID, route);
}

// Readers of plain pieces ----------------------------------------------------------

// ASP and PHP blocks: up to the closing character followed by ">".
template <bool kStore>
void TKtHtmlTokenizer::ReadBlock(WideChar close) {
  while (CharValid) {
    UntilChar<kStore>(*this, close);
    if (!CharValid) return;
    Take<kStore>(*this);
    if (CharValid && Char == u'>') {
      if constexpr (kStore) --DataLength;
      return;
    }
  }
}

template <bool kStore>
void TKtHtmlTokenizer::ReadCData() {
  while (CharValid) {
    UntilChar<kStore>(*this, u']');
    if (!CharValid) return;
    Take<kStore>(*this);
    while (CharValid && Char == u']') {
      Take<kStore>(*this);
      if (CharValid && Char == u'>') {
        if constexpr (kStore) DataLength -= 2;
        return;
      }
    }
  }
}

// The closing run needs two "-" of its own, any further "-", then ">".
template <bool kStore>
void TKtHtmlTokenizer::ReadComment() {
  while (CharValid) {
    UntilChar<kStore>(*this, u'-');
    if (!CharValid) return;
    const uint32_t kept = DataLength;
    Take<kStore>(*this);
    if (!CharValid || Char != u'-') continue;
    WhileChar<kStore>(*this, u'-');
    if (CharValid && Char == u'>') {
      if constexpr (kStore) DataLength = kept;
      return;
    }
  }
}

template <bool kStore>
void TKtHtmlTokenizer::ReadUntilGt() {
  UntilChar<kStore>(*this, u'>');
}

template <bool kStore>
void TKtHtmlTokenizer::ReadXmlDeclaration() {
  while (CharValid) {
    Until2Chars<kStore>(*this, u'>', u'?');
    if (!CharValid || Char == u'>') return;
    Take<kStore>(*this);
    if (CharValid && Char == u'>') {
      if constexpr (kStore) --DataLength;
      return;
    }
  }
}

template <bool kStore>
void TKtHtmlTokenizer::ReadRawBody(std::u16string_view endName) {
  while (CharValid) {
    UntilChar<kStore>(*this, u'<');
    if (!CharValid || EndTagFollows(*this, endName)) return;
    Take<kStore>(*this);
  }
}

template <bool kStore>
void TKtHtmlTokenizer::ReadScriptBody() {
  if (ScriptIsJavaScript()) {
    ReadJavaScriptBody<kStore>(*this);
  } else {
    ReadRawBody<kStore>(u"script");
  }
}

bool TKtHtmlTokenizer::ScriptIsJavaScript() const {
  auto names_javascript = [](const WideString& s) { return StrContainsIW(u"javascript", s); };
  const WideString type = html_tag_->StringOfCardinal(html_id::kAttribType);
  if (!type.empty()) return names_javascript(type);
  const WideString language = html_tag_->StringOfCardinal(html_id::kAttribLanguage);
  if (!language.empty()) return names_javascript(language);
  if (!ContentScriptType.empty()) return names_javascript(ContentScriptType);
  return names_javascript(DefaultContentScriptType);
}

template <bool kStore>
void TKtHtmlTokenizer::ReadTitle() {
  while (CharValid) {
    ReadNormalizedText<kStore>(IsWhiteSpaceAmpOrLt);
    if (!CharValid || EndTagFollows(*this, u"title")) return;
    Take<kStore>(*this);
  }
}

template <bool kStore>
void TKtHtmlTokenizer::ReadText() {
  while (CharValid) {
    if (NormalizeWhiteSpace && pre_depth_ == 0) {
      ReadNormalizedText<kStore>(IsWhiteSpaceAmpOrLt);
    } else {
      ReadRawText<kStore>();
    }
    if (!CharValid || TextEndsAtLessThan()) return;
    Take<kStore>(*this);
  }
}

// Runs to a "<" (or the end) with white-space runs made one space and
// references decoded.
template <bool kStore>
void TKtHtmlTokenizer::ReadNormalizedText(TCharPredicateW stop) {
  while (CharValid) {
    Until<kStore>(*this, stop);
    if (!CharValid || Char == u'<') return;
    if (Char == u'&') {
      if constexpr (kStore) DecodeReference(true); else ReadChar();
    } else {
      if constexpr (kStore) AddSpace();
      SkipWhiteSpace();
    }
  }
}

template <bool kStore>
void TKtHtmlTokenizer::ReadRawText() {
  while (CharValid) {
    Until2Chars<kStore>(*this, u'&', u'<');
    if (!CharValid || Char == u'<') return;
    if constexpr (kStore) DecodeReference(false); else ReadChar();
  }
}

// Tag attributes --------------------------------------------------------------

template <bool kStore>
void TKtHtmlTokenizer::ReadTagAttribs(TKtTag& tag) {
  SkipWhiteSpace();
  while (CharValid) {
    if (Char == u'>') return;
    if (Char == u'/') {
      if (ReadChar() && Char == u'>') {
        if constexpr (kStore) {
          if (tag.EndTag == 0) tag.EndTag = 2;
        }
        return;
      }
    } else if (IsLetter(Char)) {
      ReadTagAttrib<kStore>(tag);
    } else {
      ReadChar();
    }
  }
}

template <bool kStore>
void TKtHtmlTokenizer::ReadTagAttrib(TKtTag& tag) {
  WideString name;
  uint32_t id = 0;
  if constexpr (kStore) {
    DataLength = 0;
    AddCharsWhile(IsNameChar);
    name.assign(Data.get(), DataLength);
    id = HtmlAttribID(Data.get(), static_cast<int32_t>(DataLength));
    DataLength = 0;
  } else {
    SkipCharsWhile(IsNameChar);
  }
  SkipWhiteSpace();
  bool quoted = false;
  if (CharValid && Char == u'=') {
    ReadChar();
    SkipWhiteSpace();
    quoted = CharValid && (Char == u'"' || Char == u'\'');
    if (quoted) {
      ReadQuotedValue<kStore>(Char);
    } else {
      ReadUnquotedValue<kStore>();
    }
  }
  if constexpr (kStore) AddAttrib(tag, name, id, quoted && !TrimAttribValues);
}

void TKtHtmlTokenizer::AddAttrib(TKtTag& tag, const WideString& name, uint32_t id, bool trim) {
  std::u16string_view value(Data.get(), DataLength);
  if (trim) {
    while (!value.empty() && value.front() < 0x21) value.remove_prefix(1);
    while (!value.empty() && value.back() < 0x21) value.remove_suffix(1);
  }
  tag.AddItem(name, value, id);
  DataLength = 0;
}

template <bool kStore>
void TKtHtmlTokenizer::ReadQuotedValue(WideChar quote) {
  ReadChar();
  if constexpr (kStore) {
    for (;;) {
      AddCharsUntil2Chars(quote, u'&');
      if (!CharValid || Char == quote) break;
      DecodeReference(false);
    }
  } else {
    SkipCharsUntilChar(quote);
  }
  if (CharValid) ReadChar();
}

template <bool kStore>
void TKtHtmlTokenizer::ReadUnquotedValue() {
  if constexpr (kStore) {
    for (;;) {
      AddCharsUntil(IsWhiteSpaceGtOrAmp);
      if (!CharValid || Char != u'&') break;
      DecodeReference(false);
    }
  } else {
    SkipCharsUntil(IsWhiteSpaceOrGt);
  }
}

// SSI tags ------------------------------------------------------------------

// Whether "-" characters from look-ahead index `first` on, with the
// `dashes_seen` already passed, make a run of at least two followed by ">".
bool TKtHtmlTokenizer::ClosingDashRunAhead(uint32_t first, int dashes_seen) {
  return ClosingDashRun(first, dashes_seen).closes;
}

TKtHtmlTokenizer::DashRun TKtHtmlTokenizer::ClosingDashRun(uint32_t first, int dashes_seen) {
  WideChar c;
  uint32_t i = first;
  while (PeekChar(*this, i, c) && c == u'-') {
    ++dashes_seen;
    ++i;
  }
  const bool in_sight = i < LookAheadCount || i < kMaxLookAhead;
  const bool closes = dashes_seen >= 2 && i < LookAheadCount && LookAhead[i] == u'>';
  return {closes, i - first, in_sight};
}

// At a "-" that does not close the tag: passes the dashes that cannot
// begin a closing run either (the whole run when its end is in sight), so
// that a long run is not looked through again for every dash.
template <bool kStore>
void TKtHtmlTokenizer::TakeDashRun(const DashRun& run) {
  const uint32_t count = run.in_sight ? run.dashes + 1 : run.dashes;
  for (uint32_t i = 0; i < count && CharValid; ++i) Take<kStore>(*this);
}

template <bool kStore>
void TKtHtmlTokenizer::ReadSsiName() {
  while (CharValid) {
    While<kStore>(*this, IsNameCharButDash);
    if (!CharValid || Char != u'-') return;
    const DashRun run = ClosingDashRun(0, 1);
    if (run.closes) return;
    TakeDashRun<kStore>(run);
  }
}

template <bool kStore>
void TKtHtmlTokenizer::ReadSsiAttribs(TKtTag& tag) {
  while (CharValid) {
    const WideChar c = Char;
    if (c == u'-' && ClosingDashRunAhead(0, 1)) {
      SkipCharsWhileChar(u'-');
      return;
    }
    if (c == u'/' && ClosingDashRunAhead(0, 0)) {
      ReadChar();
      SkipCharsWhileChar(u'-');
      if constexpr (kStore) {
        if (tag.EndTag == 0) tag.EndTag = 2;
      }
      return;
    }
    if (IsNameChar(c)) {
      ReadSsiAttrib<kStore>(tag);
    } else {
      ReadChar();
    }
  }
}

template <bool kStore>
void TKtHtmlTokenizer::ReadSsiAttrib(TKtTag& tag) {
  WideString name;
  uint32_t id = 0;
  if constexpr (kStore) DataLength = 0;
  ReadSsiName<kStore>();
  if constexpr (kStore) {
    name.assign(Data.get(), DataLength);
    id = HtmlAttribID(Data.get(), static_cast<int32_t>(DataLength));
    DataLength = 0;
  }
  SkipWhiteSpace();
  bool quoted = false;
  if (CharValid && Char == u'=') {
    ReadChar();
    SkipWhiteSpace();
    quoted = CharValid && IsSsiQuote(Char);
    if (quoted) {
      ReadSsiQuotedValue<kStore>(Char);
    } else {
      ReadSsiUnquotedValue<kStore>();
    }
  }
  if constexpr (kStore) AddAttrib(tag, name, id, quoted);
}

// Inside quotes a backslash before the quote character stands for it; any
// other backslash stays.
template <bool kStore>
void TKtHtmlTokenizer::ReadSsiQuotedValue(WideChar quote) {
  ReadChar();
  while (CharValid && Char != quote) {
    if (Char == u'&') {
      if constexpr (kStore) DecodeReference(false); else ReadChar();
    } else if (Char == u'\\' && PeekIs(*this, 0, quote)) {
      ReadChar();
      Take<kStore>(*this);
    } else {
      Take<kStore>(*this);
    }
  }
  if (CharValid) ReadChar();
}

template <bool kStore>
void TKtHtmlTokenizer::ReadSsiUnquotedValue() {
  while (CharValid) {
    if constexpr (kStore) {
      AddCharsUntil(IsWhiteSpaceDashOrAmp);
    } else {
      SkipCharsUntil(IsWhiteSpaceOrDash);
    }
    if (!CharValid || Char < 0x21) return;
    if (Char == u'&') {
      DecodeReference(false, true);
    } else {
      const DashRun run = ClosingDashRun(0, 1);
      if (run.closes) return;
      TakeDashRun<kStore>(run);
    }
  }
}

// Character references ----------------------------------------------------------

void TKtHtmlTokenizer::DecodeReference(bool normalize, bool inSsiTag) {
  const uint32_t start = DataLength;
  AddCurrentChar();
  if (!ReadChar()) return;
  if (Char == u'#') {
    DecodeNumericReference(start, normalize);
  } else if (IsNameChar(Char)) {
    DecodeNamedReference(start, normalize, inSsiTag);
  }
}

void TKtHtmlTokenizer::DecodeNumericReference(uint32_t start, bool normalize) {
  Take<true>(*this);
  uint32_t base = 10;
  if (CharValid && (Char == u'x' || Char == u'X')) {
    base = 16;
    Take<true>(*this);
  }
  uint32_t value = 0;
  uint32_t digits = 0;
  while (CharValid) {
    const int digit = base == 16 ? HexDigitValueW(Char) : (IsCharDigitW(Char) ? Char - u'0' : -1);
    if (digit < 0) break;
    const uint32_t next = value * base + static_cast<uint32_t>(digit);
    // A digit that would pass U+FFFF leaves the whole reference literal.
    if (next > 0xFFFF) return;
    value = next;
    ++digits;
    Take<true>(*this);
  }
  // "&#;" names no character: it stays literal text.
  if (digits == 0 || !ReferenceEndsHere()) return;
  const WideChar c = HtmlReferenceChar(value);
  ReplaceReference(start, std::u16string_view(&c, 1), normalize);
}

void TKtHtmlTokenizer::DecodeNamedReference(uint32_t start, bool normalize, bool inSsiTag) {
  if (inSsiTag) {
    ReadSsiName<true>();
  } else {
    AddCharsWhile(IsNameChar);
  }
  if (!ReferenceEndsHere()) return;
  const WideString* text = FindHtmlEntity(Data.get() + start + 1, static_cast<int32_t>(DataLength - start - 1));
  if (text) ReplaceReference(start, *text, normalize);
}

void TKtHtmlTokenizer::ReplaceReference(uint32_t start, std::u16string_view text, bool normalize) {
  DataLength = start;
  for (WideChar c : text) {
    if (normalize) {
      AddCharNormalizeWhiteSpace(c);
    } else {
      AddChar(c);
    }
  }
  if (CharValid && Char == u';') ReadChar();
}

// Test entry -------------------------------------------------------------------

void TKtHtmlTokenizer::TEST_ReadPiece(Kind kind, bool store, bool endTag) {
  if (store) {
    ReadTagForTest<true>(kind, endTag);
  } else {
    ReadTagForTest<false>(kind, endTag);
  }
}

template <bool kStore>
void TKtHtmlTokenizer::ReadTagForTest(Kind kind, bool endTag) {
  piece_kind_ = kind;
  switch (kind) {
    case Kind::pkASP: return ReadBlock<kStore>(u'%');
    case Kind::pkPHP: return ReadBlock<kStore>(u'?');
    case Kind::pkCDataSection: return ReadCData<kStore>();
    case Kind::pkComment: return ReadComment<kStore>();
    case Kind::pkDTD:
    case Kind::pkExclamationMarkup:
    case Kind::pkHtmlPI: return ReadUntilGt<kStore>();
    case Kind::pkXmlPI: return ReadXmlDeclaration<kStore>();
    case Kind::pkScript: return ReadScriptBody<kStore>();
    case Kind::pkStyle: return ReadRawBody<kStore>(u"style");
    case Kind::pkTitle: return ReadTitle<kStore>();
    case Kind::pkText: return ReadText<kStore>();
    case Kind::pkSsiTag:
      ReadSsiName<kStore>();
      ssi_tag_->EndTag = endTag ? 1 : 0;
      return ReadSsiAttribs<kStore>(*ssi_tag_);
    case Kind::pkHtmlTag:
    case Kind::pkCustomTag:
      While<kStore>(*this, IsNameChar);
      html_tag_->EndTag = endTag ? 1 : 0;
      return ReadTagAttribs<kStore>(*html_tag_);
    case Kind::pkNone:
      return;
  }
}

}  // namespace kt
