// SPDX-License-Identifier: MIT
// A first start of the engine as the application makes it, in a process of
// its own so that a test can kill it at any moment: creates (or opens) the
// database in the folder given and builds its schema. Exit code 0 when the
// schema is ready, 1 with the reason on stderr otherwise.
//
// With a second argument the process kills itself (SIGKILL) at that step of
// the schema: "N" just after the N-th table's commit, "N~" as the table after
// the first N is about to be committed. When the step never comes it exits
// with 3.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "engine/db/tidewell_tables.h"
#include "engine/tidewell.h"
#include "support/firebird_test_database.h"

namespace {

void KillAt(const std::string& step) {
  const bool beforeCommit = !step.empty() && step.back() == '~';
  const int tables = std::atoi(step.c_str());
  tidewell::SetSchemaStepHook([=](int tablesBefore, bool committed) {
    const bool due = beforeCommit ? !committed && tablesBefore == tables : committed && tablesBefore + 1 == tables;
    if (due) ::kill(::getpid(), SIGKILL);
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::cerr << "usage: first_start_child FOLDER [KILL_AT_STEP]\n";
    return 2;
  }
  try {
    // The sanitizers' suppressions come with the test support, as in the test programs.
    testing_support::KeepEmbeddedEngineLoaded();
    if (argc == 3) KillAt(argv[2]);
    tidewell::Ttidewell engine;
    std::string fileName;
    std::string errorText;
    engine.CreateDatabase(std::string(argv[1]) + "/", "sysdba", "", fileName, errorText);
    if (!errorText.empty()) throw kt::Exception(errorText);
    engine.SetConnected(true);
    std::string text;
    engine.CreateTables(text);
    return argc == 3 ? 3 : 0;
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
}
