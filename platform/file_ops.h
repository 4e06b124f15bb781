// SPDX-License-Identifier: MIT
// File deletes and moves on UTF-8 paths. Every routine answers false on
// failure and leaves the reason in errno, as the system reported it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Move flags, with the values the engine stores and passes around.
constexpr uint32_t kMoveReplaceExisting = 0x1;
// Allows a copy and delete when the target lies on another file system.
constexpr uint32_t kMoveCopyAllowed = 0x2;
// The copied data reaches the disk before the move reports success.
constexpr uint32_t kMoveWriteThrough = 0x8;

// Deletes a file (never a folder).
bool DeleteFile(const std::string& path);
// Whether a file that is not a folder exists under that name.
bool FileExists(const std::string& path);
// Whether anything (file, folder, link) exists under that name.
bool PathExists(const std::string& path);
// Renames oldPath to newPath. Without kMoveReplaceExisting an existing
// target is kept and the move fails with EEXIST. Across file systems, with
// kMoveCopyAllowed, the data is copied beside the target first and put in
// place whole, then the source is deleted: a failed copy leaves the source
// untouched and no partial target behind.
bool MoveFile(const std::string& oldPath, const std::string& newPath, uint32_t flags);

}  // namespace platform
