#include "platform/http_response_parser.h"

#include <algorithm>
#include <cstring>

namespace korvela::platform {
namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool IsTokenChar(char c) {
  // RFC 9110 5.6.2 tchar.
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

std::string_view TrimOws(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Bytes a head line may carry: visible ASCII, blanks, tabs and obs-text.
bool IsValidLineText(std::string_view line) {
  for (char ch : line) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c < 0x20 && c != '\t') || c == 0x7f) return false;
  }
  return true;
}

bool ParseStatusLine(std::string_view line, HttpResponseHead* head) {
  // "HTTP/1.x SP 3DIGIT [SP reason]"
  if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || line[7] < '0' || line[7] > '9' ||
      line[8] != ' ') {
    return false;
  }
  const std::string_view code = line.substr(9, 3);
  if (code[0] < '1' || code[0] > '5' || code[1] < '0' || code[1] > '9' || code[2] < '0' ||
      code[2] > '9') {
    return false;
  }
  if (line.size() > 12 && line[12] != ' ') return false;
  head->version_minor = line[7] - '0';
  head->status_code = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
  head->reason = line.size() > 13 ? std::string(line.substr(13)) : std::string();
  return true;
}

// Does the comma-separated list in any of `values` contain `token`?
bool ListHasToken(const std::vector<std::string_view>& values, std::string_view token) {
  for (std::string_view v : values) {
    size_t start = 0;
    while (start <= v.size()) {
      size_t comma = v.find(',', start);
      if (comma == std::string_view::npos) comma = v.size();
      if (EqualsIgnoreCase(TrimOws(v.substr(start, comma - start)), token)) return true;
      start = comma + 1;
    }
  }
  return false;
}

}  // namespace

std::optional<std::string_view> HttpResponseHead::Field(std::string_view name) const {
  for (const auto& [n, v] : fields) {
    if (EqualsIgnoreCase(n, name)) return std::string_view(v);
  }
  return std::nullopt;
}

std::vector<std::string_view> HttpResponseHead::Fields(std::string_view name) const {
  std::vector<std::string_view> out;
  for (const auto& [n, v] : fields) {
    if (EqualsIgnoreCase(n, name)) out.emplace_back(v);
  }
  return out;
}

HeadParse ParseResponseHead(std::span<const uint8_t> data, HttpResponseHead* head,
                            size_t* consumed) {
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  HttpResponseHead result;
  size_t pos = 0;
  bool first = true;
  for (;;) {
    const size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      if (text.size() - pos > kMaxHeaderLineBytes || text.size() >= kMaxHeaderBlockBytes) {
        return HeadParse::kOverLimit;
      }
      return HeadParse::kNeedMore;
    }
    const size_t next = nl + 1;
    if (next > kMaxHeaderBlockBytes) return HeadParse::kOverLimit;
    std::string_view line = text.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kMaxHeaderLineBytes) return HeadParse::kOverLimit;
    if (!IsValidLineText(line)) return HeadParse::kError;
    pos = next;

    if (first) {
      if (!ParseStatusLine(line, &result)) return HeadParse::kError;
      first = false;
      continue;
    }
    if (line.empty()) break;
    if (line.front() == ' ' || line.front() == '\t') {
      // Obsolete line folding (RFC 9112 5.2): joined to the previous value.
      if (result.fields.empty()) return HeadParse::kError;
      std::string& value = result.fields.back().second;
      const std::string_view more = TrimOws(line);
      if (!more.empty()) {
        if (!value.empty()) value.push_back(' ');
        value.append(more);
      }
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return HeadParse::kError;
    const std::string_view name = line.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), IsTokenChar)) return HeadParse::kError;
    if (result.fields.size() >= kMaxHeaderFields) return HeadParse::kOverLimit;
    result.fields.emplace_back(std::string(name), std::string(TrimOws(line.substr(colon + 1))));
  }
  *consumed = pos;
  *head = std::move(result);
  return HeadParse::kDone;
}

std::optional<uint64_t> ParseContentLength(std::string_view value) {
  if (value.empty() || value.size() > 19) return std::nullopt;  // 19 digits fit in 64 bits
  uint64_t v = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

std::optional<BodyFramingInfo> DetermineBodyFraming(const HttpResponseHead& head,
                                                    bool request_was_head) {
  BodyFramingInfo info;
  const auto connection = head.Fields("Connection");
  info.keep_alive = head.version_minor >= 1 ? !ListHasToken(connection, "close")
                                            : ListHasToken(connection, "keep-alive");
  const int status = head.status_code;
  if (request_was_head || (status >= 100 && status < 200) || status == 204 || status == 304) {
    info.framing = BodyFraming::kNone;
    return info;
  }
  const auto transfer_encoding = head.Fields("Transfer-Encoding");
  if (!transfer_encoding.empty()) {
    // Only a final "chunked" delimits the body; anything else runs to close.
    std::string_view last = TrimOws(transfer_encoding.back());
    const size_t comma = last.rfind(',');
    if (comma != std::string_view::npos) last = TrimOws(last.substr(comma + 1));
    if (EqualsIgnoreCase(last, "chunked")) {
      info.framing = BodyFraming::kChunked;
      // With Content-Length beside it the message is doubtful (RFC 9112 6.3):
      // do not reuse the connection.
      if (head.Field("Content-Length")) info.keep_alive = false;
    } else {
      info.framing = BodyFraming::kUntilClose;
      info.keep_alive = false;
    }
    return info;
  }
  const auto lengths = head.Fields("Content-Length");
  if (!lengths.empty()) {
    std::optional<uint64_t> agreed;
    for (std::string_view v : lengths) {
      size_t start = 0;
      while (start <= v.size()) {
        size_t comma = v.find(',', start);
        if (comma == std::string_view::npos) comma = v.size();
        auto n = ParseContentLength(TrimOws(v.substr(start, comma - start)));
        if (!n || (agreed && *agreed != *n)) return std::nullopt;
        agreed = n;
        start = comma + 1;
      }
    }
    info.framing = BodyFraming::kContentLength;
    info.content_length = *agreed;
    return info;
  }
  info.framing = BodyFraming::kUntilClose;
  info.keep_alive = false;
  return info;
}

HttpBodyDecoder::HttpBodyDecoder(BodyFramingInfo info) {
  switch (info.framing) {
    case BodyFraming::kNone:
      state_ = State::kDone;
      break;
    case BodyFraming::kContentLength:
      remaining_ = info.content_length;
      state_ = remaining_ == 0 ? State::kDone : State::kIdentity;
      break;
    case BodyFraming::kChunked:
      state_ = State::kSizeLine;
      break;
    case BodyFraming::kUntilClose:
      state_ = State::kUntilClose;
      break;
  }
}

uint64_t HttpBodyDecoder::DirectPayloadLimit() const {
  switch (state_) {
    case State::kIdentity:
    case State::kData:
      return remaining_;
    case State::kUntilClose:
      return UINT64_MAX;
    default:
      return 0;
  }
}

void HttpBodyDecoder::DirectPayloadReceived(size_t n) {
  if (n == 0 || state_ == State::kUntilClose) return;
  if ((state_ != State::kIdentity && state_ != State::kData) || n > remaining_) {
    state_ = State::kFailed;  // a caller error: never count framing as payload
    return;
  }
  remaining_ -= n;
  if (remaining_ == 0) state_ = state_ == State::kIdentity ? State::kDone : State::kDataEnd;
}

void HttpBodyDecoder::OnEndOfStream() {
  if (state_ == State::kUntilClose) {
    state_ = State::kDone;
  } else if (state_ != State::kDone) {
    state_ = State::kFailed;
  }
}

bool HttpBodyDecoder::TakeLineByte(uint8_t c, size_t limit) {
  if (c == '\n') {
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (line_.size() > limit) {
      state_ = State::kFailed;
      return false;
    }
    return true;
  }
  // One byte of room beyond the limit for the CR of the line end.
  if (line_.size() > limit) {
    state_ = State::kFailed;
    return false;
  }
  line_.push_back(static_cast<char>(c));
  return false;
}

bool HttpBodyDecoder::ParseSizeLine() {
  // chunk-size [ BWS ";" chunk-ext ]  (RFC 9112 7.1)
  size_t i = 0;
  size_t significant = 0;
  uint64_t size = 0;
  for (; i < line_.size(); ++i) {
    const char c = line_[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    if (size != 0 || digit != 0) ++significant;
    if (significant > kMaxChunkSizeDigits) return false;
    size = size * 16 + static_cast<uint64_t>(digit);
  }
  if (i == 0) return false;
  while (i < line_.size() && (line_[i] == ' ' || line_[i] == '\t')) ++i;
  if (i < line_.size() && line_[i] != ';') return false;
  for (; i < line_.size(); ++i) {
    const auto c = static_cast<unsigned char>(line_[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7f) return false;
  }
  remaining_ = size;
  return true;
}

HttpBodyDecoder::Step HttpBodyDecoder::Decode(std::span<const uint8_t> in, std::span<uint8_t> out) {
  Step step;
  while (step.consumed < in.size()) {
    const size_t avail = in.size() - step.consumed;
    const uint8_t* src = in.data() + step.consumed;
    switch (state_) {
      case State::kDone:
      case State::kFailed:
        return step;
      case State::kIdentity:
      case State::kUntilClose:
      case State::kData: {
        size_t n = std::min(avail, out.size() - step.produced);
        if (state_ != State::kUntilClose)
          n = static_cast<size_t>(std::min<uint64_t>(n, remaining_));
        if (n == 0) return step;  // output full
        std::memcpy(out.data() + step.produced, src, n);
        step.consumed += n;
        step.produced += n;
        if (state_ == State::kUntilClose) break;
        remaining_ -= n;
        if (remaining_ == 0) state_ = state_ == State::kIdentity ? State::kDone : State::kDataEnd;
        break;
      }
      case State::kSizeLine:
        ++step.consumed;
        if (TakeLineByte(*src, kMaxChunkSizeLineBytes)) {
          if (!ParseSizeLine()) {
            state_ = State::kFailed;
            return step;
          }
          line_.clear();
          state_ = remaining_ == 0 ? State::kTrailer : State::kData;
        }
        break;
      case State::kDataEnd:
        // The CRLF after chunk data; nothing else may stand there.
        ++step.consumed;
        if (TakeLineByte(*src, 0)) {
          if (!line_.empty()) {
            state_ = State::kFailed;
            return step;
          }
          state_ = State::kSizeLine;
        } else if (state_ != State::kFailed && line_ != "\r") {
          state_ = State::kFailed;
        }
        break;
      case State::kTrailer:
        ++step.consumed;
        if (++trailer_bytes_ > kMaxHeaderBlockBytes) {
          state_ = State::kFailed;
          return step;
        }
        if (TakeLineByte(*src, kMaxHeaderLineBytes)) {
          const bool last = line_.empty();
          line_.clear();
          if (last) state_ = State::kDone;
        }
        break;
    }
  }
  return step;
}

}  // namespace korvela::platform
