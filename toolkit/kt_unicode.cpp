// SPDX-License-Identifier: MIT
#include "toolkit/kt_unicode.h"

#include <algorithm>
#include <cstring>

#include "toolkit/exception.h"
#include "toolkit/kt_unicode_codecs.h"
#include "toolkit/kt_unicode_single_byte.h"
#include "toolkit/kt_utils.h"

namespace kt {
namespace {

constexpr WideChar kSpace = 0x0020;

// The growth step shared by the data buffer and the writer's memory block.
uint32_t NextCapacity(uint32_t n) { return (n + n / 4 + 4) & ~3u; }

bool DecodesAsciiBytesAlone(const TKtUnicodeReadMethods& methods) {
  if (methods.Init || methods.Done) return false;
  const auto read = methods.ReadChar;
  return read == Read_ISO_8859_1 || read == Read_UTF_8 || read == Read_US_ASCII || read == Read_TIS_620 ||
         read == Read_GB18030 || IsAsciiKeepingPageReader(read);
}

}  // namespace

TKtUnicodeReader::TKtUnicodeReader() { ReadMethods.ReadChar = Read_ISO_8859_1; }

TKtUnicodeReader::~TKtUnicodeReader() {
  if (ReadMethods.Done) ReadMethods.Done(*this);
}

void TKtUnicodeReader::SourceBufferEx(const void* buffer, uint32_t size) {
  if (Stream) {
    throw Exception("Class " + ClassName() + ": Operation not allowed in Source Stream Mode");
  }
  Buffer = static_cast<const uint8_t*>(buffer);
  BufEnd = size;
  BufPos = 0;
  LookAheadCount = 0;
  ResetPosition();
  CharValid = false;
}

void TKtUnicodeReader::SourceWideStr(const WideString& s) {
  SourceBufferEx(s.data(), static_cast<uint32_t>(s.size() * sizeof(WideChar)));
}

void TKtUnicodeReader::SourceStream(TStream* stream) {
  if (stream && !Stream) {
    ownBlock_ = std::make_unique<uint8_t[]>(kStreamBlockSize);
    Buffer = ownBlock_.get();
  } else if (!stream && Stream) {
    ownBlock_.reset();
    Buffer = nullptr;
  }
  Stream = stream;
  LookAheadCount = 0;
  BufEnd = 0;
  BufPos = 0;
  CharValid = false;
}

void TKtUnicodeReader::SetReadMethods(const TKtUnicodeReadMethods& methods) {
  if (ReadMethods.Done) ReadMethods.Done(*this);
  CodecState = nullptr;
  ReadMethods = methods;
  if (!ReadMethods.ReadChar) {
    ReadMethods = TKtUnicodeReadMethods{nullptr, Read_ISO_8859_1, nullptr};
  } else if (ReadMethods.Init) {
    ReadMethods.Init(*this);
  }
  asciiBytesAlone_ = DecodesAsciiBytesAlone(ReadMethods);
}

void TKtUnicodeReader::ResetPosition() {
  Char = 0;
  CharPos = 0;
  Line = 1;
  Column = 0;
}

bool TKtUnicodeReader::FillBuffer() {
  if (!Stream) return false;
  BufPos = 0;
  BufEnd = static_cast<uint32_t>(Stream->Read(ownBlock_.get(), kStreamBlockSize));
  return BufEnd > 0;
}

bool TKtUnicodeReader::EnsureBytes(uint32_t count) {
  if (BufEnd - BufPos >= count) return true;
  if (!Stream || count > kStreamBlockSize) return false;
  // Keep the unread tail: a decoder may only look at these bytes.
  const uint32_t kept = BufEnd - BufPos;
  std::memmove(ownBlock_.get(), ownBlock_.get() + BufPos, kept);
  BufPos = 0;
  BufEnd = kept;
  while (BufEnd < count) {
    const int64_t got = Stream->Read(ownBlock_.get() + BufEnd, kStreamBlockSize - BufEnd);
    if (got <= 0) return false;
    BufEnd += static_cast<uint32_t>(got);
  }
  return true;
}

void TKtUnicodeReader::TakeLookAhead() {
  Char = LookAhead[0];
  --LookAheadCount;
  std::memmove(LookAhead.get(), LookAhead.get() + 1, LookAheadCount * sizeof(WideChar));
}

bool TKtUnicodeReader::AddCharAndRead() {
  AddChar(Char);
  return Advance(true);
}

bool TKtUnicodeReader::PreReadChars(uint32_t n) {
  if (LookAheadCount >= n) return true;
  if (LookAheadCapacity < n) {
    auto grown = std::make_unique<WideChar[]>(n);
    std::copy_n(LookAhead.get(), LookAheadCount, grown.get());
    LookAhead = std::move(grown);
    LookAheadCapacity = n;
  }
  while (LookAheadCount < n) {
    if (!ReadMethods.ReadChar(*this, LookAhead[LookAheadCount])) return false;
    ++LookAheadCount;
  }
  return true;
}

void TKtUnicodeReader::GrowData(uint32_t needed) {
  if (needed < DataCapacity) return;
  const uint32_t capacity = NextCapacity(needed);
  auto grown = std::make_unique_for_overwrite<WideChar[]>(capacity);
  std::copy_n(Data.get(), DataLength, grown.get());
  Data = std::move(grown);
  DataCapacity = capacity;
}

void TKtUnicodeReader::AddChar(WideChar c) {
  GrowData(DataLength);
  Data[DataLength++] = c;
}

void TKtUnicodeReader::AddStr(const WideString& s) {
  if (s.empty()) return;
  GrowData(DataLength + static_cast<uint32_t>(s.size()));
  std::copy(s.begin(), s.end(), Data.get() + DataLength);
  DataLength += static_cast<uint32_t>(s.size());
}

bool TKtUnicodeReader::DataEndsWithSpace() const {
  return DataLength > 0 && Data[DataLength - 1] == kSpace;
}

void TKtUnicodeReader::AddSpace() {
  if (!DataEndsWithSpace()) AddChar(kSpace);
}

void TKtUnicodeReader::AddCharNormalizeWhiteSpace(WideChar c) {
  if (IsCharWhiteSpaceW(c)) {
    AddSpace();
  } else {
    AddChar(c);
  }
}

void TKtUnicodeReader::AddStrNormalizeWhiteSpace(const WideString& s) {
  if (s.empty()) return;
  GrowData(DataLength + static_cast<uint32_t>(s.size()));
  for (WideChar c : s) AddCharNormalizeWhiteSpace(c);
}

WideString TKtUnicodeReader::GetData() const { return WideString(Data.get(), DataLength); }

void TKtUnicodeReader::ClearData() {
  Data.reset();
  DataLength = 0;
  DataCapacity = 0;
}

// Makes the ASCII bytes at BufPos current one after another, with the
// position counted as the advance step counts it, while take accepts each;
// false when take refused one (that one stays current). The state lives in
// locals meanwhile: through the members, every character would wait for
// the previous one's stores.
template <typename Take>
bool TKtUnicodeReader::TakeAsciiRun(Take take) {
  const uint8_t* const buffer = Buffer;
  const uint32_t end = BufEnd;
  uint32_t pos = BufPos;
  WideChar prev = PrevChar;
  WideChar c = Char;
  uint32_t line = Line;
  uint32_t column = Column;
  bool accepted = true;
  while (pos < end && buffer[pos] < 0x80) {
    prev = c;
    c = buffer[pos++];
    CountStep(prev, c, line, column);
    if (!take(c)) {
      accepted = false;
      break;
    }
  }
  if (pos != BufPos) {
    CharPos += pos - BufPos;
    BufPos = pos;
    PrevChar = prev;
    Char = c;
    Line = line;
    Column = column;
    CharValid = true;
  }
  return accepted;
}

// Passes characters while keep holds for the current one, collecting them
// when kCollect; the first that fails stays current, uncollected.
template <bool kCollect, typename Keep>
void TKtUnicodeReader::Scan(Keep keep) {
  if (!CharValid) return;
  while (keep(Char)) {
    if constexpr (kCollect) AddChar(Char);
    if (asciiBytesAlone_ && LookAheadCount == 0) {
      const bool runEnded = TakeAsciiRun([this, &keep](WideChar c) {
        if (!keep(c)) return false;
        if constexpr (kCollect) AddChar(c);
        return true;
      });
      if (!runEnded) return;
    }
    if (!Advance(false)) return;
  }
}

uint32_t TKtUnicodeReader::ReadChars(WideChar* dest, uint32_t count) {
  uint32_t read = 0;
  while (read < count) {
    if (asciiBytesAlone_ && LookAheadCount == 0 && BufPos < BufEnd && Buffer[BufPos] < 0x80) {
      TakeAsciiRun([dest, count, &read](WideChar c) {
        dest[read++] = c;
        return read < count;
      });
    } else if (Advance(false)) {
      dest[read++] = Char;
    } else {
      break;
    }
  }
  return read;
}

void TKtUnicodeReader::AddCharsWhileChar(WideChar c) {
  Scan<true>([c](WideChar x) { return x == c; });
}
void TKtUnicodeReader::SkipCharsWhileChar(WideChar c) {
  Scan<false>([c](WideChar x) { return x == c; });
}
void TKtUnicodeReader::AddCharsWhile(TCharPredicateW p) { Scan<true>(p); }
void TKtUnicodeReader::SkipCharsWhile(TCharPredicateW p) { Scan<false>(p); }
void TKtUnicodeReader::AddCharsUntilChar(WideChar c) {
  Scan<true>([c](WideChar x) { return x != c; });
}
void TKtUnicodeReader::SkipCharsUntilChar(WideChar c) {
  Scan<false>([c](WideChar x) { return x != c; });
}
void TKtUnicodeReader::AddCharsUntil2Chars(WideChar c1, WideChar c2) {
  Scan<true>([c1, c2](WideChar x) { return x != c1 && x != c2; });
}
void TKtUnicodeReader::SkipCharsUntil2Chars(WideChar c1, WideChar c2) {
  Scan<false>([c1, c2](WideChar x) { return x != c1 && x != c2; });
}
void TKtUnicodeReader::AddCharsUntil3Chars(WideChar c1, WideChar c2, WideChar c3) {
  Scan<true>([c1, c2, c3](WideChar x) { return x != c1 && x != c2 && x != c3; });
}
void TKtUnicodeReader::AddCharsUntil(TCharPredicateW p) {
  Scan<true>([p](WideChar x) { return !p(x); });
}
void TKtUnicodeReader::SkipCharsUntil(TCharPredicateW p) {
  Scan<false>([p](WideChar x) { return !p(x); });
}
void TKtUnicodeReader::AddDigits() { Scan<true>(IsCharDigitW); }
void TKtUnicodeReader::SkipDigits() { Scan<false>(IsCharDigitW); }
void TKtUnicodeReader::AddHexDigits() { Scan<true>(IsCharHexDigitW); }
void TKtUnicodeReader::AddWhiteSpace() { Scan<true>(IsCharWhiteSpaceW); }
void TKtUnicodeReader::SkipWhiteSpace() { Scan<false>(IsCharWhiteSpaceW); }

// ---------------------------------------------------------------------------

TKtUnicodeWriter::TKtUnicodeWriter() { WriteMethods.WriteChar = Write_ISO_8859_1; }

TKtUnicodeWriter::~TKtUnicodeWriter() {
  try {
    if (Stream) Flush();
  } catch (...) {
    // A destructor cannot report; callers who care call Flush first.
  }
  if (WriteMethods.Done) WriteMethods.Done(*this);
}

void TKtUnicodeWriter::SetStream(TStream* stream) {
  if (stream && !Stream) {
    PendingSurrogate = 0;  // it belonged to the dropped bytes
    Buffer = std::make_unique<uint8_t[]>(kStreamBlockSize);
    BufCapacity = kStreamBlockSize;
  } else if (Stream) {
    Flush();
    if (!stream) {
      Buffer.reset();
      BufCapacity = 0;
    }
  }
  Stream = stream;
  BufPos = 0;
}

void TKtUnicodeWriter::SetWriteMethods(const TKtUnicodeWriteMethods& methods) {
  FlushEncoder();  // what the old encoder holds belongs to its output
  if (WriteMethods.Done) WriteMethods.Done(*this);
  CodecState = nullptr;
  WriteMethods = methods;
  if (!WriteMethods.WriteChar) {
    WriteMethods = TKtUnicodeWriteMethods{nullptr, Write_ISO_8859_1, nullptr, nullptr};
  } else if (WriteMethods.Init) {
    WriteMethods.Init(*this);
  }
}

void TKtUnicodeWriter::Flush() {
  FlushEncoder();
  if (Stream) FlushToStream();
}

void TKtUnicodeWriter::FlushEncoder() {
  if (PendingSurrogate) {
    PendingSurrogate = 0;
    Encode(0xFFFD);
  }
  if (WriteMethods.Flush) WriteMethods.Flush(*this);
}

void TKtUnicodeWriter::FlushToStream() {
  const uint32_t count = BufPos;
  if (count == 0) return;
  Stream->WriteBuffer(Buffer.get(), count);
  BufPos = 0;
}

void TKtUnicodeWriter::FlushOrGrowBuffer() {
  if (Stream) {
    FlushToStream();
    return;
  }
  const uint32_t capacity = NextCapacity(BufCapacity);
  auto grown = std::make_unique_for_overwrite<uint8_t[]>(capacity);
  std::copy_n(Buffer.get(), BufPos, grown.get());
  Buffer = std::move(grown);
  BufCapacity = capacity;
}

bool TKtUnicodeWriter::WriteChar(WideChar c) { return Encode(c) || WriteInvalidChar(c); }

void TKtUnicodeWriter::WriteStr(const WideString& s) {
  WriteBuf(s.data(), static_cast<uint32_t>(s.size()));
}

void TKtUnicodeWriter::WriteBuf(const WideChar* p, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    if (!WriteChar(p[i])) return;
  }
}

void TKtUnicodeWriter::WriteHex(WideChar c) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const int digits = c < 0x10 ? 1 : c < 0x100 ? 2 : c < 0x1000 ? 3 : 4;
  for (int i = digits - 1; i >= 0; --i) {
    if (!WriteChar(static_cast<WideChar>(kDigits[(c >> (4 * i)) & 0xF]))) return;
  }
}

bool TKtUnicodeWriter::WriteInvalidChar(WideChar c) {
  WideChar replacement = ReplacementChar;
  if (OnInvalidChar) {
    for (uint32_t attempt = 0;; ++attempt) {
      const WideChar saved = replacement;
      TKtInvalidCharAction action = TKtInvalidCharAction::icWrite;
      OnInvalidChar(*this, c, replacement, attempt, action);
      if (action == TKtInvalidCharAction::icOwnerWrite) return true;
      if (action == TKtInvalidCharAction::icAbort) return false;
      if (Encode(replacement)) return true;
      if (replacement == saved) break;
    }
  } else if (Encode(replacement)) {
    return true;
  }
  return Encode(u'?');
}

std::string TKtUnicodeWriter::Bytes() const {
  return std::string(reinterpret_cast<const char*>(Buffer.get()), BufPos);
}

}  // namespace kt
