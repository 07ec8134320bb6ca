#include "wire.h"

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

#include "net.h"
#include "util/ascii.h"

namespace camsim {
namespace {

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c <= ' ' || c >= 127 || c == ':') return false;
  }
  return true;
}

}  // namespace

std::string Request::Header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (korvela::EqualsIgnoreAsciiCase(n, name)) return v;
  }
  return {};
}

bool Request::HasHeader(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (korvela::EqualsIgnoreAsciiCase(n, name)) return true;
  }
  return false;
}

std::optional<Request> ParseRequestHead(std::string_view head) {
  Request r;
  size_t line_end = head.find('\n');
  std::string_view line = TrimView(head.substr(0, line_end));
  const size_t sp1 = line.find(' ');
  const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos) return std::nullopt;
  r.method = std::string(line.substr(0, sp1));
  r.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
  r.version = std::string(line.substr(sp2 + 1));
  if (!IsToken(r.method) || r.target.empty() || r.target.find(' ') != std::string::npos ||
      !(r.version.starts_with("HTTP/1.") || r.version == "RTSP/1.0")) {
    return std::nullopt;
  }
  while (line_end != std::string_view::npos) {
    head.remove_prefix(line_end + 1);
    line_end = head.find('\n');
    std::string_view h = head.substr(0, line_end);
    if (!h.empty() && h.back() == '\r') h.remove_suffix(1);
    if (h.empty()) continue;
    if (h.front() == ' ' || h.front() == '\t') return std::nullopt;  // obsolete folding
    const size_t colon = h.find(':');
    if (colon == std::string_view::npos || !IsToken(h.substr(0, colon))) return std::nullopt;
    if (r.headers.size() >= kMaxHeaders) return std::nullopt;
    r.headers.emplace_back(std::string(h.substr(0, colon)),
                           std::string(TrimView(h.substr(colon + 1))));
  }
  return r;
}

StreamReader::Status StreamReader::Fill(int timeout_ms) {
  if (pos_ > 0 && pos_ == buffer_.size()) {
    buffer_.clear();
    pos_ = 0;
  }
  const int w = WaitReadable(fd_, timeout_ms);
  if (w == 0) return Status::kTimeout;
  if (w < 0) return Status::kClosed;
  char tmp[16384];
  ssize_t n;
  do {
    n = ::recv(fd_, tmp, sizeof(tmp), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Status::kOk;
  if (n <= 0) return Status::kClosed;
  if (pos_ > 0) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  buffer_.append(tmp, size_t(n));
  return Status::kOk;
}

StreamReader::Status StreamReader::ReadHead(std::string* head, int timeout_ms) {
  while (true) {
    // Blank lines before a request are ignored (RFC 9112 2.2).
    while (pos_ < buffer_.size() &&
           (buffer_[pos_] == '\n' ||
            (buffer_[pos_] == '\r' && pos_ + 1 < buffer_.size() && buffer_[pos_ + 1] == '\n'))) {
      pos_ += buffer_[pos_] == '\r' ? 2 : 1;
    }
    const std::string_view view = std::string_view(buffer_).substr(pos_);
    const size_t crlf = view.find("\r\n\r\n");
    const size_t lflf = view.find("\n\n");
    const size_t end = std::min(crlf, lflf);
    if (end != std::string_view::npos) {
      if (end > kMaxHeadBytes) return Status::kTooLong;
      *head = std::string(view.substr(0, end));
      pos_ += end + (end == crlf ? 4 : 2);
      return Status::kOk;
    }
    if (view.size() > kMaxHeadBytes) return Status::kTooLong;
    const Status s = Fill(timeout_ms);
    if (s != Status::kOk) return s;
  }
}

StreamReader::Status StreamReader::ReadLine(std::string* line, size_t max_bytes, int timeout_ms) {
  while (true) {
    const size_t nl = buffer_.find('\n', pos_);
    if (nl != std::string::npos) {
      size_t end = nl;
      if (end > pos_ && buffer_[end - 1] == '\r') --end;
      if (end - pos_ > max_bytes) return Status::kTooLong;
      *line = buffer_.substr(pos_, end - pos_);
      pos_ = nl + 1;
      return Status::kOk;
    }
    if (buffer_.size() - pos_ > max_bytes + 1) return Status::kTooLong;
    const Status s = Fill(timeout_ms);
    if (s != Status::kOk) return s;
  }
}

StreamReader::Status StreamReader::ReadSome(std::string* out, size_t max, int timeout_ms) {
  while (pos_ == buffer_.size()) {
    const Status s = Fill(timeout_ms);
    if (s != Status::kOk) return s;
  }
  const size_t n = std::min(max, buffer_.size() - pos_);
  out->assign(buffer_, pos_, n);
  pos_ += n;
  return Status::kOk;
}

StreamReader::Status StreamReader::ReadExact(size_t n, int timeout_ms,
                                             const std::function<void(std::string_view)>& sink) {
  std::string piece;
  while (n > 0) {
    const Status s = ReadSome(&piece, std::min<size_t>(n, 16384), timeout_ms);
    if (s != Status::kOk) return s;
    n -= piece.size();
    sink(piece);
  }
  return Status::kOk;
}

StreamReader::Status StreamReader::ReadChunked(int timeout_ms,
                                               const std::function<void(std::string_view)>& sink) {
  std::string line;
  while (true) {
    Status s = ReadLine(&line, kMaxChunkLineBytes, timeout_ms);
    if (s != Status::kOk) return s;
    const std::string_view size_text = TrimView(std::string_view(line).substr(0, line.find(';')));
    if (size_text.empty() || size_text.size() > 8) return Status::kBad;
    size_t size = 0;
    for (char c : size_text) {
      int v;
      if (c >= '0' && c <= '9')
        v = c - '0';
      else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
      else
        return Status::kBad;
      size = size * 16 + size_t(v);
    }
    if (size > kMaxChunkSize) return Status::kTooLong;
    if (size == 0) {
      // Trailer section up to the blank line.
      do {
        s = ReadLine(&line, kMaxChunkLineBytes, timeout_ms);
        if (s != Status::kOk) return s;
      } while (!line.empty());
      return Status::kOk;
    }
    s = ReadExact(size, timeout_ms, sink);
    if (s != Status::kOk) return s;
    s = ReadLine(&line, 0, timeout_ms);
    if (s == Status::kTooLong) return Status::kBad;  // data longer than announced
    if (s != Status::kOk) return s;
  }
}

}  // namespace camsim
