// SPDX-License-Identifier: MIT
// The built application as a process of its own, for the tests that start
// it: its standard error stream goes to a file, and it is killed when the
// test leaves it running. Also a display server of the test's own (Xvfb).
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace larkspur::testing {

// Generous: a wait that runs out means the process hangs, not that it is slow.
constexpr int kProcessWaitSeconds = 60;

std::string ReadFile(const std::string& path);
// Polls done() until it holds or kProcessWaitSeconds passed; returns done().
bool WaitFor(const std::function<bool()>& done);

// The test's environment with the given variables set (an empty value
// removes the variable).
std::vector<std::string> EnvironmentWith(const std::map<std::string, std::string>& changes);

class AppProcess {
 public:
  // runAsUser > 0: the child takes that user and group id before it starts
  // the program (the tests run as root).
  AppProcess(const std::string& executable, const std::vector<std::string>& environment,
             const std::string& errorFile, uid_t runAsUser = 0);
  ~AppProcess();
  AppProcess(const AppProcess&) = delete;
  AppProcess& operator=(const AppProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  bool Running();
  std::string ErrorOutput() const { return ReadFile(errorFile_); }
  void Signal(int number);
  // The exit code once the process ended by itself; -1 when it was killed
  // by a signal or did not end in time.
  int WaitForExitCode();

 private:
  std::string errorFile_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = 0;
};

// An Xvfb server on a display number it chooses itself; stopped with the
// object unless Kill ended it before.
class TestDisplay {
 public:
  TestDisplay();
  ~TestDisplay();
  TestDisplay(const TestDisplay&) = delete;
  TestDisplay& operator=(const TestDisplay&) = delete;

  static bool Available();
  // ":N"; empty when the server did not start.
  const std::string& Name() const { return name_; }
  // Ends the server at once, as a crashed display server would.
  void Kill();
  // A click of the left button at (x, y) of the top-level window whose
  // title contains title, as the server would send it; false when no such
  // window is shown (yet).
  bool Click(const std::string& title, int x, int y) const;

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// A copy of the built application in a folder of the test (its database and
// "downloads" live beside the executable), started on Qt's offscreen
// platform with the test's settings folder and Firebird lock folder unless
// a start says otherwise.
class AppProcessTest : public ::testing::Test {
 protected:
  AppProcessTest();

  // Writes a "misc" value of the user's settings.
  void SetMisc(const std::string& name, const std::string& value);
  std::unique_ptr<AppProcess> Start(const std::string& errorName,
                                    const std::map<std::string, std::string>& changes = {}, uid_t runAsUser = 0);
  // Without a display the failure message reaches the standard error stream
  // and the process ends by itself with a failure code.
  void ExpectFailedStartEnds(AppProcess& app, const std::string& reason);
  // On a display the process waits in its message box until a stop signal
  // closes it; then it ends with a failure code.
  void ExpectFailedStartEndsOnSignal(AppProcess& app, int signal, const std::string& reason);
  // The names of the files in the program's "downloads" folder.
  std::vector<std::string> Downloads() const;

  testing_support::TempFolder folder;
  const std::string programFolder = folder.File("program");
  const std::string executable = programFolder + "/larkspur";
};

}  // namespace larkspur::testing
