// SPDX-License-Identifier: MIT
// Whole-file replacement that never leaves a half-written file behind: the
// new content goes to a temporary file beside the target, is flushed to disk
// and then renamed over the target, so readers and a crash see either the
// old or the new content.
#pragma once

#include <string>
#include <sys/types.h>

namespace platform {

// Replaces (or creates) path with content. A new file gets new_file_mode; an
// existing file keeps its mode. Returns false, with the target untouched and
// no temporary file left, when any step fails.
bool WriteFileAtomically(const std::string& path, const std::string& content, mode_t new_file_mode);

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& content);

}  // namespace platform
