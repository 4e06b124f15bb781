// SPDX-License-Identifier: MIT
// Where the embedded Firebird engine keeps its lock and temporary files.
// Its default, /tmp/firebird, belongs to the system's "firebird" group on
// Debian, so an ordinary user could not open any database. Every process of
// one user must use the same folder: the engine coordinates processes that
// open one database through the lock files in it.
#pragma once

#include <string>

namespace larkspur {

// Sets FIREBIRD_LOCK and FIREBIRD_TMP, each unless the environment already
// gives it, to a folder of the calling user (made with mode 0700 when
// missing): "larkspur-firebird" in $XDG_RUNTIME_DIR, else in the user's cache
// folder ($XDG_CACHE_HOME, else ~/.cache), else "/tmp/larkspur-firebird-UID".
// A candidate that is not a folder owned by the user is passed over. Returns
// the folder chosen; empty when the environment gave both or none could be
// made (the engine's default stays).
// REQUIRES: called before the first call into the database library and
// before other threads start (it changes the environment).
std::string UseUserFoldersForEmbeddedEngine();

}  // namespace larkspur
