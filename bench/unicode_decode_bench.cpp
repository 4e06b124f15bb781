// SPDX-License-Identifier: MIT
// Decoding throughput of the Unicode reader next to glibc's iconv doing the
// same conversion (64 MB of UTF-8 or Windows-1252 text to UTF-16) in the
// same run. Goal: the reader, reading whole blocks, at least as fast as iconv.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "toolkit/kt_unicode.h"
#include "toolkit/kt_unicode_codecs.h"
#include "toolkit/kt_unicode_single_byte.h"

namespace {

constexpr size_t kTextSize = 64u << 20;

// Feed-like text: mostly ASCII markup and words, some accented letters and
// punctuation from beyond ASCII.
std::string MakeText(const std::string& sample) {
  std::string text;
  text.reserve(kTextSize + sample.size());
  while (text.size() < kTextSize) text += sample;
  text.resize(kTextSize);
  return text;
}

const std::string& Utf8Text() {
  static const std::string text = MakeText(
      "<item><title>Caf\xC3\xA9 na\xC3\xAFve \xE2\x80\x93 r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC"
      "12</title><description>\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, "
      "the quick brown fox jumps over the lazy dog.</description></item>\n");
  return text;
}

const std::string& Windows1252Text() {
  static const std::string text = MakeText(
      "<item><title>Caf\xE9 na\xEFve \x96 r\xE9sum\xE9 \x80"
      "12</title><description>\x93Quoted\x94, the quick brown fox jumps over "
      "the lazy dog.</description></item>\n");
  return text;
}

// Whole blocks through ReadChars, as iconv converts them, or one ReadChar
// per character, as a scanner that looks at each one reads.
void DecodeWithReader(benchmark::State& state, const std::string& text,
                      bool (*read)(kt::TKtUnicodeReader&, kt::WideChar&), bool perChar) {
  std::vector<char16_t> out(text.size());
  for (auto _ : state) {
    kt::TKtUnicodeReader reader;
    reader.SetReadMethods({nullptr, read, nullptr});
    reader.SourceBufferEx(text.data(), static_cast<uint32_t>(text.size()));
    size_t count = 0;
    if (perChar) {
      while (reader.ReadChar()) out[count++] = reader.Char;
    } else {
      count = reader.ReadChars(out.data(), static_cast<uint32_t>(out.size()));
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void DecodeWithIconv(benchmark::State& state, const std::string& text, const char* charset) {
  std::vector<char16_t> out(text.size());
  iconv_t cd = iconv_open("UTF-16LE", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    state.SkipWithError("iconv_open failed");
    return;
  }
  for (auto _ : state) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = reinterpret_cast<char*>(out.data());
    size_t outLeft = out.size() * sizeof(char16_t);
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      state.SkipWithError("iconv failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ReaderUtf8(benchmark::State& state) { DecodeWithReader(state, Utf8Text(), kt::Read_UTF_8, false); }
void BM_ReaderUtf8PerChar(benchmark::State& state) {
  DecodeWithReader(state, Utf8Text(), kt::Read_UTF_8, true);
}
void BM_IconvUtf8(benchmark::State& state) { DecodeWithIconv(state, Utf8Text(), "UTF-8"); }
void BM_ReaderWindows1252(benchmark::State& state) {
  DecodeWithReader(state, Windows1252Text(), kt::Read_Windows_1252, false);
}
void BM_ReaderWindows1252PerChar(benchmark::State& state) {
  DecodeWithReader(state, Windows1252Text(), kt::Read_Windows_1252, true);
}
void BM_IconvWindows1252(benchmark::State& state) {
  DecodeWithIconv(state, Windows1252Text(), "CP1252");
}

BENCHMARK(BM_ReaderUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderUtf8PerChar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderWindows1252)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderWindows1252PerChar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvWindows1252)->Unit(benchmark::kMillisecond);

}  // namespace
