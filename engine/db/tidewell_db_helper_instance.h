// SPDX-License-Identifier: MIT
// The process's one insert helper. The engine makes it at construction and
// frees it at destruction; every worker and data-model routine reaches it
// here, so all inserts of the process are serialised under one lock.
//
// Threads: make and free on the main thread; DbHelperInstance() from any
// thread while the engine lives.
#pragma once

#include "engine/db/tidewell_db_helper.h"

namespace tidewell {

// The helper, or nullptr when no engine has made one.
TtidewellDbHelper* DbHelperInstance();

// Makes the helper. Raises "DB helper class already exists !" when the
// process holds one already, which keeps to one engine per process.
TtidewellDbHelper& CreateDbHelperInstance();

// Frees the helper and clears the process's reference.
void FreeDbHelperInstance();

// Clears the process's reference without freeing the helper: for a helper
// that a detached worker may still be using at shut-down.
void AbandonDbHelperInstance();

}  // namespace tidewell
