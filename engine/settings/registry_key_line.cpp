// SPDX-License-Identifier: MIT
#include "engine/settings/registry_key_line.h"

namespace tidewell {
namespace {

// Blanks and control characters count as white space here, as in every
// hand-written settings text.
std::string TrimControls(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

std::string AsciiCase(std::string text, bool upper) {
  for (char& c : text) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::optional<platform::RegistryRoot> ParseRoot(const std::string& text) {
  const std::string root = AsciiCase(TrimControls(text), true);
  if (root == "HKCU") return platform::RegistryRoot::CurrentUser;
  if (root == "HKLM") return platform::RegistryRoot::LocalMachine;
  return std::nullopt;
}

// The rights between "[" and a closing "]" that must be the last character.
std::optional<std::string> ParseRightsText(const std::string& text) {
  if (text.empty() || text.back() != ']') return std::nullopt;
  return TrimControls(text.substr(0, text.size() - 1));
}

void SetAccess(const std::string& rights, TRegistryKeyLine& key) {
  if (AsciiCase(rights, false) == "full control") {
    key.letters = "RW";
    key.access = arRead | arWrite | arCreate;
  } else {
    key.access = ParseAccessRights(rights, &key.letters);
  }
}

uint32_t AccessBitOf(char letter) {
  switch (letter) {
    case 'R': return arRead;
    case 'W': return arWrite;
    case 'C': return arCreate;
    default: return 0;
  }
}

}  // namespace

uint32_t ParseAccessRights(const std::string& rights, std::string* letters) {
  uint32_t access = 0;
  for (const char c : AsciiCase(rights, true)) {
    if (c < 'A' || c > 'Z') break;
    const uint32_t bit = AccessBitOf(c);
    if (bit == 0) continue;
    access |= bit;
    if (letters != nullptr) *letters += c;
  }
  return access;
}

std::optional<TRegistryKeyLine> ParseRegistryKeyLine(const std::string& line) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return std::nullopt;
  const auto root = ParseRoot(line.substr(0, equals));
  if (!root) return std::nullopt;
  const std::string rest = line.substr(equals + 1);
  const size_t bracket = rest.find('[');
  if (bracket == std::string::npos) return std::nullopt;
  const auto rights = ParseRightsText(rest.substr(bracket + 1));
  if (!rights) return std::nullopt;
  TRegistryKeyLine key;
  key.root = *root;
  key.path = TrimControls(rest.substr(0, bracket));
  SetAccess(*rights, key);
  if (key.access == 0) return std::nullopt;
  return key;
}

}  // namespace tidewell
