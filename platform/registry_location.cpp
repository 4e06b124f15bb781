// SPDX-License-Identifier: MIT
#include "platform/registry_location.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace platform {
namespace {

constexpr char kKeyFileSuffix[] = ".reg";

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  const passwd* entry = ::getpwuid(::getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

std::string UserConfigFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
  const std::string home = HomeFolder();
  return home.empty() ? "" : home + "/.config";
}

bool IsValidElement(const std::string& element) {
  return !element.empty() && element != "." && element != ".." &&
         element.find('/') == std::string::npos && element.find('\0') == std::string::npos;
}

std::optional<std::vector<std::string>> SplitKeyPath(const std::string& key_path) {
  std::string path = key_path;
  if (!path.empty() && path.front() == '\\') path.erase(0, 1);
  if (!path.empty() && path.back() == '\\') path.pop_back();
  std::vector<std::string> elements;
  size_t start = 0;
  while (true) {
    const size_t end = path.find('\\', start);
    elements.push_back(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (!IsValidElement(elements.back())) return std::nullopt;
    if (end == std::string::npos) return elements;
    start = end + 1;
  }
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// The name of the folder's entry that matches name without regard to case;
// name itself when none does.
std::string MatchEntry(const std::string& folder, const std::string& name) {
  std::error_code error;
  if (std::filesystem::exists(folder + "/" + name, error)) return name;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string entry = it->path().filename().string();
    if (SameNameIgnoringCase(entry, name)) return entry;
  }
  return name;
}

std::string TrimTrailingSlashes(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

RegistryBaseFolders RegistryBaseFolders::FromEnvironment() { return {UserConfigFolder(), "/etc"}; }

const std::string& RegistryBaseFolders::For(RegistryRoot root) const {
  return root == RegistryRoot::CurrentUser ? current_user : local_machine;
}

std::string RegistryRootName(RegistryRoot root) {
  return root == RegistryRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::optional<RegistryKeyLocation> LocateRegistryKey(const RegistryBaseFolders& bases, RegistryRoot root,
                                                     const std::string& key_path) {
  if (bases.For(root).empty()) return std::nullopt;
  const auto elements = SplitKeyPath(key_path);
  if (!elements) return std::nullopt;
  RegistryKeyLocation location;
  location.folder = TrimTrailingSlashes(bases.For(root));
  location.section_name = RegistryRootName(root);
  for (size_t i = 0; i + 1 < elements->size(); ++i) {
    location.folder += "/" + MatchEntry(location.folder, (*elements)[i]);
    location.section_name += "\\" + (*elements)[i];
  }
  const std::string& last = elements->back();
  location.file = location.folder + "/" + MatchEntry(location.folder, last + kKeyFileSuffix);
  location.subkey_folder = location.folder + "/" + MatchEntry(location.folder, last);
  location.section_name += "\\" + last;
  return location;
}

}  // namespace platform
