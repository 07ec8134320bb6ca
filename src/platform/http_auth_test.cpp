#include "platform/http_auth.h"

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "util/md5.h"

namespace korvela::platform {
namespace {

// Splits a Digest Authorization value into its parameters (test helper:
// values unquoted, no escapes in these tests).
std::map<std::string, std::string> DigestParams(const std::string& value) {
  std::map<std::string, std::string> out;
  EXPECT_EQ(value.rfind("Digest ", 0), 0u);
  auto challenges = ParseAuthChallenges({value});
  if (challenges.size() != 1) return out;
  for (const auto& [k, v] : challenges[0].params) out[k] = v;
  return out;
}

AuthChallenge DigestChallenge(std::string params) {
  auto list = ParseAuthChallenges({"Digest " + params});
  EXPECT_EQ(list.size(), 1u);
  return list.empty() ? AuthChallenge{} : list[0];
}

// RFC 2617, section 3.5.
TEST(DigestTest, Rfc2617Example) {
  DigestAuthenticator digest;
  ASSERT_TRUE(
      digest.Accept(DigestChallenge("realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
                                    "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
                                    "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"")));
  const std::string value =
      digest.Authorize("GET", "/dir/index.html", "Mufasa", "Circle Of Life", "0a4f113b");
  auto p = DigestParams(value);
  EXPECT_EQ(p["response"], "6629fae49393a05397450978507c4ef1");
  EXPECT_EQ(p["nc"], "00000001");
  EXPECT_EQ(p["qop"], "auth");
  EXPECT_EQ(p["cnonce"], "0a4f113b");
  EXPECT_EQ(p["opaque"], "5ccc069c403ebaf9f0171e9517f40e41");
  EXPECT_EQ(p["uri"], "/dir/index.html");
  EXPECT_EQ(p["username"], "Mufasa");
  EXPECT_EQ(p["realm"], "testrealm@host.com");
}

// RFC 7616, section 3.9.1 (the MD5 variant).
TEST(DigestTest, Rfc7616Md5Example) {
  DigestAuthenticator digest;
  ASSERT_TRUE(digest.Accept(
      DigestChallenge("realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=MD5, "
                      "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
                      "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"")));
  auto p = DigestParams(digest.Authorize("GET", "/dir/index.html", "Mufasa", "Circle of Life",
                                         "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ"));
  EXPECT_EQ(p["response"], "8ca523f5e9506fed4657c9700eebdbec");
  EXPECT_EQ(p["algorithm"], "MD5");
}

TEST(DigestTest, NonceCountRisesAndRestartsWithANewNonce) {
  DigestAuthenticator digest;
  ASSERT_TRUE(digest.Accept(DigestChallenge("realm=\"r\", nonce=\"n1\", qop=\"auth\"")));
  EXPECT_EQ(DigestParams(digest.Authorize("GET", "/a", "u", "p", "c"))["nc"], "00000001");
  EXPECT_EQ(DigestParams(digest.Authorize("GET", "/a", "u", "p", "c"))["nc"], "00000002");
  // The same nonce again (a repeated challenge) keeps counting.
  ASSERT_TRUE(digest.Accept(DigestChallenge("realm=\"r\", nonce=\"n1\", qop=\"auth\"")));
  EXPECT_EQ(DigestParams(digest.Authorize("GET", "/a", "u", "p", "c"))["nc"], "00000003");
  ASSERT_TRUE(
      digest.Accept(DigestChallenge("realm=\"r\", nonce=\"n2\", qop=\"auth\", stale=true")));
  EXPECT_EQ(DigestParams(digest.Authorize("GET", "/a", "u", "p", "c"))["nc"], "00000001");
  // Random client nonces differ between requests.
  EXPECT_NE(DigestParams(digest.Authorize("GET", "/a", "u", "p"))["cnonce"],
            DigestParams(digest.Authorize("GET", "/a", "u", "p"))["cnonce"]);
}

TEST(DigestTest, WithoutQopUsesTheRfc2069Form) {
  DigestAuthenticator digest;
  ASSERT_TRUE(digest.Accept(DigestChallenge("realm=\"cam\", nonce=\"abc\"")));
  auto p = DigestParams(digest.Authorize("GET", "/get.oid?1.2.7", "root", "pw", "zz"));
  const std::string ha1 = codec::Md5HexOf("root:cam:pw");
  const std::string ha2 = codec::Md5HexOf("GET:/get.oid?1.2.7");
  EXPECT_EQ(p["response"], codec::Md5HexOf(ha1 + ":abc:" + ha2));
  EXPECT_EQ(p.count("qop"), 0u);
  EXPECT_EQ(p.count("nc"), 0u);
  EXPECT_EQ(p.count("cnonce"), 0u);
}

TEST(DigestTest, Md5SessHashesTheClientNonceIntoHa1) {
  DigestAuthenticator digest;
  ASSERT_TRUE(
      digest.Accept(DigestChallenge("realm=\"r\", nonce=\"n\", qop=auth, algorithm=MD5-sess")));
  auto p = DigestParams(digest.Authorize("GET", "/x", "u", "p", "cn"));
  const std::string ha1 = codec::Md5HexOf(codec::Md5HexOf("u:r:p") + ":n:cn");
  const std::string ha2 = codec::Md5HexOf("GET:/x");
  EXPECT_EQ(p["response"], codec::Md5HexOf(ha1 + ":n:00000001:cn:auth:" + ha2));
}

TEST(DigestTest, RefusesChallengesItCannotAnswer) {
  DigestAuthenticator digest;
  EXPECT_FALSE(digest.Accept(DigestChallenge("realm=\"r\", nonce=\"n\", algorithm=SHA-256")));
  EXPECT_FALSE(digest.Accept(DigestChallenge("realm=\"r\", nonce=\"n\", qop=\"auth-int\"")));
  EXPECT_FALSE(digest.Accept(DigestChallenge("realm=\"r\"")));  // no nonce
  EXPECT_FALSE(digest.ready());
  // lighttpd may offer SHA-256 first: the first acceptable challenge is taken.
  auto list =
      ParseAuthChallenges({"Digest realm=\"r\", nonce=\"s\", algorithm=SHA-256, qop=\"auth\"",
                           "Digest realm=\"r\", nonce=\"m\", algorithm=MD5, qop=\"auth\""});
  ASSERT_TRUE(digest.AcceptFirst(list));
  EXPECT_EQ(digest.nonce(), "m");
}

TEST(AuthChallengeTest, ParsesSeveralChallengesWithQuotingAndToken68) {
  auto list =
      ParseAuthChallenges({"Negotiate abc==, Basic realm=\"a \\\"quoted\\\", realm\", "
                           "Digest realm=\"r\",nonce=n1 , qop=\"auth,auth-int\"",
                           "NewScheme foo=bar"});
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].scheme_bit, kAuthSchemeNegotiate);
  EXPECT_TRUE(list[0].params.empty());
  EXPECT_EQ(list[1].scheme_bit, kAuthSchemeBasic);
  EXPECT_EQ(list[1].Param("realm").value_or(""), "a \"quoted\", realm");
  EXPECT_EQ(list[2].scheme_bit, kAuthSchemeDigest);
  EXPECT_EQ(list[2].Param("nonce").value_or(""), "n1");
  EXPECT_EQ(list[2].Param("qop").value_or(""), "auth,auth-int");
  EXPECT_EQ(list[3].scheme_bit, 0u);
  EXPECT_EQ(list[3].scheme, "NewScheme");
}

TEST(AuthChallengeTest, MalformedInputEndsWithoutHanging) {
  const char* kOdd[] = {"",
                        ",,,",
                        "Digest realm=\"unterminated",
                        "Digest =x",
                        "@@@",
                        "Basic realm=@@",
                        "Digest realm=\"r\" nonce"};
  for (const char* odd : kOdd) {
    auto list = ParseAuthChallenges({odd});
    EXPECT_LE(list.size(), 2u) << odd;
  }
  std::string many;
  for (int i = 0; i < 100; ++i) many += "Basic realm=x, ";
  EXPECT_EQ(ParseAuthChallenges({many}).size(), kMaxAuthChallenges);
}

TEST(BasicAuthTest, Rfc7617Example) {
  EXPECT_EQ(BasicAuthorization("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

}  // namespace
}  // namespace korvela::platform
