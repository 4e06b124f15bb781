// SPDX-License-Identifier: MIT
// A first start of the engine as the application makes it, in a process of
// its own so that a test can kill it at any moment: creates (or opens) the
// database in the folder given and builds its schema. Exit code 0 when the
// schema is ready, 1 with the reason on stderr otherwise.
//
// With a second argument N the process kills itself (SIGKILL) as soon as a
// watcher of its own sees N user tables committed, so the kill lands while
// the schema is being made; when the schema is done first it exits with 3.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "engine/tidewell.h"
#include "support/firebird_test_database.h"

namespace {

int64_t UserTables(tidewell::TDbConnWrapper& connection) {
  int64_t tables = 0;
  testing_support::RunStatement(
      connection, "select count(*) from rdb$relations where rdb$system_flag=0 and rdb$view_blr is null",
      [&](tidewell::TQueryWrapper& row) { tables = row.Fields(0).AsInt64(); });
  return tables;
}

// Watches on an attachment of its own; never returns once the count is seen.
void KillWhenTablesReach(const std::string& file, int64_t wanted) {
  try {
    tidewell::TDbConnWrapper connection;
    connection.SetDBFileName(file);
    connection.SetUser("sysdba");
    connection.Connect();
    while (UserTables(connection) < wanted) std::this_thread::sleep_for(std::chrono::microseconds(200));
  } catch (const std::exception& error) {
    std::cerr << "watcher: " << error.what() << "\n";
    ::_exit(4);
  }
  ::kill(::getpid(), SIGKILL);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::cerr << "usage: first_start_child FOLDER [KILL_AT_TABLES]\n";
    return 2;
  }
  try {
    // The sanitizers' suppressions come with the test support, as in the test programs.
    testing_support::KeepEmbeddedEngineLoaded();
    tidewell::Ttidewell engine;
    std::string fileName;
    std::string errorText;
    engine.CreateDatabase(std::string(argv[1]) + "/", "sysdba", "", fileName, errorText);
    if (!errorText.empty()) throw kt::Exception(errorText);
    engine.SetConnected(true);
    // Attached once the engine is: two first attachments at once may refuse each other.
    if (argc == 3) std::thread(KillWhenTablesReach, fileName, std::atoll(argv[2])).detach();
    std::string text;
    engine.CreateTables(text);
    return argc == 3 ? 3 : 0;
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
}
