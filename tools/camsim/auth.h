// Server side of HTTP/RTSP authentication: Basic (RFC 7617) and Digest with
// MD5 and qop=auth (RFC 7616), with nonces that expire and nonce counts that
// must grow.
//
// Threading: any connection thread may call Check/Challenge; mu_ guards the
// nonce table.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "camsim.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace camsim {

struct Credentials {
  std::string user;
  std::string password;
};

class Authenticator {
 public:
  // Nonces remembered at once; the oldest is forgotten beyond it.
  static constexpr size_t kMaxNonces = 256;
  static constexpr std::chrono::seconds kNonceLifetime{300};

  using Clock = std::chrono::steady_clock;

  Authenticator(AuthMode mode, std::string realm);

  enum class Verdict { kOk, kChallenge, kStaleNonce };

  // Judges an Authorization header value for a request (method and the
  // request-URI as sent). mode overrides the configured mode when given.
  Verdict Check(std::string_view method, std::string_view uri, std::string_view authorization,
                const Credentials& credentials, AuthMode mode,
                Clock::time_point now = Clock::now());
  Verdict Check(std::string_view method, std::string_view uri, std::string_view authorization,
                const Credentials& credentials) {
    return Check(method, uri, authorization, credentials, mode_);
  }

  // The WWW-Authenticate value to send with a 401 (makes a fresh nonce).
  std::string Challenge(bool stale, AuthMode mode, Clock::time_point now = Clock::now());
  std::string Challenge(bool stale) { return Challenge(stale, mode_); }

  AuthMode mode() const { return mode_; }

  // Makes a nonce valid from now on (Challenge uses it with a random one).
  void RememberNonce(const std::string& nonce, Clock::time_point now);

 private:
  struct NonceState {
    Clock::time_point created;
    uint64_t last_nc = 0;
  };
  Verdict CheckDigest(std::string_view method, std::string_view uri, std::string_view params,
                      const Credentials& credentials, Clock::time_point now);

  const AuthMode mode_;
  const std::string realm_;
  korvela::Mutex mu_;
  std::map<std::string, NonceState, std::less<>> nonces_ GUARDED_BY(mu_);
};

// Parses the comma-separated name=value (or name="value") list of a Digest
// header; returns the value of one name, empty when absent.
std::string DigestParam(std::string_view params, std::string_view name);

// Random lower-case hex text of 2*bytes characters (getrandom).
std::string RandomHex(size_t bytes);

}  // namespace camsim
