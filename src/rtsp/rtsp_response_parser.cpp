#include "rtsp/rtsp_response_parser.h"

#include <optional>

#include "device/text_utils.h"
#include "util/ascii.h"

namespace korvela {
namespace {

constexpr uint32_t kDefaultZeroTimeoutSec = 30;  // "timeout=0" is taken as 30 s

// Lines end with CR LF, a bare LF or a bare CR; an unterminated last line is a
// line too.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  // The next line without its end; nullopt once the text is used up.
  std::optional<std::string_view> Next() {
    if (pos_ >= text_.size()) return std::nullopt;
    const size_t end = text_.find_first_of("\r\n", pos_);
    if (end == std::string_view::npos) {
      const std::string_view line = text_.substr(pos_);
      pos_ = text_.size();
      return line;
    }
    const std::string_view line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (text_[end] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    return line;
  }
  std::string_view Rest() const { return text_.substr(pos_); }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The first run of non-blank characters.
std::string_view FirstToken(std::string_view s) {
  s = TrimView(s);
  size_t end = 0;
  while (end < s.size() && !IsBlank(s[end])) ++end;
  return s.substr(0, end);
}

// `line` starts with `name` (any case) followed by optional blanks and
// `separator`; the text after it, trimmed, goes to `value`.
bool MatchName(std::string_view line, std::string_view name, char separator,
               std::string_view* value) {
  if (line.size() < name.size() || !EqualsIgnoreAsciiCase(line.substr(0, name.size()), name)) {
    return false;
  }
  std::string_view rest = line.substr(name.size());
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  if (rest.empty() || rest.front() != separator) return false;
  *value = TrimView(rest.substr(1));
  return true;
}

// Leading decimal digits as an unsigned 32-bit number; trailing text is
// ignored, no digits or an overflow fail.
bool ParseLeadingU32(std::string_view s, uint32_t* out) {
  uint64_t v = 0;
  size_t i = 0;
  for (; i < s.size() && IsAsciiDigit(s[i]); ++i) {
    v = v * 10 + static_cast<uint32_t>(s[i] - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  if (i == 0) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// "name=value" items separated by ';' (fmtp parameters, Session parameters).
std::optional<std::string_view> FindParameter(std::string_view list, std::string_view name) {
  while (!list.empty()) {
    const size_t semi = list.find(';');
    const std::string_view item = list.substr(0, semi);
    const size_t eq = item.find('=');
    if (eq != std::string_view::npos && EqualsIgnoreAsciiCase(TrimView(item.substr(0, eq)), name)) {
      return TrimView(item.substr(eq + 1));
    }
    if (semi == std::string_view::npos) break;
    list.remove_prefix(semi + 1);
  }
  return std::nullopt;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Lenient Base64 as cameras write it: characters outside the alphabet ('='
// fill, blanks) are skipped, a zero character ends the text, a short last
// group gives the whole bytes its bits allow. Fails (and leaves `out` as it
// was) beyond `capacity` bytes.
bool DecodeBase64(std::string_view text, size_t capacity, std::vector<uint8_t>* out) {
  std::vector<uint8_t> bytes;
  uint32_t bits = 0;
  int bit_count = 0;
  for (char c : text) {
    if (c == '\0') break;
    const int v = Base64Value(c);
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      if (bytes.size() >= capacity) return false;
      bytes.push_back(static_cast<uint8_t>(bits >> bit_count));
      bits &= (1u << bit_count) - 1;
    }
  }
  *out = std::move(bytes);
  return true;
}

int SchemeRank(uint32_t scheme) { return scheme == kAuthDigest ? 2 : scheme == kAuthBasic ? 1 : 0; }

}  // namespace

const char* RtspMethodToken(uint32_t method) {
  switch (method) {
    case kRtspDescribe:
      return "DESCRIBE";
    case kRtspSetup:
      return "SETUP";
    case kRtspPlay:
      return "PLAY";
    case kRtspTeardown:
      return "TEARDOWN";
    case kRtspOptions:
      return "OPTIONS";
    default:
      return "";
  }
}

const RtspMediaRecord& CRTSPResponseParser::GetMedia(uint32_t selector) const {
  static const RtspMediaRecord kNone;
  return selector >= 1 && selector <= media_.size() ? media_[selector - 1] : kNone;
}

bool CRTSPResponseParser::Parse(std::string_view reply, uint32_t method) {
  LineReader reader(reply);
  const auto status = reader.Next();
  if (!status || status->empty() || !ParseStatusLine(*status)) return false;
  if (statusCode_ != 200 && statusCode_ != 401) return false;

  // The length describes this reply only; a reply without one has no body.
  contentLength_ = 0;
  bool first_challenge = true;
  for (;;) {
    const auto line = reader.Next();
    if (!line || line->empty()) break;
    if (!ParseHeader(*line, &first_challenge)) return false;
  }
  if (contentLength_ == 0 || method != kRtspDescribe) return true;
  const std::string_view rest = reader.Rest();
  return ParseSdp(rest.substr(0, contentLength_));
}

bool CRTSPResponseParser::ParseStatusLine(std::string_view line) {
  const std::string_view protocol = FirstToken(line);
  if (protocol.empty() || protocol.size() > kMaxTokenLength) return false;
  const std::string_view rest = TrimView(TrimView(line).substr(protocol.size()));
  uint32_t code = 0;
  if (!ParseLeadingU32(rest, &code)) return false;
  protocol_ = std::string(protocol);
  statusCode_ = code;
  return true;
}

bool CRTSPResponseParser::ParseHeader(std::string_view line, bool* first_challenge) {
  std::string_view value;
  if (MatchName(line, "CSeq", ':', &value)) return ParseLeadingU32(value, &cseq_);
  if (MatchName(line, "Content-Length", ':', &value)) {
    return ParseLeadingU32(value, &contentLength_);
  }
  if (MatchName(line, "Content-Type", ':', &value)) {
    const std::string_view type = FirstToken(value);
    if (type.empty() || type.size() > kMaxTokenLength) return false;
    contentType_ = AsciiToLower(type);
    return true;
  }
  if (MatchName(line, "Content-Base", ':', &value)) {
    const size_t at = AsciiToLower(value).find("rtsp://");
    if (at == std::string::npos) return true;
    std::string_view url = FirstToken(value.substr(at));
    // Stored without a trailing '/': the track URL adds exactly one.
    while (!url.empty() && (url.back() == '/' || url.back() == '\\')) url.remove_suffix(1);
    contentBase_ = std::string(url);
    return true;
  }
  if (MatchName(line, "Session", ':', &value)) return OnSession(value);
  if (MatchName(line, "WWW-Authenticate", ':', &value)) {
    return OnAuthenticate(value, first_challenge);
  }
  return true;  // Date, Transport, Range, RTP-Info, Server and any other header
}

bool CRTSPResponseParser::OnSession(std::string_view value) {
  // session-id [ ";" "timeout" "=" delta-seconds ] (RFC 2326 12.37)
  const size_t semi = value.find(';');
  sessionId_ = std::string(TrimView(value.substr(0, semi)));
  if (semi != std::string_view::npos) {
    if (const auto timeout = FindParameter(value.substr(semi + 1), "timeout")) {
      if (!timeout->empty()) {
        uint32_t seconds = 0;
        if (!ParseLeadingU32(*timeout, &seconds)) seconds = 0;
        if (seconds == 0) seconds = kDefaultZeroTimeoutSec;
        sessionTimeoutSec_ = seconds > kMaxSessionTimeoutSec ? kMaxSessionTimeoutSec : seconds;
      }
    }
  }
  return !sessionId_.empty();
}

bool CRTSPResponseParser::OnAuthenticate(std::string_view value, bool* first_challenge) {
  // The first challenge header of a reply replaces the last reply's offer;
  // among several in one reply the strongest we can answer wins, so that a
  // server offering Digest next to Basic never gets the password in Base64.
  if (*first_challenge) {
    offeredAuthScheme_ = kAuthNone;
    *first_challenge = false;
  }
  const auto challenges = platform::ParseAuthChallenges({value});
  if (challenges.empty()) return false;
  for (const platform::AuthChallenge& c : challenges) {
    uint32_t scheme = kAuthNone;
    if (c.scheme_bit == platform::kAuthSchemeDigest) {
      const std::string_view realm = c.Param("realm").value_or("");
      const std::string_view nonce = c.Param("nonce").value_or("");
      if (realm.empty() || nonce.empty()) return false;
      platform::DigestAuthenticator probe;
      if (!probe.Accept(c)) continue;  // e.g. SHA-256 only: not answerable
      scheme = kAuthDigest;
    } else if (c.scheme_bit == platform::kAuthSchemeBasic) {
      scheme = kAuthBasic;
    }
    if (scheme == kAuthNone || SchemeRank(scheme) <= SchemeRank(offeredAuthScheme_)) continue;
    offeredAuthScheme_ = scheme;
    realm_ = std::string(c.Param("realm").value_or(""));
    nonce_ = std::string(c.Param("nonce").value_or(""));
    challenge_ = c;
    ++challengeSerial_;
  }
  return true;
}

bool CRTSPResponseParser::ParseSdp(std::string_view body) {
  currentSelector_ = 0;
  LineReader reader(body);
  bool ok = true;
  while (ok) {
    const auto line = reader.Next();
    if (!line) break;
    std::string_view value;
    if (MatchName(*line, "a=control", ':', &value)) {
      ok = OnControl(value);
    } else if (MatchName(*line, "a=fmtp", ':', &value)) {
      ok = OnFmtp(value);
    } else if (MatchName(*line, "m", '=', &value)) {
      ok = OnMediaLine(value);
    }
  }
  return ok;
}

bool CRTSPResponseParser::OnMediaLine(std::string_view value) {
  // m=<media> <port> <proto> <fmt> ...
  currentSelector_ = 0;
  std::vector<std::string_view> tokens;
  for (std::string_view rest = value; !(rest = TrimView(rest)).empty();) {
    const std::string_view token = FirstToken(rest);
    tokens.push_back(token);
    rest.remove_prefix(token.size());
  }
  if (tokens.empty()) return false;
  const std::string type = AsciiToLower(tokens[0]);
  if (type == "video") {
    currentSelector_ = kMediaVideo;
  } else if (type == "audio") {
    currentSelector_ = kMediaAudio;
  } else if (type == "metadata" || type == "data") {
    currentSelector_ = kMediaData;
  }
  if (currentSelector_ != 0 && tokens.size() >= 3) {
    media_[currentSelector_ - 1].transportProfile = std::string(tokens[2]);
  }
  return true;
}

bool CRTSPResponseParser::OnControl(std::string_view value) {
  const std::string_view control = FirstToken(value);
  if (control.size() > kMaxTokenLength) return false;
  // Only the first control line after an "m=" line names the medium's track;
  // session-level lines are not stored.
  if (currentSelector_ != 0) media_[currentSelector_ - 1].control = std::string(control);
  currentSelector_ = 0;
  return !control.empty();
}

bool CRTSPResponseParser::OnFmtp(std::string_view value) {
  // a=fmtp:<format> <parameter>;<parameter>... (RFC 4566 6): parameters start
  // after the payload-type token, so the first one is found as well.
  const std::string_view format = FirstToken(value);
  const std::string_view parameters = TrimView(value).substr(format.size());
  if (const auto sets = FindParameter(parameters, "sprop-parameter-sets")) {
    if (!sets->empty()) {
      const size_t comma = sets->find(',');
      if (comma == std::string_view::npos) return false;
      const std::string_view first = sets->substr(0, comma);
      std::string_view second = sets->substr(comma + 1);
      second = second.substr(0, second.find(','));
      if (first.empty() || second.empty()) return false;
      DecodeBase64(first, kMaxParameterSetBytes, &sps_);
      DecodeBase64(second, kMaxParameterSetBytes, &pps_);
      return !sps_.empty() && !pps_.empty();
    }
  }
  if (const auto config = FindParameter(parameters, "config")) {
    if (!config->empty()) {
      config_ = HexToBytes(*config);
      return !config_.empty();
    }
  }
  // No parameter sets here: the stream carries them in band.
  return true;
}

}  // namespace korvela
