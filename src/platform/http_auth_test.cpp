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

// One Digest answer (HTTP and RTSP alike): the published examples, and the
// forms without qop (RFC 2069, as some servers still send) and with MD5-sess.
TEST(DigestTest, AnswersMatchTheRfcExamplesInEveryForm) {
  const std::string ha2 = codec::Md5HexOf("GET:/x");
  struct Case {
    const char* name;
    std::string challenge;
    const char* user;
    const char* password;
    const char* uri;
    const char* cnonce;
    std::string response;
  };
  const Case cases[] = {
      {"RFC 2617 3.5",
       "realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
       "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"",
       "Mufasa", "Circle Of Life", "/dir/index.html", "0a4f113b",
       "6629fae49393a05397450978507c4ef1"},
      {"RFC 7616 3.9.1",
       "realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=MD5, "
       "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
       "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"",
       "Mufasa", "Circle of Life", "/dir/index.html",
       "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ", "8ca523f5e9506fed4657c9700eebdbec"},
      {"no qop", "realm=\"r\", nonce=\"n\"", "u", "p", "/x", "c",
       codec::Md5HexOf(codec::Md5HexOf("u:r:p") + ":n:" + ha2)},
      {"MD5-sess", "realm=\"r\", nonce=\"n\", qop=auth, algorithm=MD5-sess", "u", "p", "/x", "c",
       codec::Md5HexOf(codec::Md5HexOf(codec::Md5HexOf("u:r:p") + ":n:c") +
                       ":n:00000001:c:auth:" + ha2)},
  };
  for (const Case& t : cases) {
    const AuthChallenge challenge = DigestChallenge(t.challenge);
    const auto value =
        DigestAuthorization(challenge, "GET", t.uri, t.user, t.password, 1, t.cnonce);
    ASSERT_TRUE(value.has_value()) << t.name;
    auto p = DigestParams(*value);
    EXPECT_EQ(p["response"], t.response) << t.name;
    EXPECT_EQ(p["username"], t.user) << t.name;
    EXPECT_EQ(p["uri"], t.uri) << t.name;
    EXPECT_EQ(p["realm"], challenge.Param("realm").value_or("")) << t.name;
    EXPECT_EQ(p["opaque"], challenge.Param("opaque").value_or("")) << t.name;
    const bool qop = challenge.Param("qop").has_value();
    EXPECT_EQ(p["qop"], qop ? "auth" : "") << t.name;
    EXPECT_EQ(p["nc"], qop ? "00000001" : "") << t.name;
    EXPECT_EQ(p["cnonce"], qop ? t.cnonce : "") << t.name;
  }
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

TEST(AuthChallengeTest, ChallengeCountLimit) {
  std::string many;
  for (size_t i = 0; i <= kMaxAuthChallenges; ++i) many += "Basic realm=x, ";
  EXPECT_EQ(ParseAuthChallenges({many}).size(), kMaxAuthChallenges);
}

TEST(BasicAuthTest, Rfc7617Example) {
  EXPECT_EQ(BasicAuthorization("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

}  // namespace
}  // namespace korvela::platform
