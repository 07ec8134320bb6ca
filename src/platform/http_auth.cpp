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

std::string DigestResponse(std::string_view ha1, std::string_view nonce, std::string_view nc,
                           std::string_view cnonce, std::string_view qop, std::string_view method,
                           std::string_view uri) {
  std::string a2;
  a2.append(method).append(":").append(uri);
  const std::string ha2 = codec::Md5HexOf(a2);
  std::string kd;
  kd.append(ha1).append(":").append(nonce).append(":");
  if (!qop.empty()) kd.append(nc).append(":").append(cnonce).append(":").append(qop).append(":");
  kd.append(ha2);
  return codec::Md5HexOf(kd);
}

void DigestAuthenticator::Clear() { *this = DigestAuthenticator(); }

bool DigestAuthenticator::Accept(const AuthChallenge& challenge) {
  if (challenge.scheme_bit != kAuthSchemeDigest) return false;
  const auto nonce = challenge.Param("nonce");
  if (!nonce || nonce->empty()) return false;
  const std::string algorithm(challenge.Param("algorithm").value_or(""));
  const std::string lower_alg = ToLower(algorithm);
  if (!lower_alg.empty() && lower_alg != "md5" && lower_alg != "md5-sess") return false;
  bool qop_auth = false;
  if (const auto qop = challenge.Param("qop")) {
    // A qop list without "auth" (only auth-int) cannot be answered: we do not
    // hash bodies.
    if (!ListContains(*qop, "auth")) return false;
    qop_auth = true;
  }
  const bool same_nonce = ready_ && nonce_ == *nonce;
  ready_ = true;
  realm_ = std::string(challenge.Param("realm").value_or(""));
  nonce_ = std::string(*nonce);
  const auto opaque = challenge.Param("opaque");
  has_opaque_ = opaque.has_value();
  opaque_ = std::string(opaque.value_or(""));
  algorithm_ = algorithm;
  session_ = lower_alg == "md5-sess";
  qop_auth_ = qop_auth;
  if (!same_nonce) nonce_count_ = 0;
  return true;
}

bool DigestAuthenticator::AcceptFirst(const std::vector<AuthChallenge>& challenges) {
  for (const AuthChallenge& c : challenges) {
    if (Accept(c)) return true;
  }
  return false;
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
  ++nonce_count_;
  char nc[9];
  std::snprintf(nc, sizeof nc, "%08x", nonce_count_);
  std::string a1;
  a1.append(user).append(":").append(realm_).append(":").append(password);
  std::string ha1 = codec::Md5HexOf(a1);
  if (session_) {
    std::string sess;
    sess.append(ha1).append(":").append(nonce_).append(":").append(cnonce);
    ha1 = codec::Md5HexOf(sess);
  }
  const std::string qop = qop_auth_ ? "auth" : "";
  const std::string response = DigestResponse(ha1, nonce_, nc, cnonce, qop, method, uri);

  std::string out = "Digest username=" + Quote(user) + ", realm=" + Quote(realm_) +
                    ", nonce=" + Quote(nonce_) + ", uri=" + Quote(uri);
  if (!algorithm_.empty()) out += ", algorithm=" + algorithm_;
  out += ", response=" + Quote(response);
  if (has_opaque_) out += ", opaque=" + Quote(opaque_);
  if (qop_auth_ || session_) out += ", cnonce=" + Quote(cnonce);
  if (qop_auth_) out += std::string(", qop=auth, nc=") + nc;
  return out;
}

}  // namespace korvela::platform
