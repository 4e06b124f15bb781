// SPDX-License-Identifier: MIT
// Scratch databases for the benchmarks, and isql-fb as the reference that
// parses every statement it runs.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace bench_support {

// A scratch folder of this process, holding the engine's lock files too: it
// must be named before the first call into Firebird. Removed at exit.
inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tw-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    ::setenv("FIREBIRD_LOCK", (pattern + "/lock").c_str(), 1);
    std::filesystem::create_directories(pattern + "/lock");
    return std::filesystem::path(pattern);
  }();
  return folder;
}

struct ScratchCleanup {
  ~ScratchCleanup() {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchFolder(), ignored);
  }
};

inline std::string NewDatabasePath(const char* name) {
  static int serial = 0;
  return (ScratchFolder() / (std::string(name) + std::to_string(++serial) + ".fdb")).string();
}

inline std::string IsqlCommand(const std::string& database, const std::string& script) {
  return "isql-fb -q -user SYSDBA -ch UTF8 -i '" + script + "' '" + database + "' > /dev/null 2>&1";
}

inline bool IsqlAvailable() { return std::system("command -v isql-fb > /dev/null 2>&1") == 0; }

}  // namespace bench_support
