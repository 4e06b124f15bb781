// SPDX-License-Identifier: MIT
// A self-signed certificate for 127.0.0.1, made fresh for a test and written
// as PEM files into a folder: the test's own authority, which a client
// trusts only when told to.
#pragma once

#include <string>

namespace testing_support {

struct TestCertificate {
  std::string certificateFile;  // also the authority file to trust
  std::string keyFile;
};

// REQUIRES: folder ends in '/'. Raises std::runtime_error on failure.
TestCertificate MakeSelfSignedCertificate(const std::string& folder);

}  // namespace testing_support
