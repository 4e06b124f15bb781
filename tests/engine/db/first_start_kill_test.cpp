// SPDX-License-Identifier: MIT
// A first start killed (SIGKILL) while it makes the tables of its database:
// no half-made database carries the name, and the next start brings the
// database to the whole schema. Each step is tried TIDEWELL_KILL_RUNS times
// (default 1: a run takes seconds).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/db/tidewell_schema_texts.h"
#include "support/firebird_test_database.h"
#include "support/temp_folder.h"

extern char** environ;

namespace tidewell {
namespace {

// killAt: the step of the schema at which the child kills itself (see
// first_start_child.cpp), or "" for an undisturbed start.
pid_t StartChild(const std::string& folder, const std::string& killAt = "") {
  const char* given = std::getenv("TIDEWELL_FIRST_START_CHILD");
  std::string program = given != nullptr ? given : TIDEWELL_FIRST_START_CHILD;
  std::string count = killAt;
  std::vector<char*> argv = {program.data(), const_cast<char*>(folder.c_str())};
  if (!count.empty()) argv.push_back(count.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// The exit code, or minus the signal that ended the process.
int WaitOutcome(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Schema {
  int64_t tables = 0;
  std::string version;
};

// The count of user tables and the recorded version, read from outside.
Schema ReadSchema(const std::string& file) {
  TDbConnWrapper connection;
  connection.SetDBFileName(file);
  connection.Connect();
  Schema schema;
  int64_t variables = 0;
  testing_support::RunStatement(connection,
                                "select count(*), count(nullif(rdb$relation_name, 'VARIABLES')) from rdb$relations "
                                "where rdb$system_flag=0 and rdb$view_blr is null",
                                [&](TQueryWrapper& row) {
                                  schema.tables = row.Fields(0).AsInt64();
                                  variables = schema.tables - row.Fields(1).AsInt64();
                                });
  if (variables == 0) return schema;
  testing_support::RunStatement(connection, "select value_ from variables where type_='dbVerChk'",
                                [&](TQueryWrapper& row) {
                                  if (!row.Eof()) schema.version = row.Fields(0).AsString();
                                });
  return schema;
}

int RunsPerMoment() {
  const char* text = std::getenv("TIDEWELL_KILL_RUNS");
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 1;
}

// Each kill lands at a chosen step of the schema (the child's own hook), so
// it is known to have cut the schema short: as the first table is made,
// between tables, and after the last one before the version is written.
TEST(FirstStartKillTest, AStartKilledWhileMakingTheSchemaLeavesNoDatabaseByTheNameAndTheNextStartMakesIt) {
  testing_support::UsePrivateFirebirdLockFolder();
  for (int run = 0; run < RunsPerMoment(); ++run) {
    for (const std::string step : {"0~", "1", "1~", "6", "11~", "16", "21~", "22"}) {
      SCOPED_TRACE("killed at step " + step);
      testing_support::TempFolder folder;
      const std::string file = folder.File("rssengine.fdb");
      ASSERT_EQ(WaitOutcome(StartChild(folder.Path(), step)), -SIGKILL);
      EXPECT_FALSE(std::filesystem::exists(file));
      EXPECT_TRUE(std::filesystem::exists(file + ".partial"));
      if (std::filesystem::exists(file + ".partial")) {
        const Schema cut = ReadSchema(file + ".partial");
        EXPECT_GE(cut.tables, std::stoi(step));
        EXPECT_EQ(cut.version, "");
      }
      // The next start, undisturbed.
      EXPECT_EQ(WaitOutcome(StartChild(folder.Path())), 0);
      const Schema next = ReadSchema(file);
      EXPECT_EQ(next.tables, 22);
      EXPECT_EQ(next.version, kSchemaVersionText);
      EXPECT_FALSE(std::filesystem::exists(file + ".partial"));
    }
  }
}

}  // namespace
}  // namespace tidewell
