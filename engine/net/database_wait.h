// SPDX-License-Identifier: MIT
// The database steps that record a finished download: a failure that says
// nothing of the download (the line to the database went away, another
// transaction held the row) is waited out, so that the file that came is
// kept and recorded once the database answers, instead of being thrown away
// and fetched again.
//
// Threads: any; the pause belongs to the caller.
#pragma once

#include <exception>
#include <functional>

namespace tidewell {

// Whether the database's failure passes: the connection was lost, or the
// rows were held by another transaction (also after the conflict retries).
//
//   | failure                                   | passes |
//   |-------------------------------------------|--------|
//   | connection lost, refused or reset         | yes    |
//   | update conflict, deadlock, lock conflict  | yes    |
//   | anything else (a value the column refuses)| no     |
bool IsPassingDatabaseFailure(const std::exception& failure);

// Runs step until it succeeds. After each passing failure pause(ms) runs,
// with pauses growing from kFirstPauseMs to kLongestPauseMs; pause answers
// false to give up (a stop was asked for): false is returned then. Other
// failures pass on. step undoes what it left open itself.
bool RunUntilTheDatabaseTakesIt(const std::function<void()>& step, const std::function<bool(int ms)>& pause);

constexpr int kFirstDatabasePauseMs = 100;
constexpr int kLongestDatabasePauseMs = 5000;

}  // namespace tidewell
