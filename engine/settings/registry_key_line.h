// SPDX-License-Identifier: MIT
// The key lines that name the settings store's keys, such as
// "HKCU=\SOFTWARE\Policies\Pinwheel[RWC]": a root (HKCU or HKLM), "=", a key
// path, and the access in square brackets, as letters R (read), W (write)
// and C (create) or the words "full control".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/registry_location.h"

namespace tidewell {

enum TAccessRight : uint32_t {
  arRead = 1,
  arWrite = 2,
  arCreate = 4,
};

// The access bits of a rights text, scanned from the left: each character is
// upper-cased, the scan stops at the first one that is no letter A-Z, and
// letters other than R, W and C are passed over. When letters is given, the
// recognised letters are appended in the order met, repeats kept.
uint32_t ParseAccessRights(const std::string& rights, std::string* letters = nullptr);

struct TRegistryKeyLine {
  platform::RegistryRoot root = platform::RegistryRoot::CurrentUser;
  std::string path;     // as written, trimmed
  std::string letters;  // "RW" for "full control"
  uint32_t access = 0;  // never 0
};

// Nothing for a line without "=", with a root other than HKCU and HKLM,
// without "[", whose rights do not end in "]", or that grants no access.
std::optional<TRegistryKeyLine> ParseRegistryKeyLine(const std::string& line);

}  // namespace tidewell
