#include "auth.h"

#include <vector>

#include <gtest/gtest.h>

#include "crypto.h"

namespace camsim {
namespace {

using Verdict = Authenticator::Verdict;
using namespace std::chrono_literals;

// Right and wrong Basic pairs are what curl and the driver send
// (camsim_interop and integration tests); here what they do not.
TEST(AuthenticatorTest, BasicSchemeIsCaseInsensitiveAndBadBase64IsRefused) {
  Authenticator auth(AuthMode::kBasic, "IQeye");
  const Credentials creds{"root", "system"};
  EXPECT_EQ(auth.Check("GET", "/", "basic cm9vdDpzeXN0ZW0=", creds), Verdict::kOk);
  EXPECT_EQ(auth.Check("GET", "/", "Basic !!!!", creds), Verdict::kChallenge);
  EXPECT_EQ(Authenticator(AuthMode::kNone, "IQeye").Check("GET", "/", "", creds), Verdict::kOk);
}

// RFC 2617 3.5: the worked example with qop=auth.
constexpr char kRfcNonce[] = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
std::string RfcAuthorization(std::string_view nc,
                             std::string_view response = "6629fae49393a05397450978507c4ef1",
                             std::string_view uri = "/dir/index.html") {
  return std::string("Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"") +
         kRfcNonce + "\", uri=\"" + std::string(uri) + "\", qop=auth, nc=" + std::string(nc) +
         ", cnonce=\"0a4f113b\", response=\"" + std::string(response) +
         "\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";
}

TEST(AuthenticatorTest, DigestVerifiesTheRfcExampleAndRefusesReplays) {
  Authenticator auth(AuthMode::kDigest, "testrealm@host.com");
  const Credentials creds{"Mufasa", "Circle Of Life"};
  const auto t0 = Authenticator::Clock::now();
  auth.RememberNonce(kRfcNonce, t0);
  EXPECT_EQ(auth.Check("GET", "/dir/index.html", RfcAuthorization("00000001"), creds,
                       AuthMode::kDigest, t0),
            Verdict::kOk);
  // Same nonce count again: a replay.
  EXPECT_EQ(auth.Check("GET", "/dir/index.html", RfcAuthorization("00000001"), creds,
                       AuthMode::kDigest, t0),
            Verdict::kChallenge);
  // A response for another URI, or for this one sent with another. A wrong
  // password and Basic in Digest mode are what curl sends (camsim_interop).
  EXPECT_EQ(auth.Check("GET", "/other",
                       RfcAuthorization("00000002", "6629fae49393a05397450978507c4ef1", "/other"),
                       creds, AuthMode::kDigest, t0),
            Verdict::kChallenge);
  EXPECT_EQ(auth.Check("GET", "/other", RfcAuthorization("00000002"), creds, AuthMode::kDigest, t0),
            Verdict::kChallenge);
}

std::string ClientDigest(const std::string& nonce, const std::string& method,
                         const std::string& uri, const std::string& nc) {
  const std::string ha1 = Md5Hex("root:IQeye:system");
  const std::string ha2 = Md5Hex(method + ":" + uri);
  const std::string response = Md5Hex(ha1 + ":" + nonce + ":" + nc + ":abc:auth:" + ha2);
  return "Digest username=\"root\", realm=\"IQeye\", nonce=\"" + nonce + "\", uri=\"" + uri +
         "\", algorithm=MD5, response=\"" + response + "\", qop=auth, nc=" + nc +
         ", cnonce=\"abc\"";
}

TEST(AuthenticatorTest, DigestNoncesExpireAndAreBounded) {
  Authenticator auth(AuthMode::kDigest, "IQeye");
  const Credentials creds{"root", "system"};
  const auto t0 = Authenticator::Clock::now();
  const std::string challenge = auth.Challenge(false, AuthMode::kDigest, t0);
  EXPECT_NE(challenge.find("qop=\"auth\""), std::string::npos);
  const std::string nonce = DigestParam(challenge.substr(7), "nonce");
  ASSERT_EQ(nonce.size(), 32u);
  EXPECT_EQ(auth.Check("DESCRIBE", "rtsp://h/x",
                       ClientDigest(nonce, "DESCRIBE", "rtsp://h/x", "00000001"), creds,
                       AuthMode::kDigest, t0 + 1s),
            Verdict::kOk);
  EXPECT_EQ(
      auth.Check("SETUP", "rtsp://h/x", ClientDigest(nonce, "SETUP", "rtsp://h/x", "00000002"),
                 creds, AuthMode::kDigest, t0 + Authenticator::kNonceLifetime),
      Verdict::kOk);
  // Past its lifetime the right answer is told to retry with a new nonce.
  EXPECT_EQ(auth.Check("PLAY", "rtsp://h/x", ClientDigest(nonce, "PLAY", "rtsp://h/x", "00000003"),
                       creds, AuthMode::kDigest, t0 + Authenticator::kNonceLifetime + 1s),
            Verdict::kStaleNonce);
  EXPECT_NE(auth.Challenge(true).find("stale=TRUE"), std::string::npos);

  // At the limit every nonce is kept; one more forgets the oldest.
  Authenticator bounded(AuthMode::kDigest, "IQeye");
  for (size_t i = 0; i < Authenticator::kMaxNonces; ++i) {
    bounded.RememberNonce("n" + std::to_string(i), t0 + std::chrono::milliseconds(i));
  }
  EXPECT_EQ(bounded.Check("GET", "/", ClientDigest("n0", "GET", "/", "00000001"), creds,
                          AuthMode::kDigest, t0 + 1s),
            Verdict::kOk);
  bounded.RememberNonce("extra", t0 + 1s);
  EXPECT_EQ(bounded.Check("GET", "/", ClientDigest("n0", "GET", "/", "00000002"), creds,
                          AuthMode::kDigest, t0 + 1s),
            Verdict::kStaleNonce);
  EXPECT_EQ(bounded.Check("GET", "/", ClientDigest("n1", "GET", "/", "00000001"), creds,
                          AuthMode::kDigest, t0 + 1s),
            Verdict::kOk);
}

TEST(AuthenticatorTest, DigestParamHandlesQuotesAndCase) {
  const std::string params = R"(username="a\"b", Realm=IQeye , nc=00000001,uri="/x?a=1,2")";
  EXPECT_EQ(DigestParam(params, "username"), "a\"b");
  EXPECT_EQ(DigestParam(params, "realm"), "IQeye");
  EXPECT_EQ(DigestParam(params, "nc"), "00000001");
  EXPECT_EQ(DigestParam(params, "uri"), "/x?a=1,2");
  EXPECT_EQ(DigestParam(params, "missing"), "");
}

}  // namespace
}  // namespace camsim
