// SPDX-License-Identifier: MIT
#include "toolkit/kt_streams.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>

namespace kt {
namespace {

// Data bytes that follow the code byte, for codes 0 to 28.
constexpr std::array<uint8_t, 29> kDataBytes = {0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5,
                                                5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 4, 8, 10, 8};

constexpr uint8_t kFirstIntegerCode = 1;
constexpr uint8_t kLastIntegerCode = 12;

[[noreturn]] void RaiseInvalidValueType() { throw EReadError("Invalid Element Type"); }
[[noreturn]] void RaiseReadError() { throw EReadError("Stream read error"); }

bool IsNegativeCode(uint8_t code) { return (code - 1) % 3 == 0; }

// The non-negative code for a value of the given bit length.
uint8_t NonNegativeCode(int bits) {
  if (bits == 0) return 2;
  const int bytes = (bits + 7) / 8;
  const bool all_bits_used = bits % 8 == 0;
  return static_cast<uint8_t>(3 * bytes - 1 + (all_bits_used ? 1 : 0));
}

uint8_t NegativeCode(int complement_bits) { return static_cast<uint8_t>(1 + 3 * (complement_bits / 8)); }

}  // namespace

int BitLength(uint32_t v) { return 32 - std::countl_zero(v); }
int ByteLength(uint32_t v) { return (BitLength(v) + 7) / 8; }

TKtFiler::TKtFiler(TStream& stream, int32_t buf_size) : stream_(stream), buf_size_(buf_size) {
  if (buf_size <= 0) throw Exception("Class TKtFiler: Invalid buffer size (" + std::to_string(buf_size) + ")");
  buffer_.resize(static_cast<size_t>(buf_size));
}

// ---- TKtReader ----

TKtReader::~TKtReader() {
  try {
    if (buf_end_ > buf_pos_) stream_.Seek(buf_pos_ - buf_end_, SeekOrigin::Current);
  } catch (...) {  // a stream that cannot seek back keeps its position
  }
}

void TKtReader::Refill() {
  const int64_t got = stream_.Read(buffer_.data(), buf_size_);
  if (got <= 0) RaiseReadError();
  buf_pos_ = 0;
  buf_end_ = static_cast<int32_t>(got);
}

void TKtReader::ReadBuffer(void* dest, int64_t count) {
  auto* out = static_cast<uint8_t*>(dest);
  while (count > 0) {
    if (buf_pos_ == buf_end_) Refill();
    const int64_t step = std::min<int64_t>(count, buf_end_ - buf_pos_);
    std::memcpy(out, buffer_.data() + buf_pos_, static_cast<size_t>(step));
    buf_pos_ += static_cast<int32_t>(step);
    out += step;
    count -= step;
  }
}

int64_t TKtReader::BytesLeft() {
  const int64_t in_stream = std::max<int64_t>(0, stream_.Size() - stream_.Position());
  return (buf_end_ - buf_pos_) + in_stream;
}

bool TKtReader::CanRead(int64_t count) { return count <= buf_end_ - buf_pos_ || count <= BytesLeft(); }

// ---- TKtWriter ----

TKtWriter::~TKtWriter() {
  try {
    FlushBuffer();
  } catch (...) {  // documented: the destructor swallows a failed flush
  }
}

void TKtWriter::WriteBuffer(const void* source, int64_t count) {
  const auto* in = static_cast<const uint8_t*>(source);
  while (count > 0) {
    if (buf_pos_ == buf_size_) FlushBuffer();
    const int64_t step = std::min<int64_t>(count, buf_size_ - buf_pos_);
    std::memcpy(buffer_.data() + buf_pos_, in, static_cast<size_t>(step));
    buf_pos_ += static_cast<int32_t>(step);
    in += step;
    count -= step;
  }
}

void TKtWriter::FlushBuffer() {
  const int32_t filled = buf_pos_;
  // Emptied first so that a failing stream is not written twice by the
  // destructor's flush.
  buf_pos_ = 0;
  stream_.WriteBuffer(buffer_.data(), filled);
}

// ---- TKtBinaryReader ----

uint8_t TKtBinaryReader::ReadValueType() {
  uint8_t code = 0;
  ReadBuffer(&code, 1);
  return code;
}

uint64_t TKtBinaryReader::ReadLittleEndian(int bytes) {
  uint8_t data[8] = {};
  ReadBuffer(data, bytes);
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | data[i];
  return value;
}

uint32_t TKtBinaryReader::ReadLength(int bytes) { return static_cast<uint32_t>(ReadLittleEndian(bytes)); }

uint8_t TKtBinaryReader::ReadByte() {
  const uint8_t code = ReadValueType();
  if (code != 2 && code != 3) RaiseInvalidValueType();
  return static_cast<uint8_t>(ReadLittleEndian(1));
}

uint16_t TKtBinaryReader::ReadWord() {
  const uint8_t code = ReadValueType();
  if (code != 2 && code != 3 && code != 5 && code != 6) RaiseInvalidValueType();
  return static_cast<uint16_t>(ReadLittleEndian(kDataBytes[code]));
}

uint32_t TKtBinaryReader::ReadCardinal() {
  const uint8_t code = ReadValueType();
  if (code < kFirstIntegerCode || code > kLastIntegerCode || IsNegativeCode(code)) RaiseInvalidValueType();
  return static_cast<uint32_t>(ReadLittleEndian(kDataBytes[code]));
}

int32_t TKtBinaryReader::ReadInteger() {
  const uint8_t code = ReadValueType();
  // Code 12 holds values above the signed range, so it is refused here.
  if (code < kFirstIntegerCode || code >= kLastIntegerCode) RaiseInvalidValueType();
  const int bytes = kDataBytes[code];
  uint32_t value = static_cast<uint32_t>(ReadLittleEndian(bytes));
  if (IsNegativeCode(code) && bytes < 4) value |= ~0u << (8 * bytes);
  return static_cast<int32_t>(value);
}

WideString TKtBinaryReader::ReadWideStr() {
  const uint8_t code = ReadValueType();
  if (code < value_code::kEmptyString || code > value_code::kLastCode) RaiseInvalidValueType();
  const bool wide = code >= value_code::kEmptyWideString;
  const int length_bytes = code - (wide ? value_code::kEmptyWideString : value_code::kEmptyString);
  if (length_bytes == 0) return WideString();
  const uint32_t length = ReadLength(length_bytes);
  // A length that the rest of the stream cannot hold is refused before any
  // memory is taken for it.
  if (!CanRead(length)) RaiseReadError();
  std::string bytes(length, '\0');
  ReadBuffer(bytes.data(), length);
  if (!wide) return Utf8ToWide(bytes);
  WideString text(length / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const auto low = static_cast<uint8_t>(bytes[2 * i]);
    const auto high = static_cast<uint8_t>(bytes[2 * i + 1]);
    text[i] = static_cast<char16_t>(low | (high << 8));
  }
  return text;
}

// ---- TKtBinaryWriter ----

void TKtBinaryWriter::WriteValueType(uint8_t code) { WriteBuffer(&code, 1); }

void TKtBinaryWriter::WriteLittleEndian(uint32_t value, int bytes) {
  uint8_t data[4];
  for (int i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(value >> (8 * i));
  WriteBuffer(data, bytes);
}

void TKtBinaryWriter::WriteByte(uint8_t b) {
  WriteValueType(3);
  WriteLittleEndian(b, 1);
}

void TKtBinaryWriter::WriteWord(uint16_t w) { WriteCardinal(w); }

void TKtBinaryWriter::WriteCardinal(uint32_t c) {
  const uint8_t code = NonNegativeCode(BitLength(c));
  WriteValueType(code);
  WriteLittleEndian(c, kDataBytes[code]);
}

void TKtBinaryWriter::WriteInteger(int32_t i) {
  if (i >= 0) {
    WriteCardinal(static_cast<uint32_t>(i));
    return;
  }
  const uint8_t code = NegativeCode(BitLength(~static_cast<uint32_t>(i)));
  WriteValueType(code);
  WriteLittleEndian(static_cast<uint32_t>(i), kDataBytes[code]);
}

void TKtBinaryWriter::WriteWideStr(std::u16string_view s) {
  if (s.empty()) {
    WriteValueType(value_code::kEmptyWideString);
    return;
  }
  // The byte length must fit the four length bytes of the format.
  if (s.size() > 0x7FFFFFFFu) throw EStreamError("Stream write error");
  const auto length = static_cast<uint32_t>(s.size() * 2);
  const int length_bytes = ByteLength(length);
  WriteValueType(static_cast<uint8_t>(value_code::kEmptyWideString + length_bytes));
  WriteLittleEndian(length, length_bytes);
  std::string bytes(length, '\0');
  for (size_t i = 0; i < s.size(); ++i) {
    bytes[2 * i] = static_cast<char>(s[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(s[i] >> 8);
  }
  WriteBuffer(bytes.data(), length);
}

}  // namespace kt
