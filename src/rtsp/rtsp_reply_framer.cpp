#include "rtsp/rtsp_reply_framer.h"

#include "util/ascii.h"

namespace korvela {
namespace {

constexpr std::string_view kContentLength = "content-length";

}  // namespace

RtspReplyFramer::Status RtspReplyFramer::Examine(std::string_view buffered) {
  if (header_bytes_ == 0) {
    // An empty line is a LF directly followed by LF or by CR LF.
    size_t pos = scanned_;
    for (;;) {
      const size_t lf = buffered.find('\n', pos);
      if (lf == std::string_view::npos) break;
      size_t next = lf + 1;
      if (next < buffered.size() && buffered[next] == '\r') ++next;
      if (next >= buffered.size()) {
        pos = lf;  // the empty line may still come: look at this LF again
        break;
      }
      if (buffered[next] == '\n') {
        header_bytes_ = next + 1;
        break;
      }
      pos = lf + 1;
    }
    if (header_bytes_ == 0) {
      scanned_ = buffered.find('\n', pos) == std::string_view::npos ? buffered.size() : pos;
      return buffered.size() >= kMaxHeaderBytes ? Status::kOverLimit : Status::kNeedMore;
    }
    if (header_bytes_ > kMaxHeaderBytes) return Status::kOverLimit;
    const Status head = ReadContentLength(buffered.substr(0, header_bytes_));
    if (head != Status::kNeedMore) return head;
  }
  return buffered.size() >= length() ? Status::kComplete : Status::kNeedMore;
}

RtspReplyFramer::Status RtspReplyFramer::ReadContentLength(std::string_view head) {
  bool seen = false;
  size_t line_start = 0;
  while (line_start < head.size()) {
    size_t end = head.find('\n', line_start);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(line_start, end - line_start);
    line_start = end + 1;
    if (line.size() <= kContentLength.size() ||
        !EqualsIgnoreAsciiCase(line.substr(0, kContentLength.size()), kContentLength)) {
      continue;
    }
    line.remove_prefix(kContentLength.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.front() != ':') continue;  // another header, e.g. Content-Length-X
    line.remove_prefix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.remove_suffix(1);
    }
    if (line.empty()) return Status::kMalformed;
    size_t value = 0;
    for (char c : line) {
      if (!IsAsciiDigit(c)) return Status::kMalformed;
      value = value * 10 + static_cast<size_t>(c - '0');
      if (value > kMaxBodyBytes) return Status::kOverLimit;
    }
    // Two different lengths leave the reply's end unknown (RFC 9112 6.3).
    if (seen && value != body_bytes_) return Status::kMalformed;
    seen = true;
    body_bytes_ = value;
  }
  return Status::kNeedMore;
}

}  // namespace korvela
