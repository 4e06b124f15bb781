// SPDX-License-Identifier: MIT
// Room for the in-process engine's lock files.
//
// The in-process Firebird engine keeps its lock table, monitor table, user
// mapping and trace state in files of its lock folder ($FIREBIRD_LOCK), about
// 3 MiB in all, that it sizes without giving them blocks and maps into
// memory. On a file system without room, the first write to such a page ends
// the process with SIGBUS: inside the attachment, or at any later moment
// the lock table first reaches a page. So an in-process attachment is made
// only once the folder has taken that many bytes of real blocks, and once
// made, the lock files get their blocks while there is room.
#pragma once

#include <cstdint>
#include <string>

namespace tidewell::db {

// The lock files at their first sizes (3 MiB), and the lock table's first
// growth.
inline constexpr int64_t kLockFilesBytes = int64_t{4} << 20;
// What the lock table may grow by on a full disk: from 1 to 2 MiB, about
// 10,000 locks held at once (20,000 need 4 MiB). Beyond that the engine
// still dies of SIGBUS.
inline constexpr int64_t kLockTableGrowthBytes = int64_t{1} << 20;

// The folder where the in-process engine keeps its lock files, as the
// engine itself finds it ($FIREBIRD_LOCK, else the library's default).
std::string EngineLockFolder();

// Raises kt::Exception naming the folder when it (or, while it does not
// exist yet, the nearest existing folder above it) cannot take what the lock
// files still lack of bytes: the blocks its files hold already (lock files
// left by a process that was killed) count. No space left, or the user's
// quota reached; any other obstacle (no right to write there, say) is left to
// the engine, which reports it. Once the check passed for the folder, the
// process's later calls pass at once: the engine's own lock files, made at
// the first attachment, would otherwise count against them.
void RequireRoomForLockFiles(int64_t bytes = kLockFilesBytes);

// Gives every file of the lock folder blocks for its whole size (the lock
// table kLockTableGrowthBytes more, past its end), its size and contents
// unchanged; what cannot be given is left (the engine's files of other
// users, a file system that reserves nothing, no room left).
void GiveLockFilesTheirBlocks();

}  // namespace tidewell::db
