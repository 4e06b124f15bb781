// SPDX-License-Identifier: MIT
// Where a settings key lives on disk. Each root has a base folder: the
// user's configuration folder for HKEY_CURRENT_USER, /etc for
// HKEY_LOCAL_MACHINE. A key path such as \SOFTWARE\Pinwheel names the file
// <base>/SOFTWARE/Pinwheel.reg; its subkeys live in the folder
// <base>/SOFTWARE/Pinwheel/.
#pragma once

#include <optional>
#include <string>

namespace platform {

enum class RegistryRoot { CurrentUser, LocalMachine };

struct RegistryBaseFolders {
  std::string current_user;
  std::string local_machine;

  // $XDG_CONFIG_HOME when it is an absolute path, else ~/.config; and /etc.
  static RegistryBaseFolders FromEnvironment();
  const std::string& For(RegistryRoot root) const;
};

// The root's name as the export format writes it ("HKEY_CURRENT_USER").
std::string RegistryRootName(RegistryRoot root);

struct RegistryKeyLocation {
  std::string folder;  // the folder that holds the key's file
  std::string file;    // the key's file
  std::string subkey_folder;
  std::string section_name;  // root name and key path, for the file's section line
};

// The files of a key path, the leading backslash optional. Each path element
// matches an existing file or folder without regard to ASCII case, as
// registry names do. Nothing for a path that could leave the base folder or
// name no key: empty, ".", ".." or an element holding "/" or a NUL, and for
// an empty base folder.
std::optional<RegistryKeyLocation> LocateRegistryKey(const RegistryBaseFolders& bases, RegistryRoot root,
                                                     const std::string& key_path);

}  // namespace platform
