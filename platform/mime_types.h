// SPDX-License-Identifier: MIT
// Content type to file extension, as the system's MIME types file
// ("/etc/mime.types") registers it, with a small built-in table for the types
// a podcast or feed download meets most.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace platform {

class MimeTypeTable {
 public:
  // The table of "/etc/mime.types", read on first use; the built-in table
  // alone when that file cannot be read. Safe on any thread.
  static const MimeTypeTable& System();
  // The table of a file in mime.types format ("type ext1 ext2 ..." lines,
  // "#" comments); the built-in table alone when the file cannot be read.
  static MimeTypeTable FromFile(const std::string& path);
  static MimeTypeTable BuiltIn();

  // The extension with its leading "." for a content type (compared
  // ignoring case, blanks around it ignored); empty for an unknown type.
  std::string ExtensionFor(std::string_view contentType) const;
  // Whether the entries came from a readable file.
  bool ReadFromFile() const { return readFromFile_; }

 private:
  void AddBuiltInGaps();

  std::unordered_map<std::string, std::string> extensions_;
  bool readFromFile_ = false;
};

}  // namespace platform
