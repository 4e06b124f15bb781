// SPDX-License-Identifier: MIT
#include "engine/net/proxy_settings.h"

#include <cctype>
#include <vector>

namespace tidewell {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string StripLeadingScheme(const std::string& lowered) {
  for (const char* scheme : {"http://", "ftp://", "https://"}) {
    const std::string s = scheme;
    if (lowered.compare(0, s.size(), s) == 0) return lowered.substr(s.size());
  }
  return lowered;
}

std::vector<std::string> BypassEntries(const std::string& list) {
  std::vector<std::string> entries;
  size_t from = 0;
  while (from <= list.size()) {
    size_t end = list.find(';', from);
    if (end == std::string::npos) end = list.size();
    const std::string entry = StripLeadingScheme(Lower(Trim(list.substr(from, end - from))));
    if (!entry.empty()) entries.push_back(entry);
    from = end + 1;
  }
  return entries;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool EntryMatches(const std::string& subject, const std::string& entry) {
  if (entry.front() == '*') return EndsWith(subject, entry.substr(1));
  if (entry.back() == '*') return subject.compare(0, entry.size() - 1, entry, 0, entry.size() - 1) == 0;
  return subject.find(entry) != std::string::npos;
}

}  // namespace

bool IsProxyBypassed(const std::string& url, const std::string& bypassList) {
  const std::string subject = StripLeadingScheme(Lower(url));
  for (const std::string& entry : BypassEntries(bypassList)) {
    if (EntryMatches(subject, entry)) return true;
  }
  return false;
}

}  // namespace tidewell
