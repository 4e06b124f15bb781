// SPDX-License-Identifier: MIT
#include "platform/mime_types.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

namespace platform {
namespace {

// The extension preferred for each type. Where the system file lists several
// extensions for a type this one wins when listed ("audio/mpeg" lists "mpga"
// first, but a podcast episode is an ".mp3").
const std::pair<const char*, const char*> kBuiltIn[] = {
    {"audio/mpeg", ".mp3"},        {"audio/mp3", ".mp3"},         {"audio/x-mpeg", ".mp3"},
    {"audio/mpeg3", ".mp3"},       {"audio/x-mp3", ".mp3"},       {"audio/mp4", ".m4a"},
    {"audio/x-m4a", ".m4a"},       {"audio/m4a", ".m4a"},         {"audio/aac", ".aac"},
    {"audio/ogg", ".ogg"},         {"audio/opus", ".opus"},       {"audio/flac", ".flac"},
    {"audio/wav", ".wav"},         {"audio/x-wav", ".wav"},       {"audio/x-ms-wma", ".wma"},
    {"video/mp4", ".mp4"},         {"video/x-m4v", ".m4v"},       {"video/quicktime", ".mov"},
    {"video/mpeg", ".mpeg"},       {"video/webm", ".webm"},       {"video/x-msvideo", ".avi"},
    {"video/x-ms-wmv", ".wmv"},    {"application/pdf", ".pdf"},   {"application/zip", ".zip"},
    {"image/jpeg", ".jpg"},        {"image/png", ".png"},         {"image/gif", ".gif"},
    {"text/html", ".html"},        {"text/plain", ".txt"},        {"text/xml", ".xml"},
    {"application/xml", ".xml"},   {"application/rss+xml", ".rss"}, {"application/atom+xml", ".atom"},
};

std::string Lower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

const char* PreferredExtension(const std::string& type) {
  for (const auto& [name, extension] : kBuiltIn)
    if (type == name) return extension;
  return nullptr;
}

// Picks the listed extension that the built-in table prefers, else the first.
std::string ChooseExtension(const std::string& type, const std::vector<std::string>& listed) {
  const char* preferred = PreferredExtension(type);
  if (preferred != nullptr && std::find(listed.begin(), listed.end(), preferred + 1) != listed.end())
    return preferred;
  return "." + listed.front();
}

}  // namespace

const MimeTypeTable& MimeTypeTable::System() {
  static const MimeTypeTable table = FromFile("/etc/mime.types");
  return table;
}

MimeTypeTable MimeTypeTable::FromFile(const std::string& path) {
  MimeTypeTable table;
  std::ifstream file(path);
  table.readFromFile_ = file.is_open();
  std::string line;
  while (std::getline(file, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string type;
    if (!(words >> type)) continue;
    std::vector<std::string> listed;
    for (std::string extension; words >> extension;) listed.push_back(Lower(extension));
    type = Lower(type);
    if (!listed.empty() && !table.extensions_.count(type)) table.extensions_[type] = ChooseExtension(type, listed);
  }
  table.AddBuiltInGaps();
  return table;
}

MimeTypeTable MimeTypeTable::BuiltIn() {
  MimeTypeTable table;
  table.AddBuiltInGaps();
  return table;
}

void MimeTypeTable::AddBuiltInGaps() {
  for (const auto& [name, extension] : kBuiltIn) extensions_.emplace(name, extension);
}

std::string MimeTypeTable::ExtensionFor(std::string_view contentType) const {
  const auto found = extensions_.find(Lower(TrimBlanks(contentType)));
  return found == extensions_.end() ? std::string() : found->second;
}

}  // namespace platform
