// SPDX-License-Identifier: MIT
// A fresh folder per test, removed with the fixture. Folders live below
// $TIDEWELL_TEST_TMP (the build tree) or the system's temporary folder.
#pragma once

#include <string>

namespace testing_support {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder's path, with a trailing '/'.
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

}  // namespace testing_support
