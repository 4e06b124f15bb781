// SPDX-License-Identifier: MIT
// A Firebird 3 server of the test process's own (Debian's
// firebird3.0-server), for the tests that reach a database through a server.
//
//   auto& server = testing_support::FirebirdTestServer::Shared();
//   connection.SetDBFileName(server.DatabaseName(folder.File("x.fdb")));
//   connection.SetPassword(server.Password());
//
// The server runs as a child process on a free port of 127.0.0.1, with its
// own configuration, security database (user SYSDBA), lock and temporary
// folders in a temporary folder; it is started on first use and stopped, and
// the folder removed, when the process exits. A server that cannot start
// raises std::runtime_error: tests fail, they do not skip.
#pragma once

#include <sys/types.h>

#include <string>

namespace testing_support {

class FirebirdTestServer {
 public:
  static FirebirdTestServer& Shared();

  FirebirdTestServer();
  ~FirebirdTestServer();
  FirebirdTestServer(const FirebirdTestServer&) = delete;
  FirebirdTestServer& operator=(const FirebirdTestServer&) = delete;

  int Port() const { return port_; }
  // The server process, -1 while none runs.
  pid_t Pid() const { return pid_; }
  const std::string& User() const { return user_; }
  const std::string& Password() const { return password_; }
  // "127.0.0.1/PORT:" + path: a database file of this machine, through the
  // server.
  std::string DatabaseName(const std::string& path) const;
  // Stops the server (its clients lose their attachments); Start runs it
  // again on the same port, with the same databases.
  void Stop();
  void Start();
  void Restart() {
    Stop();
    Start();
  }
  // Freezes the server: the system still takes connections to its port,
  // nobody answers them. Kill then ends it at once, and the connections it
  // held unanswered are dropped, as by a server that dies while it restarts.
  void Pause();
  void Kill();
  // The connections whose client sent a request that the server has not
  // read (while it is paused): a client that waits for its answer. The
  // connection that Start's probe leaves sends nothing.
  int UnreadRequests() const;

 private:
  void WriteConfiguration();
  void CreateSecurityDatabase();
  bool Launch(bool samePort = false);

  std::string root_;
  std::string user_ = "SYSDBA";
  std::string password_ = "tw-test-9";
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace testing_support
