// SPDX-License-Identifier: MIT
// The test's own certificate, made before an engine whose feed workers
// trust it, for tests that reach the tests' HTTPS server through the engine.
//
//   class MyTest : public TrustedCertificate, public testing::EngineFixture {
//     MyTest() : EngineFixture(TrustingWorkers(certificate.certificateFile)) {}
//   };
#pragma once

#include <string>

#include "engine/tidewell.h"
#include "support/temp_folder.h"
#include "support/test_certificate.h"

namespace tidewell::testing {

struct TrustedCertificate {
  testing_support::TempFolder certificateFolder;
  testing_support::TestCertificate certificate =
      testing_support::MakeSelfSignedCertificate(certificateFolder.Path());
};

// The engine's own feed workers, trusting the certificate in caFile.
TtidewellOptions TrustingWorkers(const std::string& caFile);

}  // namespace tidewell::testing
