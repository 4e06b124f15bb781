// SPDX-License-Identifier: MIT
#include "support/temp_folder.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace testing_support {

TempFolder::TempFolder() {
  const char* root = std::getenv("TIDEWELL_TEST_TMP");
  const std::filesystem::path base = root != nullptr ? std::filesystem::path(root) : std::filesystem::temp_directory_path();
  std::filesystem::create_directories(base);
  std::string pattern = (base / "tw-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
  path_ = pattern + "/";
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace testing_support
