// SPDX-License-Identifier: MIT
// A first start of the engine as the application makes it, in a process of
// its own so that a test can kill it at any moment: creates (or opens) the
// database in the folder given and builds its schema. Exit code 0 when the
// schema is ready, 1 with the reason on stderr otherwise.
#include <iostream>
#include <string>

#include "engine/tidewell.h"
#include "support/firebird_test_database.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: first_start_child FOLDER\n";
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
    std::string text;
    engine.CreateTables(text);
    return 0;
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
}
