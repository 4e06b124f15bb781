// SPDX-License-Identifier: MIT
// A first start of the engine as the application makes it, in a process of
// its own so that a test can kill it at any moment: creates (or opens) the
// database in the folder given and builds its schema. Exit code 0 when the
// schema is ready, 1 with the reason on stderr otherwise.
#include <iostream>
#include <string>

#include "engine/tidewell.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: first_start_child FOLDER\n";
    return 2;
  }
  try {
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

// As in the test programs: the Firebird client and the ICU it loads keep
// process-wide caches that they never free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfbclient.so\nleak:libEngine12.so\nleak:libicuuc.so\nleak:libicui18n.so\n"
         "leak:__gconv_open\nleak:__gconv_lookup_cache\n";
}
extern "C" const char* __tsan_default_options() { return "detect_deadlocks=0"; }
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libEngine12.so\ncalled_from_lib:libfbclient.so.2\nrace:libEngine12.so\nrace:libfbclient.so.2\n";
}
