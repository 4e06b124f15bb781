// SPDX-License-Identifier: MIT
// The character-level HTML reader: cuts its input into pieces (text, tags,
// comments, declarations, processing instructions, ASP, PHP, SSI and custom
// tags, and the bodies of SCRIPT, STYLE and TITLE elements) and reads each
// with a storing reader, which collects the piece's text in the data buffer
// (GetData) and decodes character references, or with its skipping twin,
// which passes the same characters and stores nothing.
//
// Who receives a piece is decided by a subclass through PieceRoute and
// DeliverPiece (the HTML parser's filters and plugins); this class alone
// stores and shows every piece. Nothing here raises on bad markup:
// unclosed pieces end at the end of the input, rejected references stay
// literal text. Used by one thread at a time; the name tables must be
// filled before (RegisterHtmlTagNames, RegisterHtmlAttribNames).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "toolkit/kt_html_tag.h"
#include "toolkit/kt_html_types.h"
#include "toolkit/kt_unicode.h"

namespace kt {

class TKtHtmlTokenizer : public TKtUnicodeReader {
 public:
  // Route flags of a piece.
  static constexpr uint32_t kRouteShow = 1;     // ReadNextPiece returns it
  static constexpr uint32_t kRouteRead = 2;     // somebody receives it: use the storing reader
  static constexpr uint32_t kRoutePlugins = 4;  // call DeliverPiece

  TKtHtmlTokenizer();
  ~TKtHtmlTokenizer() override;
  std::string ClassName() const override { return "TKtHtmlTokenizer"; }

  bool EnableASP = false;
  bool EnableCustomTags = false;
  bool EnableHtmlTags = true;
  bool EnablePHP = false;
  bool EnableSSI = false;
  WideChar CustomTagChar = u'#';
  // Text outside PRE has its white-space runs made one space (TITLE bodies
  // always).
  bool NormalizeWhiteSpace = false;
  // False: white space after the opening and before the closing quote of an
  // attribute value is removed; true: quoted values are kept as written.
  bool TrimAttribValues = false;
  // The content of the last META "Content-Script-Type"; and the language
  // assumed for SCRIPT bodies when neither the tag nor the page names one.
  WideString ContentScriptType;
  WideString DefaultContentScriptType;

  // True when a piece that is shown has been read (PieceKind, GetData and
  // the current tag describe it); false when the input is exhausted.
  bool ReadNextPiece();
  // Forgets the current piece, tags, pending body and PRE depth; the source
  // and the character set stay.
  void Reset();

  TKtHtmlPieceKind PieceKind() const { return piece_kind_; }
  uint32_t PreDepth() const { return pre_depth_; }
  // Position of the current piece's first character ("<" for markup).
  uint32_t PieceStartPos() const { return piece_start_pos_; }
  uint32_t PieceStartLine() const { return piece_start_line_; }
  uint32_t PieceStartColumn() const { return piece_start_column_; }
  TKtHtmlTag& HtmlTag() const { return *html_tag_; }
  TKtCustomTag& CustomTag() const { return *custom_tag_; }
  TKtSsiTag& SsiTag() const { return *ssi_tag_; }

  // For tests: runs the reader of one kind from the current character,
  // storing or skipping (tags: the name and attributes after "<", "</",
  // "<!--#" or the custom tag character; end tags with endTag).
  void TEST_ReadPiece(TKtHtmlPieceKind kind, bool store, bool endTag = false);

 protected:
  // The route of a piece: for tags after the name is known (tagID 0 asks
  // for the kind as a whole). Default: shown and stored.
  virtual uint32_t PieceRoute(TKtHtmlPieceKind kind, bool endTag, uint32_t tagID) const;
  // Whether some party filters single tag IDs of this tag kind, so custom
  // and SSI tag names must be read even when the kind is not received.
  virtual bool TagRoutesExist(TKtHtmlPieceKind kind) const { return false; }
  // Hands a piece routed with kRoutePlugins on; returns whether it is shown.
  virtual bool DeliverPiece(TKtHtmlPieceKind kind, bool endTag, uint32_t tagID, bool show) { return show; }
  // Called at the end of Reset.
  virtual void ResetNotify() {}

 private:
  bool DispatchPiece();
  bool DispatchMarkup();
  bool DispatchExclamation();
  bool DispatchQuestion();
  bool MatchKeyword(std::u16string_view keyword);
  bool SsiTagFollows();
  bool TextEndsAtLessThan();

  template <typename ReadFn>
  bool RunPiece(TKtHtmlPieceKind kind, ReadFn read);
  bool Finish(TKtHtmlPieceKind kind, bool endTag, uint32_t tagID, uint32_t route);
  bool ReadBodyPiece(TKtHtmlPieceKind kind);
  bool ReadHtmlTagPiece(bool endTag);
  bool ReadCustomTagPiece(bool endTag);
  bool ReadSsiTagPiece(bool endTag);
  void NameTag(TKtTag& tag, bool endTag);
  void OpenElement(const TKtHtmlTag& tag);
  bool ScriptIsJavaScript() const;

  template <bool kStore> void ReadBlock(WideChar close);
  template <bool kStore> void ReadCData();
  template <bool kStore> void ReadComment();
  template <bool kStore> void ReadUntilGt();
  template <bool kStore> void ReadXmlDeclaration();
  template <bool kStore> void ReadRawBody(std::u16string_view endName);
  template <bool kStore> void ReadScriptBody();
  template <bool kStore> void ReadTitle();
  template <bool kStore> void ReadText();
  template <bool kStore> void ReadNormalizedText(TCharPredicateW stop);
  template <bool kStore> void ReadRawText();
  template <bool kStore> void ReadTagAttribs(TKtTag& tag);
  template <bool kStore> void ReadTagAttrib(TKtTag& tag);
  template <bool kStore> void ReadQuotedValue(WideChar quote);
  template <bool kStore> void ReadUnquotedValue();
  template <bool kStore> void ReadSsiName();
  template <bool kStore> void ReadSsiAttribs(TKtTag& tag);
  template <bool kStore> void ReadSsiAttrib(TKtTag& tag);
  template <bool kStore> void ReadSsiQuotedValue(WideChar quote);
  template <bool kStore> void ReadSsiUnquotedValue();
  template <bool kStore> void ReadTagForTest(TKtHtmlPieceKind kind, bool endTag);
  struct DashRun {
    bool closes;      // two or more dashes and ">"
    uint32_t dashes;  // dashes seen ahead
    bool in_sight;    // the run ended within the look-ahead distance
  };
  bool ClosingDashRunAhead(uint32_t first, int dashes_seen);
  DashRun ClosingDashRun(uint32_t first, int dashes_seen);
  template <bool kStore> void TakeDashRun(const DashRun& run);
  void AddAttrib(TKtTag& tag, const WideString& name, uint32_t id, bool trim);

  // Character references, after "&" (storing readers only). In an SSI tag
  // a name stops before the "-->" that closes the tag, where the skipping
  // reader stops too.
  void DecodeReference(bool normalize, bool inSsiTag = false);
  void DecodeNumericReference(uint32_t start, bool normalize);
  void DecodeNamedReference(uint32_t start, bool normalize, bool inSsiTag);
  bool ReferenceEndsHere() const { return !CharValid || Char == u';' || Char == u' '; }
  void ReplaceReference(uint32_t start, std::u16string_view text, bool normalize);

  std::unique_ptr<TKtHtmlTag> html_tag_;
  std::unique_ptr<TKtCustomTag> custom_tag_;
  std::unique_ptr<TKtSsiTag> ssi_tag_;
  TKtHtmlPieceKind piece_kind_ = TKtHtmlPieceKind::pkNone;
  TKtHtmlPieceKind pending_body_ = TKtHtmlPieceKind::pkNone;
  uint32_t pre_depth_ = 0;
  uint32_t piece_start_pos_ = 0;
  uint32_t piece_start_line_ = 0;
  uint32_t piece_start_column_ = 0;
};

// The character a numeric reference stands for: 128-159 through
// Windows-1252, and U+FFFD for its five holes, for U+0000 and for
// surrogates. REQUIRES: code <= 0xFFFF.
WideChar HtmlReferenceChar(uint32_t code);

}  // namespace kt
