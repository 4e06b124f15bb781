// SPDX-License-Identifier: MIT
// A small file system of the test's own (tmpfs), for the tests of a full
// disk. Mounting one needs root, as the tests have in CI; where the system
// refuses, Mounted() is false and SkipReason() says why.
#pragma once

#include <cstdint>
#include <string>

#include "support/temp_folder.h"

namespace testing_support {

// Writes to file (made when missing) until its file system has no block
// left. Raises std::runtime_error when the writes end otherwise.
void FillToLastBlock(const std::string& file);

class SmallFileSystem {
 public:
  explicit SmallFileSystem(int64_t bytes);
  // Unmounts it; lazily while a process still holds files there.
  ~SmallFileSystem();
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& SkipReason() const { return reason_; }
  // Its root, with a trailing '/'.
  const std::string& Path() const { return path_; }
  // Fills it with a file of its own until no more than leaving bytes are
  // free (to its last block by default); Empty removes that file.
  void Fill(int64_t leaving = 0);
  void Empty();
  int64_t FreeBytes() const;

 private:
  TempFolder folder_;
  std::string path_;
  std::string reason_;
  bool mounted_ = false;
};

}  // namespace testing_support
