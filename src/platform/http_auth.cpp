#include "platform/http_auth.h"

#include <array>
#include <cstdio>

#include "platform/random.h"
#include "util/ascii.h"
#include "util/base64.h"
#include "util/md5.h"

namespace korvela::platform {
namespace {

std::string ToLower(std::string_view s) { return AsciiToLower(s); }

bool IsTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
      return true;
    default:
      return false;
  }
}

// A small cursor over one header value.
class Cursor {
 public:
  explicit Cursor(std::string_view s) : s_(s) {}
  bool done() const { return i_ >= s_.size(); }
  char peek() const { return done() ? '\0' : s_[i_]; }
  void SkipSpace() {
    while (!done() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  void SkipSpaceAndCommas() {
    while (!done() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == ',')) ++i_;
  }
  std::string_view Token() {
    const size_t start = i_;
    while (!done() && IsTokenChar(s_[i_])) ++i_;
    return s_.substr(start, i_ - start);
  }
  // token68 may end in '=' padding.
  std::string_view Token68Tail() {
    const size_t start = i_;
    while (!done() && s_[i_] == '=') ++i_;
    return s_.substr(start, i_ - start);
  }
  std::optional<std::string> Quoted() {
    if (peek() != '"') return std::nullopt;
    ++i_;
    std::string out;
    while (!done()) {
      const char c = s_[i_++];
      if (c == '"') return out;
      if (c == '\\') {
        if (done()) return std::nullopt;
        out.push_back(s_[i_++]);
      } else {
        out.push_back(c);
      }
    }
    return std::nullopt;  // unterminated
  }
  size_t pos() const { return i_; }
  void Seek(size_t p) { i_ = p; }

 private:
  std::string_view s_;
  size_t i_ = 0;
};

// Parses "name=value" at the cursor. nullopt when it is not a parameter (the
// cursor is left where it was).
std::optional<std::pair<std::string, std::string>> ParseParam(Cursor& c) {
  const size_t start = c.pos();
  const std::string_view name = c.Token();
  c.SkipSpace();
  if (name.empty() || c.peek() != '=') {
    c.Seek(start);
    return std::nullopt;
  }
  c.Seek(c.pos() + 1);
  c.SkipSpace();
  std::string value;
  if (c.peek() == '"') {
    auto q = c.Quoted();
    if (!q) return std::nullopt;
    value = std::move(*q);
  } else {
    value = std::string(c.Token());
  }
  return std::make_pair(ToLower(name), std::move(value));
}

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

bool ListContains(std::string_view list, std::string_view item) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    std::string_view part = list.substr(start, comma - start);
    while (!part.empty() && (part.front() == ' ' || part.front() == '\t')) part.remove_prefix(1);
    while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) part.remove_suffix(1);
    if (ToLower(part) == item) return true;
    start = comma + 1;
  }
  return false;
}

}  // namespace

std::optional<std::string_view> AuthChallenge::Param(std::string_view lower_name) const {
  for (const auto& [n, v] : params) {
    if (n == lower_name) return std::string_view(v);
  }
  return std::nullopt;
}

uint32_t AuthSchemeBit(std::string_view name) {
  const std::string lower = ToLower(name);
  if (lower == "basic") return kAuthSchemeBasic;
  if (lower == "ntlm") return kAuthSchemeNtlm;
  if (lower == "passport1.4") return kAuthSchemePassport;
  if (lower == "digest") return kAuthSchemeDigest;
  if (lower == "negotiate") return kAuthSchemeNegotiate;
  return 0;
}

std::vector<AuthChallenge> ParseAuthChallenges(const std::vector<std::string_view>& values) {
  // challenge = auth-scheme [ 1*SP ( token68 / #auth-param ) ], several per
  // value separated by commas (RFC 9110 11.6.1). A new challenge starts at a
  // token that is not followed by '='.
  std::vector<AuthChallenge> out;
  for (std::string_view value : values) {
    Cursor c(value);
    AuthChallenge* current = nullptr;
    for (;;) {
      c.SkipSpaceAndCommas();
      if (c.done()) break;
      if (current != nullptr) {
        if (auto param = ParseParam(c)) {
          if (current->params.size() < kMaxAuthParams) current->params.push_back(std::move(*param));
          continue;
        }
      }
      const size_t before = c.pos();
      const std::string_view scheme = c.Token();
      if (scheme.empty()) break;  // malformed: keep what we have
      if (out.size() >= kMaxAuthChallenges) return out;
      out.push_back(AuthChallenge{std::string(scheme), AuthSchemeBit(scheme), {}});
      current = &out.back();
      c.SkipSpace();
      // A token68 credential (e.g. "Negotiate abc=="): skip it.
      const size_t after_scheme = c.pos();
      const std::string_view t68 = c.Token();
      if (!t68.empty()) {
        c.Token68Tail();
        c.SkipSpace();
        if (c.done() || c.peek() == ',') {
          if (c.pos() == before) break;
          continue;
        }
        c.Seek(after_scheme);
      }
    }
  }
  return out;
}

std::string BasicAuthorization(std::string_view user, std::string_view password) {
  std::string plain;
  plain.reserve(user.size() + 1 + password.size());
  plain.append(user).append(":").append(password);
  return "Basic " + codec::Base64Encode(std::string_view(plain));
}

std::optional<std::string> DigestAuthorization(const AuthChallenge& challenge,
                                               std::string_view method, std::string_view uri,
                                               std::string_view user, std::string_view password,
                                               uint32_t nonce_count, std::string_view cnonce) {
  if (challenge.scheme_bit != kAuthSchemeDigest) return std::nullopt;
  const std::string_view nonce = challenge.Param("nonce").value_or("");
  if (nonce.empty()) return std::nullopt;
  const std::string_view algorithm = challenge.Param("algorithm").value_or("");
  const std::string lower_alg = ToLower(algorithm);
  if (!lower_alg.empty() && lower_alg != "md5" && lower_alg != "md5-sess") return std::nullopt;
  const auto qop_list = challenge.Param("qop");
  // A qop list without "auth" (only auth-int) cannot be answered: we do not
  // hash bodies.
  if (qop_list && !ListContains(*qop_list, "auth")) return std::nullopt;
  const bool qop_auth = qop_list.has_value();
  const bool session = lower_alg == "md5-sess";
  const std::string_view realm = challenge.Param("realm").value_or("");

  char nc[9];
  std::snprintf(nc, sizeof nc, "%08x", nonce_count);
  std::string a1;
  a1.append(user).append(":").append(realm).append(":").append(password);
  std::string ha1 = codec::Md5HexOf(a1);
  if (session) {
    std::string sess;
    sess.append(ha1).append(":").append(nonce).append(":").append(cnonce);
    ha1 = codec::Md5HexOf(sess);
  }
  std::string a2;
  a2.append(method).append(":").append(uri);
  // RFC 7616 3.4.1: KD(HA1, nonce ":" [nc ":" cnonce ":" qop ":"] HA2).
  std::string kd;
  kd.append(ha1).append(":").append(nonce).append(":");
  if (qop_auth) kd.append(nc).append(":").append(cnonce).append(":auth:");
  kd.append(codec::Md5HexOf(a2));

  std::string out = "Digest username=" + Quote(user) + ", realm=" + Quote(realm) +
                    ", nonce=" + Quote(nonce) + ", uri=" + Quote(uri);
  if (!algorithm.empty()) out.append(", algorithm=").append(algorithm);
  out += ", response=" + Quote(codec::Md5HexOf(kd));
  if (const auto opaque = challenge.Param("opaque")) out += ", opaque=" + Quote(*opaque);
  if (qop_auth || session) out += ", cnonce=" + Quote(cnonce);
  if (qop_auth) out += std::string(", qop=auth, nc=") + nc;
  return out;
}

bool DigestAuthenticator::Accept(const AuthChallenge& challenge) {
  if (!DigestAuthorization(challenge, "", "", "", "", 1, "")) return false;
  const bool same_nonce = ready_ && nonce() == challenge.Param("nonce").value_or("");
  ready_ = true;
  challenge_ = challenge;
  if (!same_nonce) nonce_count_ = 0;
  return true;
}

bool DigestAuthenticator::AcceptFirst(const std::vector<AuthChallenge>& challenges) {
  for (const AuthChallenge& c : challenges) {
    if (Accept(c)) return true;
  }
  return false;
}

std::string_view DigestAuthenticator::nonce() const {
  return challenge_.Param("nonce").value_or("");
}

std::string DigestAuthenticator::Authorize(std::string_view method, std::string_view uri,
                                           std::string_view user, std::string_view password) {
  std::array<uint8_t, 16> raw{};
  RandomBytes(raw);
  std::string cnonce;
  static constexpr char kHex[] = "0123456789abcdef";
  for (uint8_t b : raw) {
    cnonce.push_back(kHex[b >> 4]);
    cnonce.push_back(kHex[b & 15]);
  }
  return Authorize(method, uri, user, password, cnonce);
}

std::string DigestAuthenticator::Authorize(std::string_view method, std::string_view uri,
                                           std::string_view user, std::string_view password,
                                           std::string_view cnonce) {
  return DigestAuthorization(challenge_, method, uri, user, password, ++nonce_count_, cnonce)
      .value_or("");
}

std::string ClientAuth::Authorization(std::string_view method, std::string_view uri,
                                      std::string_view user, std::string_view password) {
  if (scheme_ == kAuthSchemeBasic) return BasicAuthorization(user, password);
  if (scheme_ == kAuthSchemeDigest) return digest_.Authorize(method, uri, user, password);
  return {};
}

bool ClientAuth::OnChallenge(const std::vector<AuthChallenge>& challenges, uint32_t sent_scheme,
                             bool sent_answer) {
  bool digest_offered = false;
  bool basic_offered = false;
  const AuthChallenge* digest = nullptr;
  for (const AuthChallenge& c : challenges) {
    basic_offered |= c.scheme_bit == kAuthSchemeBasic;
    if (c.scheme_bit != kAuthSchemeDigest) continue;
    digest_offered = true;
    if (digest == nullptr && DigestAuthorization(c, "", "", "", "", 1, "")) digest = &c;
  }
  if (digest != nullptr) {
    const bool stale = ToLower(digest->Param("stale").value_or("")) == "true";
    digest_.Accept(*digest);
    scheme_ = kAuthSchemeDigest;
    // A fresh challenge after our own answer to this exchange's challenge
    // refuses the credentials, unless it only renews a stale nonce.
    return !(sent_answer && sent_scheme == kAuthSchemeDigest && !stale);
  }
  // Basic would put the password in clear on the wire of a server that asked
  // for Digest (perhaps only with an algorithm we lack): never.
  if (!basic_offered || digest_offered || scheme_ == kAuthSchemeDigest) return false;
  scheme_ = kAuthSchemeBasic;
  return sent_scheme != kAuthSchemeBasic;
}

}  // namespace korvela::platform
