// SPDX-License-Identifier: MIT
// Choosing and answering authentication challenges.
#include "engine/net/http_auth.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

TEST(THttpAuthChallenge, PicksDigestOverBasicAndNothingElse) {
  EXPECT_EQ(THttpAuthChallenge::Select({"Basic realm=\"r\"", "Digest realm=\"r\", nonce=\"n\""}).scheme(),
            THttpAuthChallenge::Scheme::Digest);
  EXPECT_EQ(THttpAuthChallenge::Select({"NTLM", "Basic realm=\"r\""}).scheme(), THttpAuthChallenge::Scheme::Basic);
  EXPECT_EQ(THttpAuthChallenge::Select({"NTLM", "Digest realm=\"r\""}).scheme(), THttpAuthChallenge::Scheme::Digest);
  EXPECT_EQ(THttpAuthChallenge::Select({"NTLM", "Negotiate"}).scheme(), THttpAuthChallenge::Scheme::None);
}

TEST(THttpAuthChallenge, DigestAnswerMatchesTheRfcExample) {
  // The example of RFC 2617, section 3.5.
  const auto challenge = THttpAuthChallenge::Select(
      {"Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
       "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""});
  const std::string answer =
      challenge.Authorization("GET", "/dir/index.html", "Mufasa", "Circle Of Life", "0a4f113b");
  const auto params = THttpAuthChallenge::ParseParams(answer.substr(7));
  EXPECT_EQ(params.at("response"), "6629fae49393a05397450978507c4ef1");
  EXPECT_EQ(params.at("nc"), "00000001");
  EXPECT_EQ(params.at("qop"), "auth");
  EXPECT_EQ(params.at("opaque"), "5ccc069c403ebaf9f0171e9517f40e41");
}

TEST(THttpAuthChallenge, BasicAnswerIsBase64OfUserAndPassword) {
  const auto challenge = THttpAuthChallenge::Select({"Basic realm=\"WallyWorld\""});
  EXPECT_EQ(challenge.Authorization("GET", "/", "Aladdin", "open sesame", ""), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

}  // namespace
}  // namespace tidewell
