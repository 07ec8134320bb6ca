// Reading HTTP/RTSP requests from a connection: a buffered reader with
// limits, the request-head parser and the chunked body decoder.
//
// Threading: a StreamReader belongs to its connection thread. The parsing
// functions are pure.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "camsim.h"

namespace camsim {

// Limits on what a client may send.
constexpr size_t kMaxHeadBytes = 16 * 1024;  // request line and headers together
constexpr size_t kMaxHeaders = 64;
constexpr size_t kMaxChunkLineBytes = 256;
constexpr size_t kMaxChunkSize = 1024 * 1024;

struct Request {
  std::string method;
  std::string target;
  std::string version;  // "HTTP/1.1", "RTSP/1.0"
  HeaderList headers;

  // First header of that name (case-insensitive), or empty.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

// Parses the head (request line and header lines, without the blank line).
// Accepts CRLF or bare LF line ends; nullopt on a malformed head.
std::optional<Request> ParseRequestHead(std::string_view head);

class StreamReader {
 public:
  enum class Status { kOk, kClosed, kTimeout, kTooLong, kBad };

  explicit StreamReader(int fd) : fd_(fd) {}

  // Reads up to and including the blank line; *head gets the text before it.
  Status ReadHead(std::string* head, int timeout_ms);
  // Reads one line (without its CRLF or LF), at most max_bytes.
  Status ReadLine(std::string* line, size_t max_bytes, int timeout_ms);
  // Reads between 1 and max bytes (buffered bytes first).
  Status ReadSome(std::string* out, size_t max, int timeout_ms);
  // Reads exactly n bytes, handing them to sink in pieces.
  Status ReadExact(size_t n, int timeout_ms, const std::function<void(std::string_view)>& sink);
  // Reads a chunked body (RFC 9112 7.1), handing the data to sink.
  Status ReadChunked(int timeout_ms, const std::function<void(std::string_view)>& sink);

  bool has_buffered() const { return pos_ < buffer_.size(); }

 private:
  Status Fill(int timeout_ms);

  int fd_;
  std::string buffer_;
  size_t pos_ = 0;
};

}  // namespace camsim
