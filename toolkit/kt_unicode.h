// SPDX-License-Identifier: MIT
// The Unicode text reader and writer: bytes in some encoding to 16-bit
// characters and back, through exchangeable decoders and encoders.
//
// A reader or writer is used by one thread at a time; the codecs share only
// constant tables.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "toolkit/kt_utils.h"
#include "toolkit/stream.h"
#include "toolkit/wide_string.h"

namespace kt {

class TKtUnicodeReader;
class TKtUnicodeWriter;

// A decoder. ReadChar takes bytes from the reader's Buffer at BufPos and
// returns false when no character could be made (the bytes ran out); it
// leaves c alone then. Init and Done, when set, own the reader's CodecState.
struct TKtUnicodeReadMethods {
  void (*Init)(TKtUnicodeReader& reader) = nullptr;
  bool (*ReadChar)(TKtUnicodeReader& reader, WideChar& c) = nullptr;
  void (*Done)(TKtUnicodeReader& reader) = nullptr;
};

// An encoder. WriteChar appends the bytes for c through the writer's
// WriteByte, or returns false and writes nothing when c has no encoding.
// Flush writes out bits the encoder still holds.
struct TKtUnicodeWriteMethods {
  void (*Init)(TKtUnicodeWriter& writer) = nullptr;
  bool (*WriteChar)(TKtUnicodeWriter& writer, WideChar c) = nullptr;
  void (*Flush)(TKtUnicodeWriter& writer) = nullptr;
  void (*Done)(TKtUnicodeWriter& writer) = nullptr;
};

class TKtUnicodeBase {
 public:
  virtual ~TKtUnicodeBase() = default;
  // The name misuse messages carry; a subclass gives its own.
  virtual std::string ClassName() const = 0;
};

// Turns a memory block, the bytes of a wide string or a stream into 16-bit
// characters, with look-ahead, a buffer that collects text, and line and
// column counting. The reader never chooses a decoder by itself: ISO-8859-1
// until SetReadMethods says otherwise.
class TKtUnicodeReader : public TKtUnicodeBase {
 public:
  static constexpr uint32_t kStreamBlockSize = 4096;

  TKtUnicodeReader();
  ~TKtUnicodeReader() override;
  TKtUnicodeReader(const TKtUnicodeReader&) = delete;
  TKtUnicodeReader& operator=(const TKtUnicodeReader&) = delete;

  std::string ClassName() const override { return "TKtUnicodeReader"; }

  // Sources. Each leaves CharValid false, so scanning starts with ReadChar.
  // The caller keeps a memory block (or string) alive and unchanged while it
  // is read. Both raise kt::Exception while a stream is set.
  void SourceBufferEx(const void* buffer, uint32_t size);
  void SourceWideStr(const WideString& s);
  // Reads the stream (not owned) in 4096-byte blocks; nullptr returns to
  // memory mode. The position counters carry on from the previous source.
  void SourceStream(TStream* stream);
  // Calls the old Done, installs the methods and calls the new Init; a record
  // without ReadChar installs ISO-8859-1. Characters already decoded stay.
  void SetReadMethods(const TKtUnicodeReadMethods& methods);
  void ResetPosition();

  // Advancing; each returns the new CharValid.
  bool ReadChar() { return Advance(false); }
  // Appends Char, then advances; the position counts on even at the end.
  bool AddCharAndRead();
  // Reads up to count characters into dest, as that many ReadChar calls
  // would (the last one read stays current); returns how many were read,
  // fewer only at the end of the data. Runs of ASCII are taken in bulk.
  uint32_t ReadChars(WideChar* dest, uint32_t count);
  // Makes sure n characters wait in LookAhead; false when the decoder ran
  // dry first (what was decoded stays queued).
  bool PreReadChars(uint32_t n);

  // Collecting into Data.
  void AddCurrentChar() { AddChar(Char); }
  void AddChar(WideChar c);
  void AddStr(const WideString& s);
  void AddCharNormalizeWhiteSpace(WideChar c);
  void AddSpace();
  void AddStrNormalizeWhiteSpace(const WideString& s);
  WideString GetData() const;
  void ClearData();

  // Scanning loops: nothing when CharValid is false; they stop with the stop
  // character current and not collected, or at a failed read.
  void AddCharsWhileChar(WideChar c);
  void SkipCharsWhileChar(WideChar c);
  void AddCharsWhile(TCharPredicateW p);
  void SkipCharsWhile(TCharPredicateW p);
  void AddCharsUntilChar(WideChar c);
  void SkipCharsUntilChar(WideChar c);
  void AddCharsUntil2Chars(WideChar c1, WideChar c2);
  void SkipCharsUntil2Chars(WideChar c1, WideChar c2);
  void AddCharsUntil3Chars(WideChar c1, WideChar c2, WideChar c3);
  void AddCharsUntil(TCharPredicateW p);
  void SkipCharsUntil(TCharPredicateW p);
  void AddDigits();
  void SkipDigits();
  void AddHexDigits();
  void AddWhiteSpace();
  void SkipWhiteSpace();

  // For decoders. FillBuffer refills the own block from the stream when the
  // bytes at hand are used up; false at the end of the data.
  bool FillBuffer();
  // Makes at least count unread bytes (count up to 4096) available at
  // BufPos, keeping those already there; false when the data ends first.
  bool EnsureBytes(uint32_t count);
  bool TakeByte(uint8_t& b) {
    if (BufPos >= BufEnd && !FillBuffer()) return false;
    b = Buffer[BufPos++];
    return true;
  }
  bool PeekByte(uint8_t& b) {
    if (BufPos >= BufEnd && !FillBuffer()) return false;
    b = Buffer[BufPos];
    return true;
  }

  // The state, open to subclasses and decoders as the scanners need it.
  bool CharValid = false;
  WideChar Char = 0;
  WideChar PrevChar = 0;
  uint32_t CharPos = 0;
  uint32_t Line = 1;
  uint32_t Column = 0;
  const uint8_t* Buffer = nullptr;
  uint32_t BufEnd = 0;
  uint32_t BufPos = 0;
  std::unique_ptr<WideChar[]> LookAhead;
  uint32_t LookAheadCount = 0;
  uint32_t LookAheadCapacity = 0;
  TKtUnicodeReadMethods ReadMethods;
  void* CodecState = nullptr;
  TStream* Stream = nullptr;
  std::unique_ptr<WideChar[]> Data;
  uint32_t DataLength = 0;
  uint32_t DataCapacity = 0;

 private:
  // The advance step shared by every reading operation.
  bool Advance(bool countAtEnd) {
    PrevChar = Char;
    if (LookAheadCount > 0) {
      TakeLookAhead();
    } else if (asciiBytesAlone_ && BufPos < BufEnd && Buffer[BufPos] < 0x80) {
      Char = Buffer[BufPos++];
    } else if (!ReadMethods.ReadChar(*this, Char)) {
      CharValid = false;
      if (countAtEnd) CountPosition();
      return false;
    }
    CountPosition();
    CharValid = true;
    return true;
  }
  void CountPosition() { CountStep(PrevChar, Char, Line, Column); ++CharPos; }
  // CR, LF and CR LF each end one line.
  static void CountStep(WideChar prev, WideChar c, uint32_t& line, uint32_t& column) {
    if (prev != u'\r' && prev != u'\n') {
      ++column;
    } else if (prev == u'\n' || c != u'\n') {
      ++line;
      column = 1;
    }
  }
  template <typename Take>
  bool TakeAsciiRun(Take take);
  template <bool kCollect, typename Keep>
  void Scan(Keep keep);
  void TakeLookAhead();
  void GrowData(uint32_t needed);
  bool DataEndsWithSpace() const;

  std::unique_ptr<uint8_t[]> ownBlock_;
  // The installed decoder is stateless and turns every byte below 0x80 into
  // that character on its own, so the reader takes such bytes itself: most
  // text is ASCII, and a call through ReadMethods per character would cost
  // more than the decoding.
  bool asciiBytesAlone_ = true;
};

enum class TKtInvalidCharAction { icWrite = 0, icOwnerWrite = 1, icAbort = 2 };

using TKtInvalidCharEvent =
    std::function<void(TKtUnicodeWriter& sender, WideChar invalidChar, WideChar& replacementChar,
                       uint32_t attempt, TKtInvalidCharAction& action)>;

// Encodes 16-bit characters into bytes: in memory (the bytes are the first
// BufPos of Buffer) or into a stream in 4096-byte blocks. Characters the
// encoder cannot hold go through OnInvalidChar, ReplacementChar, then '?'.
class TKtUnicodeWriter : public TKtUnicodeBase {
 public:
  static constexpr uint32_t kStreamBlockSize = 4096;

  TKtUnicodeWriter();
  // Flushes to the stream, swallowing failures; call Flush first to see them.
  ~TKtUnicodeWriter() override;
  TKtUnicodeWriter(const TKtUnicodeWriter&) = delete;
  TKtUnicodeWriter& operator=(const TKtUnicodeWriter&) = delete;

  std::string ClassName() const override { return "TKtUnicodeWriter"; }

  // Switches the destination (not owned); bytes held for an old stream are
  // flushed to it, bytes held in memory are dropped. Stream errors pass.
  void SetStream(TStream* stream);
  // Flushes the old encoder into the buffer, calls its Done, installs the
  // methods and calls the new Init; a record without WriteChar installs
  // ISO-8859-1.
  void SetWriteMethods(const TKtUnicodeWriteMethods& methods);
  // The encoder's Flush, then in stream mode the held bytes go out; a stream
  // that takes fewer bytes raises EStreamError. In memory mode, call it
  // before reading the bytes, so that nothing the encoder holds is missing.
  void Flush();
  void WriteByte(uint8_t b) {
    if (BufPos >= BufCapacity) FlushOrGrowBuffer();
    Buffer[BufPos++] = b;
  }
  // Whether anything was written for c.
  bool WriteChar(WideChar c);
  // Stop at the first character for which nothing could be written.
  void WriteStr(const WideString& s);
  void WriteBuf(const WideChar* p, uint32_t count);
  void WriteHex(WideChar c);
  bool WriteInvalidChar(WideChar c);
  // The bytes written in memory mode (or not yet flushed in stream mode).
  std::string Bytes() const;

  std::unique_ptr<uint8_t[]> Buffer;
  TKtUnicodeWriteMethods WriteMethods;
  void* CodecState = nullptr;
  uint32_t BufCapacity = 0;
  uint32_t BufPos = 0;
  TStream* Stream = nullptr;
  WideChar ReplacementChar = u'?';
  TKtInvalidCharEvent OnInvalidChar;
  // A high surrogate the encoder holds until the next character shows
  // whether it completes a pair; Flush writes it out as U+FFFD.
  WideChar PendingSurrogate = 0;

 private:
  void FlushEncoder();
  void FlushOrGrowBuffer();
  void FlushToStream();
  bool Encode(WideChar c) { return WriteMethods.WriteChar(*this, c); }
};

}  // namespace kt
