// HTTP authentication: parsing the challenges of a 401 answer
// (WWW-Authenticate, RFC 9110 11.6.1), the Basic credentials (RFC 7617) and
// Digest with MD5 (RFC 2617 / RFC 7616: qop "auth" or none, MD5-sess, nonce
// count, stale nonces).
//
// Threading: DigestAuthenticator is used by one thread at a time (the owner
// of the HTTP connection); the free functions are reentrant.
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

// Answers Digest challenges and keeps the last accepted one, so that later
// requests authenticate at once with an increasing nonce count.
class DigestAuthenticator {
 public:
  // Takes a Digest challenge we can answer (algorithm absent, MD5 or
  // MD5-sess; qop absent or offering "auth"). False leaves the state as it was.
  bool Accept(const AuthChallenge& challenge);
  // The first acceptable Digest challenge of the list, if any.
  bool AcceptFirst(const std::vector<AuthChallenge>& challenges);

  bool ready() const { return ready_; }
  void Clear();

  // The Authorization value for one request. `cnonce` is the client nonce
  // (random per request in production; fixed in tests). Counts the nonce use.
  std::string Authorize(std::string_view method, std::string_view uri, std::string_view user,
                        std::string_view password, std::string_view cnonce);
  // The same with a fresh random client nonce.
  std::string Authorize(std::string_view method, std::string_view uri, std::string_view user,
                        std::string_view password);

  uint32_t nonce_count() const { return nonce_count_; }
  const std::string& nonce() const { return nonce_; }

 private:
  bool ready_ = false;
  std::string realm_;
  std::string nonce_;
  std::string opaque_;
  bool has_opaque_ = false;
  std::string algorithm_;  // as the server named it; empty when absent
  bool session_ = false;   // MD5-sess
  bool qop_auth_ = false;
  uint32_t nonce_count_ = 0;
};

// The request-digest of RFC 2617 3.2.2.1 (exposed for tests).
std::string DigestResponse(std::string_view ha1, std::string_view nonce, std::string_view nc,
                           std::string_view cnonce, std::string_view qop, std::string_view method,
                           std::string_view uri);

}  // namespace korvela::platform
