// SPDX-License-Identifier: MIT
// A first start killed (SIGKILL) while it makes the database and its tables:
// the next start must still bring the database to the whole schema. Each
// moment is tried TIDEWELL_KILL_RUNS times (default 1: a run takes seconds).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "support/firebird_test_database.h"
#include "support/temp_folder.h"

extern char** environ;

namespace tidewell {
namespace {

using Clock = std::chrono::steady_clock;

pid_t StartChild(const std::string& folder) {
  const char* given = std::getenv("TIDEWELL_FIRST_START_CHILD");
  std::string program = given != nullptr ? given : TIDEWELL_FIRST_START_CHILD;
  std::vector<char*> argv = {program.data(), const_cast<char*>(folder.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

int WaitExitCode(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The count of user tables and the recorded version, read from outside.
bool SchemaIsComplete(const std::string& file) {
  TDbConnWrapper connection;
  connection.SetDBFileName(file);
  connection.Connect();
  int64_t tables = 0;
  std::string version;
  testing_support::RunStatement(connection,
                                "select count(*) from rdb$relations where rdb$system_flag=0 and rdb$view_blr is null",
                                [&](TQueryWrapper& row) { tables = row.Fields(0).AsInt64(); });
  testing_support::RunStatement(connection, "select value_ from variables where type_='dbVerChk'",
                                [&](TQueryWrapper& row) {
                                  if (!row.Eof()) version = row.Fields(0).AsString();
                                });
  return tables == 22 && version == "1029";
}

int RunsPerMoment() {
  const char* text = std::getenv("TIDEWELL_KILL_RUNS");
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 1;
}

TEST(FirstStartKillTest, AStartKilledWhileMakingTheSchemaIsFinishedByTheNextStart) {
  testing_support::UsePrivateFirebirdLockFolder();
  // How long an undisturbed first start takes on this machine.
  Clock::duration whole{};
  {
    testing_support::TempFolder folder;
    const auto started = Clock::now();
    ASSERT_EQ(WaitExitCode(StartChild(folder.Path())), 0);
    whole = Clock::now() - started;
  }
  const std::vector<double> moments = {0.1, 0.3, 0.5, 0.7, 0.9};
  int bad = 0;
  for (double moment : moments) {
    int badHere = 0;
    for (int run = 0; run < RunsPerMoment(); ++run) {
      testing_support::TempFolder folder;
      const pid_t child = StartChild(folder.Path());
      ASSERT_GT(child, 0);
      std::this_thread::sleep_for(std::chrono::duration_cast<Clock::duration>(whole * moment));
      kill(child, SIGKILL);
      WaitExitCode(child);
      // The next start, undisturbed.
      const pid_t again = StartChild(folder.Path());
      const int code = WaitExitCode(again);
      const std::string file = folder.File("rssengine.fdb");
      bool complete = false;
      try {
        complete = code == 0 && SchemaIsComplete(file);
      } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
      }
      if (!complete) ++badHere;
    }
    std::cout << "killed at " << moment << " of " << std::chrono::duration<double>(whole).count()
              << " s: " << badHere << " bad of " << RunsPerMoment() << "\n";
    bad += badHere;
  }
  EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace tidewell
