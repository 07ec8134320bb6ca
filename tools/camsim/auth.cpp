#include "auth.h"

#include <charconv>
#include <vector>

#include <sys/random.h>

#include "crypto.h"
#include "util/ascii.h"
#include "wire.h"

namespace camsim {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Splits "scheme rest" of an Authorization value.
std::pair<std::string, std::string_view> SplitScheme(std::string_view value) {
  value = Trim(value);
  const size_t sp = value.find(' ');
  if (sp == std::string_view::npos) return {korvela::AsciiToLower(value), {}};
  return {korvela::AsciiToLower(value.substr(0, sp)), Trim(value.substr(sp + 1))};
}

}  // namespace

std::string RandomHex(size_t bytes) {
  std::vector<unsigned char> buf(bytes);
  size_t got = 0;
  while (got < bytes) {
    const ssize_t n = getrandom(buf.data() + got, bytes - got, 0);
    if (n <= 0) break;
    got += size_t(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : buf) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

std::string DigestParam(std::string_view params, std::string_view name) {
  const std::string want = korvela::AsciiToLower(name);
  size_t i = 0;
  while (i < params.size()) {
    while (i < params.size() && (params[i] == ' ' || params[i] == ',' || params[i] == '\t')) ++i;
    const size_t eq = params.find('=', i);
    if (eq == std::string_view::npos) break;
    const std::string key = korvela::AsciiToLower(Trim(params.substr(i, eq - i)));
    i = eq + 1;
    while (i < params.size() && params[i] == ' ') ++i;
    std::string value;
    if (i < params.size() && params[i] == '"') {
      ++i;
      while (i < params.size() && params[i] != '"') {
        if (params[i] == '\\' && i + 1 < params.size()) ++i;
        value += params[i++];
      }
      ++i;  // closing quote
    } else {
      const size_t end = params.find(',', i);
      value = std::string(Trim(params.substr(i, end == std::string_view::npos ? end : end - i)));
      i = end == std::string_view::npos ? params.size() : end;
    }
    if (key == want) return value;
  }
  return {};
}

Authenticator::Authenticator(AuthMode mode, std::string realm)
    : mode_(mode), realm_(std::move(realm)) {}

Authenticator::Verdict Authenticator::Check(std::string_view method, std::string_view uri,
                                            std::string_view authorization,
                                            const Credentials& credentials, AuthMode mode,
                                            Clock::time_point now) {
  if (mode == AuthMode::kNone) return Verdict::kOk;
  const auto [scheme, rest] = SplitScheme(authorization);
  if (mode == AuthMode::kBasic) {
    if (scheme != "basic") return Verdict::kChallenge;
    const auto decoded = Base64Decode(rest);
    if (!decoded) return Verdict::kChallenge;
    return *decoded == credentials.user + ":" + credentials.password ? Verdict::kOk
                                                                     : Verdict::kChallenge;
  }
  if (scheme != "digest") return Verdict::kChallenge;
  return CheckDigest(method, uri, rest, credentials, now);
}

Authenticator::Verdict Authenticator::CheckDigest(std::string_view method, std::string_view uri,
                                                  std::string_view params,
                                                  const Credentials& credentials,
                                                  Clock::time_point now) {
  const std::string user = DigestParam(params, "username");
  const std::string realm = DigestParam(params, "realm");
  const std::string nonce = DigestParam(params, "nonce");
  const std::string digest_uri = DigestParam(params, "uri");
  const std::string response = DigestParam(params, "response");
  const std::string qop = DigestParam(params, "qop");
  const std::string nc_text = DigestParam(params, "nc");
  const std::string cnonce = DigestParam(params, "cnonce");
  const std::string algorithm = DigestParam(params, "algorithm");
  if (user != credentials.user || realm != realm_ || nonce.empty() || response.empty()) {
    return Verdict::kChallenge;
  }
  if (!algorithm.empty() && korvela::AsciiToLower(algorithm) != "md5") return Verdict::kChallenge;
  // The digest covers the request-URI; it must be the one on the request line.
  if (digest_uri != uri) return Verdict::kChallenge;
  const std::string ha1 = Md5Hex(credentials.user + ":" + realm_ + ":" + credentials.password);
  const std::string ha2 = Md5Hex(std::string(method) + ":" + digest_uri);
  std::string expected;
  uint64_t nc = 0;
  if (qop.empty()) {
    expected = Md5Hex(ha1 + ":" + nonce + ":" + ha2);
  } else {
    if (qop != "auth" || cnonce.empty() || nc_text.size() != 8) return Verdict::kChallenge;
    const auto [end, ec] = std::from_chars(nc_text.data(), nc_text.data() + 8, nc, 16);
    if (ec != std::errc() || end != nc_text.data() + 8 || nc == 0) return Verdict::kChallenge;
    expected = Md5Hex(ha1 + ":" + nonce + ":" + nc_text + ":" + cnonce + ":" + qop + ":" + ha2);
  }
  if (expected != korvela::AsciiToLower(response)) return Verdict::kChallenge;
  korvela::MutexLock lock(mu_);
  const auto it = nonces_.find(nonce);
  if (it == nonces_.end())
    return Verdict::kStaleNonce;  // right password, nonce not ours (any more)
  if (now - it->second.created > kNonceLifetime) {
    nonces_.erase(it);
    return Verdict::kStaleNonce;
  }
  if (!qop.empty()) {
    // A nonce count that does not grow is a replay.
    if (nc <= it->second.last_nc) return Verdict::kChallenge;
    it->second.last_nc = nc;
  }
  return Verdict::kOk;
}

void Authenticator::RememberNonce(const std::string& nonce, Clock::time_point now) {
  korvela::MutexLock lock(mu_);
  while (nonces_.size() >= kMaxNonces) {
    auto oldest = nonces_.begin();
    for (auto it = nonces_.begin(); it != nonces_.end(); ++it) {
      if (it->second.created < oldest->second.created) oldest = it;
    }
    nonces_.erase(oldest);
  }
  nonces_[nonce] = NonceState{now, 0};
}

std::string Authenticator::Challenge(bool stale, AuthMode mode, Clock::time_point now) {
  if (mode == AuthMode::kBasic) return "Basic realm=\"" + realm_ + "\"";
  const std::string nonce = RandomHex(16);
  RememberNonce(nonce, now);
  std::string value =
      "Digest realm=\"" + realm_ + "\", nonce=\"" + nonce + "\", algorithm=MD5, qop=\"auth\"";
  if (stale) value += ", stale=TRUE";
  return value;
}

}  // namespace camsim
