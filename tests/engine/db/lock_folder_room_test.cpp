// SPDX-License-Identifier: MIT
// The in-process engine's lock folder on a file system filled to its last
// block: a start of the engine (first or later) ends with its reason, the
// folder named, instead of dying of SIGBUS inside the attachment; the
// database is left as it was, and a start after room was made works. An
// engine whose disk fills after its start goes on taking locks.
//
// Each engine runs in a process of its own (the lock folder is read once
// per process): first_start_child, or this test program run again with one
// test that runs only when the parent hands it its folders.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "support/firebird_test_database.h"
#include "support/small_file_system.h"
#include "support/temp_folder.h"

extern char** environ;

namespace tidewell {
namespace {

struct Outcome {
  // The exit code, or minus the signal that ended the process.
  int code = 0;
  std::string errors;
};

std::string Contents(const std::string& file) {
  std::ostringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

constexpr char kDatabaseVariable[] = "TIDEWELL_ROOM_DB";
constexpr char kFillerVariable[] = "TIDEWELL_ROOM_FILLER";
constexpr char kChildTest[] = "LockFolderRoomChild.DISABLED_TakesLocksAfterItsDiskFilled";

// Spawns program with the arguments, FIREBIRD_LOCK and the other variables
// given, its standard error going to errorFile.
Outcome RunProcess(std::vector<std::string> arguments, const std::vector<std::string>& variablesGiven,
                   const std::string& lockFolder, const std::string& errorFile) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (std::string(*entry).rfind("FIREBIRD_LOCK=", 0) != 0) variables.push_back(*entry);
  variables.push_back("FIREBIRD_LOCK=" + lockFolder);
  variables.insert(variables.end(), variablesGiven.begin(), variablesGiven.end());
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return {-1000, "spawn failed"};
  int status = 0;
  ::waitpid(pid, &status, 0);
  Outcome outcome;
  outcome.code = WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
  std::ostringstream text;
  text << std::ifstream(errorFile).rdbuf();
  outcome.errors = text.str();
  return outcome;
}

// A start of the engine as the application makes it (first_start_child).
Outcome StartEngine(const std::string& folder, const std::string& lockFolder, const std::string& errorFile) {
  const char* given = std::getenv("TIDEWELL_FIRST_START_CHILD");
  return RunProcess({given != nullptr ? given : TIDEWELL_FIRST_START_CHILD, folder}, {}, lockFolder, errorFile);
}

// Each transaction takes a lock of its own: ten thousand outgrow the lock
// table that the attachment made (1 MiB).
TEST(LockFolderRoomChild, DISABLED_TakesLocksAfterItsDiskFilled) {
  const char* database = std::getenv(kDatabaseVariable);
  if (database == nullptr) GTEST_SKIP() << "run by LockFolderRoomTest only";
  // The sanitizers' suppressions name the engine: it must stay loaded.
  testing_support::KeepEmbeddedEngineLoaded();
  TDbConnWrapper connection;
  connection.SetDBFileName(database);
  connection.SetForcedWrites(false);
  connection.CreateDatabase(16384);
  testing_support::FillToLastBlock(std::getenv(kFillerVariable));
  std::vector<std::unique_ptr<TTranWrapper>> transactions;
  for (int i = 0; i < 10000; ++i) {
    transactions.push_back(std::make_unique<TTranWrapper>(&connection));
    transactions.back()->StartTransaction();
  }
  for (auto& transaction : transactions) transaction->Commit();
}

TEST(LockFolderRoomTest, AnEngineWhoseDiskFillsAfterItsStartGoesOnTakingLocks) {
  testing_support::SmallFileSystem small(8 << 20);
  if (!small.Mounted()) GTEST_SKIP() << small.SkipReason();
  testing_support::TempFolder folder;
  const std::string locks = small.Path() + "locks";
  std::filesystem::create_directories(locks);
  const Outcome child =
      RunProcess({"/proc/self/exe", std::string("--gtest_filter=") + kChildTest, "--gtest_also_run_disabled_tests"},
                 {std::string(kDatabaseVariable) + "=" + folder.File("room.fdb"),
                  std::string(kFillerVariable) + "=" + small.Path() + "filler"},
                 locks, folder.File("child.err"));
  EXPECT_EQ(child.code, 0) << child.errors;
}

TEST(LockFolderRoomTest, AFullLockFolderEndsAFirstAndALaterStartWithItsReasonAndKeepsTheDatabase) {
  testing_support::SmallFileSystem small(8 << 20);
  if (!small.Mounted()) GTEST_SKIP() << small.SkipReason();
  testing_support::TempFolder folder;
  const std::string data = folder.File("data");
  const std::string database = data + "/rssengine.fdb";
  const std::string locks = small.Path() + "locks";
  std::filesystem::create_directories(data);
  std::filesystem::create_directories(locks);
  const std::string reason = "No space left on device for the database engine's lock files in \"" + locks + "\"";

  small.Fill();
  Outcome first = StartEngine(data, locks, folder.File("first.err"));
  EXPECT_EQ(first.code, 1) << first.errors;
  EXPECT_NE(first.errors.find(reason), std::string::npos) << first.errors;
  EXPECT_FALSE(std::filesystem::exists(database));
  EXPECT_FALSE(std::filesystem::exists(database + ".partial"));

  small.Empty();
  Outcome made = StartEngine(data, locks, folder.File("made.err"));
  ASSERT_EQ(made.code, 0) << made.errors;
  const std::string before = Contents(database);

  small.Fill();
  Outcome later = StartEngine(data, locks, folder.File("later.err"));
  EXPECT_EQ(later.code, 1) << later.errors;
  EXPECT_NE(later.errors.find(reason), std::string::npos) << later.errors;
  EXPECT_TRUE(Contents(database) == before) << "the database changed";

  small.Empty();
  Outcome again = StartEngine(data, locks, folder.File("again.err"));
  EXPECT_EQ(again.code, 0) << again.errors;
}

}  // namespace
}  // namespace tidewell
