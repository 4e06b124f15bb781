// SPDX-License-Identifier: MIT
#include "app/failure_report.h"

#include <unistd.h>

#include <cstdio>

namespace larkspur {
namespace {

constexpr const char* kPrefix = "Larkspur Podcast Downloader: ";

std::string Escaped(const char* format, unsigned code) {
  char text[8];
  std::snprintf(text, sizeof text, format, code);
  return text;
}

// The length of the well-formed UTF-8 sequence at text[i], 0 when none starts there.
size_t Utf8SequenceLength(const std::string& text, size_t i) {
  const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned lead = byte(i);
  size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  if (length == 0 || i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  // Over-long forms, surrogates and code points above U+10FFFF.
  if ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) >= 0xA0)) return 0;
  if ((lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) >= 0x90)) return 0;
  return length;
}

// A terminal takes control characters (C0, DEL, and C1 both as UTF-8 and as
// bare bytes) as commands: what a server wrote could set the window title or
// clear the screen. They are shown as "\xNN" or "\uNNNN" instead.
void AppendShown(const std::string& text, size_t& i, std::string& line) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) {
    line += c < 0x20 || c == 0x7F ? Escaped("\\x%02X", c) : std::string(1, static_cast<char>(c));
    ++i;
    return;
  }
  const size_t length = Utf8SequenceLength(text, i);
  if (length == 0) {
    line += Escaped("\\x%02X", c);
    ++i;
    return;
  }
  const unsigned second = static_cast<unsigned char>(text[i + 1]);
  if (c == 0xC2 && second < 0xA0) {
    line += Escaped("\\u%04X", second);
  } else {
    line.append(text, i, length);
  }
  i += length;
}

// Engine messages put "\r\n" between their parts; one report stays one line.
std::string OneLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  bool blank = false;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '\r' || c == '\n' || c == '\t') {
      blank = !line.empty();
      ++i;
      continue;
    }
    if (blank && line.back() != ' ') line += ' ';
    blank = false;
    AppendShown(text, i, line);
  }
  return line;
}

}  // namespace

void ReportFailureLine(const std::string& text) {
  const std::string line = kPrefix + OneLine(text) + "\n";
  // One write, so that lines of several threads do not mix.
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t written = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (written <= 0) return;
    done += static_cast<size_t>(written);
  }
}

}  // namespace larkspur
