// SPDX-License-Identifier: MIT
// An HTTPS server on 127.0.0.1 and a free port, with the test's own
// certificate; the test sets its routes before it starts listening.
#pragma once

#include <httplib.h>

#include <functional>
#include <string>
#include <thread>

#include "support/test_certificate.h"

namespace testing_support {

class TestHttpsServer {
 public:
  TestHttpsServer(const TestCertificate& certificate, const std::function<void(httplib::SSLServer&)>& routes)
      : server_(certificate.certificateFile.c_str(), certificate.keyFile.c_str()) {
    routes(server_);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~TestHttpsServer() {
    server_.stop();
    thread_.join();
  }
  TestHttpsServer(const TestHttpsServer&) = delete;
  TestHttpsServer& operator=(const TestHttpsServer&) = delete;

  std::string Url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  httplib::SSLServer server_;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace testing_support
