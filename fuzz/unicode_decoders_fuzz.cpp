// SPDX-License-Identifier: MIT
// libFuzzer target: arbitrary bytes through every decoder of the table of
// encodings. Each decoder must not crash, must give the same text from
// memory as from a stream that hands out a few bytes at a time, and must
// give well-formed UTF-16 without any surrogate. The Unicode transformation
// formats must also give the text back after encoding it again.
// The first byte picks how many bytes the stream hands out per read.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "toolkit/kt_unicode.h"
#include "toolkit/kt_unicode_encodings.h"

namespace {

using kt::WideString;

class TrickleStream : public kt::TMemoryStream {
 public:
  explicit TrickleStream(int64_t step) : step_(step) {}
  int64_t Read(void* buffer, int64_t count) override {
    return kt::TMemoryStream::Read(buffer, count < step_ ? count : step_);
  }

 private:
  int64_t step_;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

WideString DecodeAll(kt::TKtUnicodeReader& reader, size_t limit) {
  WideString text;
  while (reader.ReadChar()) {
    text += reader.Char;
    Check(text.size() <= limit);
  }
  Check(!reader.ReadChar());  // the end stays the end
  return text;
}

WideString DecodeMemory(const kt::TKtUnicodeReadMethods& methods, const std::string& bytes) {
  kt::TKtUnicodeReader reader;
  reader.SetReadMethods(methods);
  reader.SourceBufferEx(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return DecodeAll(reader, bytes.size());
}

WideString DecodeTrickle(const kt::TKtUnicodeReadMethods& methods, const std::string& bytes,
                         int64_t step) {
  TrickleStream stream(step);
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  kt::TKtUnicodeReader reader;
  reader.SetReadMethods(methods);
  reader.SourceStream(&stream);
  return DecodeAll(reader, bytes.size());
}

std::string Encode(const kt::TKtUnicodeWriteMethods& methods, const WideString& text) {
  kt::TKtUnicodeWriter writer;
  writer.SetWriteMethods(methods);
  writer.WriteStr(text);
  writer.Flush();
  return writer.Bytes();
}

bool IsTransformationFormat(const kt::TKtUnicodeEncoding& row) {
  return row.EffectiveName().substr(0, 4) == u"UTF-";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int64_t step = 1 + data[0] % 7;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (const auto& row : kt::UnicodeEncodings) {
    if (!row.ReadMethods.ReadChar) continue;
    const WideString text = DecodeMemory(row.ReadMethods, bytes);
    for (char16_t c : text) Check(c < 0xD800 || c > 0xDFFF);
    Check(DecodeTrickle(row.ReadMethods, bytes, step) == text);
    if (IsTransformationFormat(row) && row.WriteMethods.WriteChar) {
      Check(DecodeMemory(row.ReadMethods, Encode(row.WriteMethods, text)) == text);
    }
  }
  return 0;
}
