// SPDX-License-Identifier: MIT
#include "toolkit/kt_unicode_codecs.h"

#include <algorithm>

#include "toolkit/exception.h"
#include "toolkit/kt_unicode_gb18030_table.h"

namespace kt {
namespace {

constexpr WideChar kReplacement = 0xFFFD;

bool IsSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsHighSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }
bool InRange(uint8_t b, uint8_t low, uint8_t high) { return b >= low && b <= high; }

// The result for bytes that form no valid character.
bool Replace(WideChar& c) {
  c = kReplacement;
  return true;
}

bool TakeBytes(TKtUnicodeReader& reader, uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) {
    if (!reader.TakeByte(bytes[i])) return false;
  }
  return true;
}

void WriteBytes(TKtUnicodeWriter& writer, uint8_t b0, uint8_t b1) {
  writer.WriteByte(b0);
  writer.WriteByte(b1);
}

// ---- one-byte codecs ------------------------------------------------------

WideChar DecodeJisX0201(uint8_t b) {
  if (b == 0x5C) return 0x00A5;
  if (b == 0x7E) return 0x203E;
  if (b < 0x80) return b;
  if (InRange(b, 0xA1, 0xDF)) return static_cast<WideChar>(b + 0xFEC0);
  return kReplacement;
}

int EncodeJisX0201(WideChar c) {
  if (c < 0x80 && c != 0x5C && c != 0x7E) return c;
  if (c == 0x00A5) return 0x5C;
  if (c == 0x203E) return 0x7E;
  if (c >= 0xFF61 && c <= 0xFF9F) return (c & 0xFF) + 0x40;
  return -1;
}

bool IsTis620Thai(uint32_t c) {
  return (c >= 0x0E01 && c <= 0x0E3A) || (c >= 0x0E3F && c <= 0x0E5B);
}

// ---- GB 18030 ---------------------------------------------------------------

WideChar DecodeGbTwoByte(uint8_t b1, uint8_t b2) {
  const int index = (b1 - 0x81) * 190 + (b2 - 0x40) - (b2 >= 0x80 ? 1 : 0);
  return gb18030::kTwoByte[index];
}

WideChar DecodeGbLinear(uint32_t linear) {
  if (linear >= gb18030::kFourByteLimit) return kReplacement;
  const auto* end = gb18030::kFourByteRuns + gb18030::kFourByteRunCount;
  const auto* run = std::upper_bound(
      gb18030::kFourByteRuns, end, linear,
      [](uint32_t value, const gb18030::FourByteRun& r) { return value < r.linear; });
  --run;  // the first run starts at 0, so a run always holds the index
  return static_cast<WideChar>(run->first + (linear - run->linear));
}

// The two bytes after a four-byte lead pair; false when the data runs out.
bool ReadGbFourByte(TKtUnicodeReader& reader, uint8_t b1, uint8_t b2, WideChar& c) {
  uint8_t b3 = 0;
  uint8_t b4 = 0;
  if (!reader.TakeByte(b3)) return false;
  if (!InRange(b3, 0x81, 0xFE)) return Replace(c);
  if (!reader.TakeByte(b4)) return false;
  if (!InRange(b4, 0x30, 0x39)) return Replace(c);
  const uint32_t linear = (((b1 - 0x81) * 10u + (b2 - 0x30)) * 126u + (b3 - 0x81)) * 10u + (b4 - 0x30);
  c = DecodeGbLinear(linear);
  return true;
}

// ---- UTF-8 -----------------------------------------------------------------

// Peeks at the next byte; when it continues the sequence it is taken and its
// six bits are added to value. A byte that does not continue stays unread.
enum class Next { Taken, NotContinuation, End };

Next TakeContinuation(TKtUnicodeReader& reader, uint32_t& value) {
  uint8_t b = 0;
  if (!reader.PeekByte(b)) return Next::End;
  if (!IsContinuation(b)) return Next::NotContinuation;
  ++reader.BufPos;
  value = (value << 6) | (b & 0x3F);
  return Next::Taken;
}

// Bytes after a lead byte of 0xF0 or more: the sequence is consumed as far
// as it goes and always yields U+FFFD (no character above U+FFFF is made).
bool SkipLongUtf8(TKtUnicodeReader& reader, uint8_t lead, uint32_t value, WideChar& c) {
  const Next third = TakeContinuation(reader, value);
  if (third == Next::End) return false;
  if (third == Next::Taken && lead >= 0xF8 && TakeContinuation(reader, value) == Next::Taken &&
      lead >= 0xFC) {
    TakeContinuation(reader, value);
  }
  c = kReplacement;
  return true;
}

bool ReadUtf8Sequence(TKtUnicodeReader& reader, uint8_t lead, WideChar& c) {
  uint32_t value = lead;
  Next next = TakeContinuation(reader, value);
  if (next == Next::End) return false;
  if (next == Next::NotContinuation) return Replace(c);
  if (lead < 0xE0) {
    value &= 0x7FF;
    c = value < 0x80 ? kReplacement : static_cast<WideChar>(value);
    return true;
  }
  next = TakeContinuation(reader, value);
  if (next == Next::End) return false;
  if (next == Next::NotContinuation) return Replace(c);
  if (lead >= 0xF0) return SkipLongUtf8(reader, lead, value, c);
  value &= 0xFFFF;
  // Encoded surrogates are not characters; passing them on would let them
  // pair up with their neighbours later.
  c = (value < 0x800 || IsSurrogate(value)) ? kReplacement : static_cast<WideChar>(value);
  return true;
}

void WriteUtf8Unit(TKtUnicodeWriter& writer, WideChar c) {
  if (c < 0x80) {
    writer.WriteByte(static_cast<uint8_t>(c));
  } else if (c < 0x800) {
    WriteBytes(writer, 0xC0 | (c >> 6), 0x80 | (c & 0x3F));
  } else {
    writer.WriteByte(0xE0 | (c >> 12));
    WriteBytes(writer, 0x80 | ((c >> 6) & 0x3F), 0x80 | (c & 0x3F));
  }
}

void WriteUtf8Pair(TKtUnicodeWriter& writer, WideChar high, WideChar low) {
  const uint32_t code = 0x10000 + ((high - 0xD800u) << 10) + (low - 0xDC00u);
  WriteBytes(writer, 0xF0 | (code >> 18), 0x80 | ((code >> 12) & 0x3F));
  WriteBytes(writer, 0x80 | ((code >> 6) & 0x3F), 0x80 | (code & 0x3F));
}

// ---- UTF-16 ----------------------------------------------------------------

template <bool kBigEndian>
uint32_t UnitAt(const uint8_t* p) {
  return kBigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0];
}

template <bool kBigEndian>
bool ReadUtf16(TKtUnicodeReader& reader, WideChar& c) {
  uint8_t bytes[2];
  if (!TakeBytes(reader, bytes, 2)) return false;
  const uint32_t unit = UnitAt<kBigEndian>(bytes);
  if (!IsSurrogate(unit)) {
    c = static_cast<WideChar>(unit);
    return true;
  }
  // A pair stands for a character above U+FFFF: one U+FFFD for both. A
  // surrogate without its partner is U+FFFD alone, and what follows it is
  // read as the next character.
  if (IsHighSurrogate(unit) && reader.EnsureBytes(2) &&
      IsLowSurrogate(UnitAt<kBigEndian>(reader.Buffer + reader.BufPos))) {
    reader.BufPos += 2;
  }
  c = kReplacement;
  return true;
}

template <bool kBigEndian>
void WriteUnit(TKtUnicodeWriter& writer, WideChar c) {
  if (kBigEndian) {
    WriteBytes(writer, c >> 8, c & 0xFF);
  } else {
    WriteBytes(writer, c & 0xFF, c >> 8);
  }
}

// ---- UCS-4 / UTF-32 ---------------------------------------------------------

// A surrogate value is no character on its own, and a pair of them in UCS-4
// is no valid text either: both give U+FFFD.
template <bool kBigEndian>
bool ReadUcs4(TKtUnicodeReader& reader, WideChar& c) {
  uint8_t b[4];
  if (!TakeBytes(reader, b, 4)) return false;
  const bool inBmp = kBigEndian ? (b[0] == 0 && b[1] == 0) : (b[3] == 0 && b[2] == 0);
  const uint32_t value = kBigEndian ? (b[2] << 8) | b[3] : (b[1] << 8) | b[0];
  c = inBmp && !IsSurrogate(value) ? static_cast<WideChar>(value) : kReplacement;
  return true;
}

template <bool kBigEndian>
void WriteUcs4(TKtUnicodeWriter& writer, WideChar c) {
  if (kBigEndian) {
    WriteBytes(writer, 0, 0);
    WriteUnit<true>(writer, c);
  } else {
    WriteUnit<false>(writer, c);
    WriteBytes(writer, 0, 0);
  }
}

// ---- UTF-7 -----------------------------------------------------------------

struct Utf7State {
  bool InBase64 = false;
  uint32_t Bits = 0;
  int32_t BitCount = 0;
  // A flush padded the run and ended it without its '-': the next byte
  // written must not be read as a base64 digit.
  bool DashOwed = false;
  // A unit decoded after a lone high surrogate, returned by the next read.
  bool HasPending = false;
  WideChar Pending = 0;
};

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(uint8_t b) {
  if (b >= 'A' && b <= 'Z') return b - 'A';
  if (b >= 'a' && b <= 'z') return b - 'a' + 26;
  if (b >= '0' && b <= '9') return b - '0' + 52;
  if (b == '+') return 62;
  if (b == '/') return 63;
  return -1;
}

template <typename Owner>
Utf7State& Utf7StateOf(Owner& owner) {
  if (!owner.CodecState) {
    throw Exception("Class " + owner.ClassName() + ": UTF-7 codec used without its Init");
  }
  return *static_cast<Utf7State*>(owner.CodecState);
}

bool IsUtf7DirectByte(uint8_t x) {
  return InRange(x, 0x2C, 0x5B) || InRange(x, 0x5D, 0x7D) || x == 0x09 || x == 0x0A ||
         x == 0x0D || InRange(x, 0x20, 0x2A);
}

enum class Utf7Step { Char, More, End };

// One byte inside a base64 run; Char when a character is complete.
Utf7Step DecodeBase64Byte(Utf7State& state, int value, WideChar& c) {
  state.Bits = (state.Bits << 6) | static_cast<uint32_t>(value);
  if (state.BitCount >= 10) {
    state.BitCount -= 10;
    c = static_cast<WideChar>(state.Bits >> state.BitCount);
    return Utf7Step::Char;
  }
  state.BitCount += 6;
  return Utf7Step::More;
}

// One byte outside a run; a '+' takes the byte after it.
Utf7Step DecodeDirectByte(TKtUnicodeReader& reader, Utf7State& state, uint8_t x, WideChar& c) {
  if (x != '+') {
    c = IsUtf7DirectByte(x) ? x : kReplacement;
    return Utf7Step::Char;
  }
  uint8_t y = 0;
  if (!reader.TakeByte(y)) return Utf7Step::End;
  if (y == '-') {
    c = u'+';
    return Utf7Step::Char;
  }
  state.InBase64 = true;
  state.Bits = 0;
  state.BitCount = 0;
  const int value = Base64Value(y);
  if (value >= 0) return DecodeBase64Byte(state, value, c);
  state.InBase64 = false;  // '+' and a non-digit: an empty run
  return DecodeDirectByte(reader, state, y, c);
}

Utf7Step DecodeUtf7Byte(TKtUnicodeReader& reader, Utf7State& state, uint8_t x, WideChar& c) {
  if (state.InBase64) {
    const int value = Base64Value(x);
    if (value >= 0) return DecodeBase64Byte(state, value, c);
    state.InBase64 = false;
    if (x == '-') return Utf7Step::More;
  }
  return DecodeDirectByte(reader, state, x, c);
}

// The next 16-bit unit of the text, surrogates included.
bool DecodeUtf7Unit(TKtUnicodeReader& reader, Utf7State& state, WideChar& unit) {
  for (;;) {
    uint8_t x = 0;
    if (!reader.TakeByte(x)) return false;
    switch (DecodeUtf7Byte(reader, state, x, unit)) {
      case Utf7Step::Char: return true;
      case Utf7Step::End: return false;
      case Utf7Step::More: break;
    }
  }
}

bool IsUtf7ClassA(WideChar c) {
  return c == 0x2D || (c >= 0x2F && c <= 0x39) || (c >= 0x41 && c <= 0x5A) ||
         (c >= 0x61 && c <= 0x7A);
}

bool IsUtf7ClassB(WideChar c) {
  return c == 0x09 || c == 0x0A || c == 0x0D || c == 0x20 || (c >= 0x27 && c <= 0x29) ||
         c == 0x2C || c == 0x2E || c == 0x3A || c == 0x3F;
}

bool IsUtf7OptionalClassB(WideChar c) {
  return c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c <= 0x2A) || c == 0x2C ||
         c == 0x2E || (c >= 0x3A && c <= 0x40) || c == 0x5B || (c >= 0x5D && c <= 0x60) ||
         (c >= 0x7B && c <= 0x7D);
}

// Writes the pending bits padded to a digit; the run stays open.
bool PadBits(TKtUnicodeWriter& writer, Utf7State& state) {
  if (!state.InBase64 || state.BitCount <= 0) return false;
  writer.WriteByte(kBase64[state.Bits >> 26]);
  state.Bits = 0;
  state.BitCount = 0;
  return true;
}

void PayDash(TKtUnicodeWriter& writer, Utf7State& state) {
  if (state.DashOwed) writer.WriteByte('-');
  state.DashOwed = false;
}

void WriteUtf7Encoded(TKtUnicodeWriter& writer, Utf7State& state, WideChar c) {
  if (!state.InBase64) {
    PayDash(writer, state);
    state.InBase64 = true;
    state.Bits = 0;
    state.BitCount = 0;
    writer.WriteByte('+');
  }
  state.Bits |= static_cast<uint32_t>(c) << (16 - state.BitCount);
  state.BitCount += 16;
  while (state.BitCount >= 6) {
    writer.WriteByte(kBase64[state.Bits >> 26]);
    state.Bits <<= 6;
    state.BitCount -= 6;
  }
}

bool WriteUtf7(TKtUnicodeWriter& writer, WideChar c, bool (*isClassB)(WideChar)) {
  Utf7State& state = Utf7StateOf(writer);
  if (IsUtf7ClassA(c)) {
    if (state.InBase64) {
      PadBits(writer, state);
      state.InBase64 = false;
      writer.WriteByte('-');
    } else {
      PayDash(writer, state);
    }
    writer.WriteByte(static_cast<uint8_t>(c));
  } else if (isClassB(c)) {
    PadBits(writer, state);
    state.InBase64 = false;
    state.DashOwed = false;
    writer.WriteByte(static_cast<uint8_t>(c));
  } else if (c == u'+' && !state.InBase64) {
    PayDash(writer, state);
    WriteBytes(writer, '+', '-');
  } else {
    WriteUtf7Encoded(writer, state, c);
  }
  return true;
}

}  // namespace

// ---- ISO-8859-1, US-ASCII, JIS_X0201, TIS-620 --------------------------------

bool Read_ISO_8859_1(TKtUnicodeReader& reader, WideChar& c) {
  uint8_t b = 0;
  if (!reader.TakeByte(b)) return false;
  c = b;
  return true;
}

bool Write_ISO_8859_1(TKtUnicodeWriter& writer, WideChar c) {
  if (c >= 0x100) return false;
  writer.WriteByte(static_cast<uint8_t>(c));
  return true;
}

bool Read_US_ASCII(TKtUnicodeReader& reader, WideChar& c) {
  uint8_t b = 0;
  if (!reader.TakeByte(b)) return false;
  c = b < 0x80 ? b : kReplacement;
  return true;
}

bool Write_US_ASCII(TKtUnicodeWriter& writer, WideChar c) {
  if (c >= 0x80) return false;
  writer.WriteByte(static_cast<uint8_t>(c));
  return true;
}

bool Read_JIS_X0201(TKtUnicodeReader& reader, WideChar& c) {
  uint8_t b = 0;
  if (!reader.TakeByte(b)) return false;
  c = DecodeJisX0201(b);
  return true;
}

bool Write_JIS_X0201(TKtUnicodeWriter& writer, WideChar c) {
  const int b = EncodeJisX0201(c);
  if (b < 0) return false;
  writer.WriteByte(static_cast<uint8_t>(b));
  return true;
}

bool Read_TIS_620(TKtUnicodeReader& reader, WideChar& c) {
  uint8_t b = 0;
  if (!reader.TakeByte(b)) return false;
  const uint32_t thai = b + 0x0D60u;
  c = b < 0x80 ? b : IsTis620Thai(thai) ? static_cast<WideChar>(thai) : kReplacement;
  return true;
}

bool Write_TIS_620(TKtUnicodeWriter& writer, WideChar c) {
  if (c >= 0x80 && !IsTis620Thai(c)) return false;
  writer.WriteByte(static_cast<uint8_t>(c < 0x80 ? c : c - 0x0D60));
  return true;
}

// ---- GB 18030 ---------------------------------------------------------------

bool Read_GB18030(TKtUnicodeReader& reader, WideChar& c) {
  uint8_t b1 = 0;
  uint8_t b2 = 0;
  if (!reader.TakeByte(b1)) return false;
  if (b1 < 0x80) {
    c = b1;
    return true;
  }
  if (b1 == 0x80 || b1 == 0xFF) return Replace(c);
  if (!reader.TakeByte(b2)) return false;
  if (InRange(b2, 0x40, 0x7E) || InRange(b2, 0x80, 0xFE)) {
    c = DecodeGbTwoByte(b1, b2);
    return true;
  }
  if (InRange(b2, 0x30, 0x39)) return ReadGbFourByte(reader, b1, b2, c);
  c = kReplacement;
  return true;
}

// ---- UCS-2 / UCS-4 ------------------------------------------------------------

// A surrogate unit is no character in UCS-2: U+FFFD for both of its bytes.
bool Read_UCS_2BE(TKtUnicodeReader& reader, WideChar& c) {
  uint8_t b[2];
  if (!TakeBytes(reader, b, 2)) return false;
  const uint32_t unit = UnitAt<true>(b);
  c = IsSurrogate(unit) ? kReplacement : static_cast<WideChar>(unit);
  return true;
}

bool Read_UCS_2LE(TKtUnicodeReader& reader, WideChar& c) {
  uint8_t b[2];
  if (!TakeBytes(reader, b, 2)) return false;
  const uint32_t unit = UnitAt<false>(b);
  c = IsSurrogate(unit) ? kReplacement : static_cast<WideChar>(unit);
  return true;
}

bool Write_UCS_2BE(TKtUnicodeWriter& writer, WideChar c) {
  if (IsSurrogate(c)) return false;
  WriteUnit<true>(writer, c);
  return true;
}

bool Write_UCS_2LE(TKtUnicodeWriter& writer, WideChar c) {
  if (IsSurrogate(c)) return false;
  WriteUnit<false>(writer, c);
  return true;
}

bool Read_UCS_4BE(TKtUnicodeReader& reader, WideChar& c) { return ReadUcs4<true>(reader, c); }
bool Read_UCS_4LE(TKtUnicodeReader& reader, WideChar& c) { return ReadUcs4<false>(reader, c); }

bool Write_UCS_4BE(TKtUnicodeWriter& writer, WideChar c) {
  WriteUcs4<true>(writer, c);
  return true;
}

bool Write_UCS_4LE(TKtUnicodeWriter& writer, WideChar c) {
  WriteUcs4<false>(writer, c);
  return true;
}

// ---- UTF-7 -----------------------------------------------------------------

void Read_UTF_7_Init(TKtUnicodeReader& reader) { reader.CodecState = new Utf7State(); }

void Read_UTF_7_Done(TKtUnicodeReader& reader) {
  delete static_cast<Utf7State*>(reader.CodecState);
  reader.CodecState = nullptr;
}

bool Read_UTF_7(TKtUnicodeReader& reader, WideChar& c) {
  Utf7State& state = Utf7StateOf(reader);
  WideChar unit = 0;
  if (state.HasPending) {
    unit = state.Pending;
    state.HasPending = false;
  } else if (!DecodeUtf7Unit(reader, state, unit)) {
    return false;
  }
  if (!IsSurrogate(unit)) {
    c = unit;
    return true;
  }
  // UTF-7 carries UTF-16: a pair is one character above U+FFFF, one U+FFFD;
  // a lone surrogate is U+FFFD and the unit after it stays a character.
  WideChar next = 0;
  if (IsHighSurrogate(unit) && DecodeUtf7Unit(reader, state, next) && !IsLowSurrogate(next)) {
    state.Pending = next;
    state.HasPending = true;
  }
  c = kReplacement;
  return true;
}

void Write_UTF_7_Init(TKtUnicodeWriter& writer) { writer.CodecState = new Utf7State(); }

void Write_UTF_7_Done(TKtUnicodeWriter& writer) {
  delete static_cast<Utf7State*>(writer.CodecState);
  writer.CodecState = nullptr;
}

bool Write_UTF_7(TKtUnicodeWriter& writer, WideChar c) { return WriteUtf7(writer, c, IsUtf7ClassB); }

bool Write_UTF_7_Optional(TKtUnicodeWriter& writer, WideChar c) {
  return WriteUtf7(writer, c, IsUtf7OptionalClassB);
}

void Write_UTF_7_Flush(TKtUnicodeWriter& writer) {
  Utf7State& state = Utf7StateOf(writer);
  // Pad bits continued by later digits would corrupt the next character, so
  // a padded run is over; its '-' waits until the next byte needs it.
  if (PadBits(writer, state)) {
    state.InBase64 = false;
    state.DashOwed = true;
  }
}

// ---- UTF-8 -----------------------------------------------------------------

bool Read_UTF_8(TKtUnicodeReader& reader, WideChar& c) {
  uint8_t lead = 0;
  if (!reader.TakeByte(lead)) return false;
  if (lead < 0x80) {
    c = lead;
    return true;
  }
  if (lead < 0xC0) return Replace(c);
  return ReadUtf8Sequence(reader, lead, c);
}

bool Write_UTF_8(TKtUnicodeWriter& writer, WideChar c) {
  if (writer.PendingSurrogate) {
    const WideChar high = writer.PendingSurrogate;
    writer.PendingSurrogate = 0;
    if (IsLowSurrogate(c)) {
      WriteUtf8Pair(writer, high, c);
      return true;
    }
    WriteUtf8Unit(writer, kReplacement);
  }
  if (IsHighSurrogate(c)) {
    // Held until the next character shows whether it completes a pair.
    writer.PendingSurrogate = c;
    return true;
  }
  WriteUtf8Unit(writer, IsSurrogate(c) ? kReplacement : c);
  return true;
}

// ---- UTF-16 / UTF-32 ---------------------------------------------------------

bool Read_UTF_16BE(TKtUnicodeReader& reader, WideChar& c) { return ReadUtf16<true>(reader, c); }
bool Read_UTF_16LE(TKtUnicodeReader& reader, WideChar& c) { return ReadUtf16<false>(reader, c); }

bool Write_UTF_16BE(TKtUnicodeWriter& writer, WideChar c) { return Write_UCS_2BE(writer, c); }
bool Write_UTF_16LE(TKtUnicodeWriter& writer, WideChar c) { return Write_UCS_2LE(writer, c); }

bool Read_UTF_32BE(TKtUnicodeReader& reader, WideChar& c) { return ReadUcs4<true>(reader, c); }
bool Read_UTF_32LE(TKtUnicodeReader& reader, WideChar& c) { return ReadUcs4<false>(reader, c); }

bool Write_UTF_32BE(TKtUnicodeWriter& writer, WideChar c) {
  if (IsSurrogate(c)) return false;
  WriteUcs4<true>(writer, c);
  return true;
}

bool Write_UTF_32LE(TKtUnicodeWriter& writer, WideChar c) {
  if (IsSurrogate(c)) return false;
  WriteUcs4<false>(writer, c);
  return true;
}

}  // namespace kt
