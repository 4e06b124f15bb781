// SPDX-License-Identifier: MIT
#include "app/failure_report.h"

#include <unistd.h>

namespace larkspur {
namespace {

constexpr const char* kPrefix = "Larkspur Podcast Downloader: ";

// Engine messages put "\r\n" between their parts; one report stays one line.
std::string OneLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  bool blank = false;
  for (char c : text) {
    const bool isBreak = c == '\r' || c == '\n' || c == '\t';
    if (isBreak) {
      blank = !line.empty();
      continue;
    }
    if (blank && line.back() != ' ') line += ' ';
    blank = false;
    line += c;
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
