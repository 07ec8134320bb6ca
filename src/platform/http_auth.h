// HTTP authentication: parsing the challenges of a 401 answer
// (WWW-Authenticate, RFC 9110 11.6.1), the Basic credentials (RFC 7617),
// Digest with MD5 (RFC 2617 / RFC 7616: qop "auth" or none, MD5-sess, nonce
// count, stale nonces) and the choice of scheme.
//
// Threading: DigestAuthenticator and ClientAuth are used by one thread at a
// time (the owner of the connection); the free functions are reentrant.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvela::platform {

// Scheme bits as the sender remembers them (same values as the WinHTTP
// scheme flags the callers were written against).
inline constexpr uint32_t kAuthSchemeBasic = 1;
inline constexpr uint32_t kAuthSchemeNtlm = 2;
inline constexpr uint32_t kAuthSchemePassport = 4;
inline constexpr uint32_t kAuthSchemeDigest = 8;
inline constexpr uint32_t kAuthSchemeNegotiate = 16;

// Most challenges taken from one response, and most parameters per challenge;
// a peer cannot make us keep more.
inline constexpr size_t kMaxAuthChallenges = 16;
inline constexpr size_t kMaxAuthParams = 32;

struct AuthChallenge {
  std::string scheme;                                       // as sent, e.g. "Digest"
  uint32_t scheme_bit = 0;                                  // 0 for schemes we do not know
  std::vector<std::pair<std::string, std::string>> params;  // names lower-cased, values unquoted

  std::optional<std::string_view> Param(std::string_view lower_name) const;
};

// Scheme bit for a scheme name (case-insensitive), 0 when unknown.
uint32_t AuthSchemeBit(std::string_view name);

// Parses every WWW-Authenticate value of a response, in order. Malformed
// parts end the parse of that value; what was read before them is kept.
std::vector<AuthChallenge> ParseAuthChallenges(const std::vector<std::string_view>& values);

// "Basic <base64(user:password)>".
std::string BasicAuthorization(std::string_view user, std::string_view password);

// The Digest Authorization value answering `challenge` for one request
// (RFC 7616 3.4, MD5 and MD5-sess; with qop=auth when the challenge offers
// it, else the RFC 2069 form without nc and cnonce). `nonce_count` counts this
// use of the nonce from 1; `cnonce` is the client nonce. nullopt when the
// challenge cannot be answered: not Digest, no nonce, another algorithm, or a
// qop list without "auth". HTTP and RTSP requests are answered alike.
std::optional<std::string> DigestAuthorization(const AuthChallenge& challenge,
                                               std::string_view method, std::string_view uri,
                                               std::string_view user, std::string_view password,
                                               uint32_t nonce_count, std::string_view cnonce);

// Keeps the last accepted Digest challenge, so that later requests answer it
// at once with an increasing nonce count.
class DigestAuthenticator {
 public:
  // Takes a challenge DigestAuthorization() can answer; false leaves the
  // state as it was. The same nonce again keeps its count.
  bool Accept(const AuthChallenge& challenge);
  // The first acceptable Digest challenge of the list, if any.
  bool AcceptFirst(const std::vector<AuthChallenge>& challenges);

  bool ready() const { return ready_; }
  void Clear() { *this = DigestAuthenticator(); }

  // The Authorization value for one request; counts the nonce use. `cnonce`
  // is fixed in tests; the overload without it draws a random one.
  std::string Authorize(std::string_view method, std::string_view uri, std::string_view user,
                        std::string_view password, std::string_view cnonce);
  std::string Authorize(std::string_view method, std::string_view uri, std::string_view user,
                        std::string_view password);

  uint32_t nonce_count() const { return nonce_count_; }
  std::string_view nonce() const;

 private:
  bool ready_ = false;
  AuthChallenge challenge_;
  uint32_t nonce_count_ = 0;
};

// What a client has learned about one server's authentication, and how it
// answers the server's next challenge. No credentials go out before the
// server has asked for them. A 401 is answered with the strongest scheme it
// offers that we can answer (Digest over Basic); Basic is never sent to a
// server that offers Digest or once Digest was learned; offers we cannot
// answer (NTLM, Negotiate, Passport, other Digest algorithms) teach nothing,
// so a later challenge teaches again.
//
// Threading: one thread at a time (the owner of the connection).
class ClientAuth {
 public:
  // The Authorization value for a request: empty until a challenge was
  // learned; then Basic, or Digest with the next nonce count.
  std::string Authorization(std::string_view method, std::string_view uri, std::string_view user,
                            std::string_view password);
  // A 401 answered a request that carried `sent_scheme` (0: no credentials);
  // `sent_answer`: that Authorization answered a challenge of the same
  // exchange. Learns what it can. True when the request should go again with
  // Authorization(); false when the credentials were refused or nothing
  // offered can be answered.
  bool OnChallenge(const std::vector<AuthChallenge>& challenges, uint32_t sent_scheme,
                   bool sent_answer);

  // kAuthSchemeBasic, kAuthSchemeDigest, or 0 while nothing was learned.
  uint32_t scheme() const { return scheme_; }

 private:
  uint32_t scheme_ = 0;
  DigestAuthenticator digest_;
};

}  // namespace korvela::platform
