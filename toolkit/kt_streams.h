// SPDX-License-Identifier: MIT
// A compact stream of typed values over a byte stream. Each value is one code
// byte giving its type and size, then its bytes in little-endian order; integers
// take as few bytes as their value needs, strings are prefixed by a length of as
// few bytes as the length needs. Readers and writers move the data in blocks
// through a buffer of their own. Used by one thread at a time.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "toolkit/stream.h"
#include "toolkit/wide_string.h"

namespace kt {

// A value the reader cannot take, or a stream that ends inside a value. It is
// a stream error, so callers that catch EStreamError see it too.
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// The value codes. 1-12 are integers of 1-4 bytes in three kinds (negative,
// top stored bit clear, all stored bits used); 13-24 the same kinds for 5-8
// bytes and 25-28 other fixed-size values, which no operation here reads or
// writes; 29-33 8-bit strings, 34-38 16-bit strings.
namespace value_code {
constexpr uint8_t kNone = 0;
constexpr uint8_t kEmptyString = 29;      // 30-33: 1-4 length bytes follow
constexpr uint8_t kEmptyWideString = 34;  // 35-38: 1-4 length bytes follow
constexpr uint8_t kLastCode = 38;
}  // namespace value_code

// The number of significant bits of v (0 for 0) and the bytes they fill.
int BitLength(uint32_t v);
int ByteLength(uint32_t v);

// The buffer and the byte stream that readers and writers share. The stream
// is not owned and must outlive the filer.
class TKtFiler {
 public:
  static constexpr int32_t kDefaultBufSize = 4096;

  // REQUIRES: buf_size > 0 (otherwise kt::Exception is raised).
  TKtFiler(TStream& stream, int32_t buf_size);
  virtual ~TKtFiler() = default;
  TKtFiler(const TKtFiler&) = delete;
  TKtFiler& operator=(const TKtFiler&) = delete;

  TStream& Stream() { return stream_; }

 protected:
  TStream& stream_;
  std::vector<uint8_t> buffer_;
  int32_t buf_size_;
  int32_t buf_pos_ = 0;  // next byte of the buffer to read or to fill
};

class TKtReader : public TKtFiler {
 public:
  using TKtFiler::TKtFiler;
  // Moves the stream back over the buffered bytes not yet consumed, so the
  // stream stands right after the last value read. Never throws.
  ~TKtReader() override;

  // Copies count bytes, refilling the buffer as it runs dry. A stream that
  // ends first raises EReadError "Stream read error".
  void ReadBuffer(void* dest, int64_t count);
  // The bytes that remain to be read: buffered plus left in the stream.
  int64_t BytesLeft();
  // Whether count more bytes can be read. Used to refuse length fields that
  // no remaining data could satisfy; the stream is asked only when the
  // buffer does not hold them.
  bool CanRead(int64_t count);

 private:
  void Refill();

  int32_t buf_end_ = 0;  // bytes held in the buffer
};

class TKtWriter : public TKtFiler {
 public:
  using TKtFiler::TKtFiler;
  // Flushes what is buffered; a failure of that flush is swallowed, since a
  // destructor never throws. Call FlushBuffer first to see write failures.
  ~TKtWriter() override;

  void WriteBuffer(const void* source, int64_t count);
  // Writes the filled part of the buffer to the stream and empties it.
  // Failures of the stream (EStreamError) reach the caller.
  void FlushBuffer();
};

// Reads typed values. A code that the operation does not accept raises
// EReadError "Invalid Element Type" with the code byte consumed and the
// value's data bytes left in the stream.
class TKtBinaryReader : public TKtReader {
 public:
  using TKtReader::TKtReader;

  uint8_t ReadValueType();
  uint8_t ReadByte();          // codes 2, 3
  uint16_t ReadWord();         // codes 2, 3, 5, 6
  uint32_t ReadCardinal();     // non-negative codes 2-12
  int32_t ReadInteger();       // codes 1-11
  // Codes 29-38. 8-bit text is taken as UTF-8, the system's 8-bit text. A
  // 16-bit text of an odd byte length keeps (length div 2) characters; its
  // last byte is consumed so the next value is read from its own start.
  WideString ReadWideStr();

 private:
  uint64_t ReadLittleEndian(int bytes);
  uint32_t ReadLength(int bytes);
};

// Writes typed values in the fewest bytes their values need.
class TKtBinaryWriter : public TKtWriter {
 public:
  using TKtWriter::TKtWriter;

  void WriteValueType(uint8_t code);
  void WriteByte(uint8_t b);  // always code 3 and one byte
  void WriteWord(uint16_t w);
  void WriteCardinal(uint32_t c);
  void WriteInteger(int32_t i);
  // Code 34 for an empty text; otherwise 35-38, the byte length in 1-4 bytes,
  // then the UTF-16LE text. No 8-bit strings are ever written.
  void WriteWideStr(std::u16string_view s);

 private:
  void WriteLittleEndian(uint32_t value, int bytes);
};

}  // namespace kt
