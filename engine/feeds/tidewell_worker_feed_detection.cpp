// SPDX-License-Identifier: MIT
// The feed worker's test whether an HTML answer holds a feed after all, and
// the path helper of the file cache.
#include <string>

#include "engine/feeds/tidewell_worker_text.h"
#include "engine/feeds/tidewell_worker_thread_pr_atom_rss_feeds.h"

namespace tidewell {
namespace {

constexpr size_t kSniffLength = 4096;

// The text as the markers are looked for in: trimmed, cut, lower-cased, and
// without line breaks.
std::string SniffText(const std::string& text) {
  std::string sniff = LowerCaseAscii(TrimBlanks(text).substr(0, kSniffLength));
  std::string joined;
  joined.reserve(sniff.size());
  for (char c : sniff) {
    if (c != '\r' && c != '\n') joined += c;
  }
  return joined;
}

bool InsideComment(const std::string& text, int32_t p) {
  const int32_t start = TtidewellWorkerThreadPrAtomRssFeeds::FindCommentStartBefore(text, p);
  int32_t end = TtidewellWorkerThreadPrAtomRssFeeds::FindCommentEndBefore(text, p);
  // An end before the start closes an earlier comment.
  if (end < start) end = 0;
  return start > 0 && end == 0;
}

}  // namespace

bool TtidewellWorkerThreadPrAtomRssFeeds::LooksLikeFeed(const std::string& text) {
  std::string sniff = SniffText(text);
  for (const char* marker : {"<rss ", "<rss>", "<feed ", "<feed>", "<rdf:"}) {
    for (size_t at = sniff.find(marker); at != std::string::npos; at = sniff.find(marker)) {
      if (!InsideComment(sniff, static_cast<int32_t>(at) + 1)) return true;
      // Hidden from the next search, so that a later occurrence is found.
      sniff[at] = '#';
    }
  }
  return false;
}

int32_t TtidewellWorkerThreadPrAtomRssFeeds::FindCommentStartBefore(const std::string& text, int32_t p) {
  int state = 0;
  const int32_t length = static_cast<int32_t>(text.size());
  for (int32_t i = p - 1; i >= 1 && state < 4; --i) {
    if (i > length) continue;
    const char c = text[static_cast<size_t>(i - 1)];
    if (c == '-') {
      state = state <= 2 ? state + 1 : 0;
    } else if (c == '!') {
      state = state == 2 ? 3 : 0;
    } else if (c == '<') {
      if (state == 3) return i;
      state = 0;
    } else {
      state = 0;
    }
  }
  return 0;
}

int32_t TtidewellWorkerThreadPrAtomRssFeeds::FindCommentEndBefore(const std::string& text, int32_t p) {
  int state = 0;
  const int32_t length = static_cast<int32_t>(text.size());
  for (int32_t i = p - 1; i >= 1; --i) {
    if (i > length) continue;
    const char c = text[static_cast<size_t>(i - 1)];
    if (c == '>') {
      state = state == 0 ? 1 : 0;
    } else if (c == '-') {
      state = state > 2 ? 0 : state + 1;
      if (state == 3) return i;
    } else {
      state = 0;
    }
  }
  return 0;
}

std::string TtidewellWorkerThreadPrAtomRssFeeds::ExtractLastPathPart(const std::string& path) {
  std::string trimmed = TrimBlanks(path);
  if (!trimmed.empty() && (trimmed.back() == '/' || trimmed.back() == '\\')) trimmed.pop_back();
  const size_t separator = trimmed.find_last_of("/\\");
  return separator == std::string::npos ? trimmed : trimmed.substr(separator + 1);
}

}  // namespace tidewell
