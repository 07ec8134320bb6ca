// Parsing of HTTP/1.1 responses sent by an untrusted device: the response head
// (status line and header fields, RFC 9112 sections 4 and 5) and the body
// framing (Content-Length, chunked, or delimited by the connection's close;
// RFC 9112 section 6). Pure functions and small state machines over byte
// views; no I/O, no threads.
//
// Threading: HttpBodyDecoder is used by one thread at a time; the free
// functions are reentrant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvela::platform {

// Largest response head (status line + fields + blank line) accepted. Real
// devices send well under 2 KiB; the limit only stops a peer from growing our
// buffer without bound.
inline constexpr size_t kMaxHeaderBlockBytes = 64 * 1024;
// Longest single line of a head or of a chunked trailer.
inline constexpr size_t kMaxHeaderLineBytes = 8 * 1024;
// Most header fields in one head.
inline constexpr size_t kMaxHeaderFields = 256;
// Longest chunk-size line including extensions (RFC 9112 7.1.1 sets no limit;
// extensions are unused by devices).
inline constexpr size_t kMaxChunkSizeLineBytes = 1024;
// Most significant hexadecimal digits of a chunk size: 15 digits keep every
// size below 2^60, far above any body we accept, and free of overflow.
inline constexpr size_t kMaxChunkSizeDigits = 15;

struct HttpResponseHead {
  int version_minor = 1;  // HTTP/1.<minor>
  int status_code = 0;
  std::string reason;
  std::vector<std::pair<std::string, std::string>> fields;  // in order, values trimmed

  // First value of the field (case-insensitive name), or nullopt.
  std::optional<std::string_view> Field(std::string_view name) const;
  // All values of the field, in order.
  std::vector<std::string_view> Fields(std::string_view name) const;
};

enum class HeadParse { kNeedMore, kDone, kError, kOverLimit };

// Parses a response head from the start of `data`. kDone sets `*consumed` to
// the bytes of the head including its blank line and fills `*head`. kNeedMore
// when the head is incomplete and the limits still allow more; kError for a
// malformed head, kOverLimit for one that breaks a limit (checked on partial
// data too, so a peer cannot make us wait for an oversize head).
HeadParse ParseResponseHead(std::span<const uint8_t> data, HttpResponseHead* head,
                            size_t* consumed);

enum class BodyFraming { kNone, kContentLength, kChunked, kUntilClose };

struct BodyFramingInfo {
  BodyFraming framing = BodyFraming::kNone;
  uint64_t content_length = 0;  // for kContentLength
  bool keep_alive = false;      // the connection may carry another request afterwards
};

// Decides how the body of `head` is delimited (RFC 9112 6.3). nullopt when
// the framing is invalid (e.g. conflicting Content-Length values).
std::optional<BodyFramingInfo> DetermineBodyFraming(const HttpResponseHead& head,
                                                    bool request_was_head);

// Strict decimal Content-Length value (digits only, no overflow).
std::optional<uint64_t> ParseContentLength(std::string_view value);

// Turns the framed body bytes into payload bytes, chunk by chunk, across any
// split of its input.
class HttpBodyDecoder {
 public:
  explicit HttpBodyDecoder(BodyFramingInfo info);

  struct Step {
    size_t consumed = 0;  // input bytes used
    size_t produced = 0;  // payload bytes written to `out`
  };
  // Decodes as much as possible. After failed() or done() it consumes nothing.
  Step Decode(std::span<const uint8_t> in, std::span<uint8_t> out);
  // The connection reached end of stream: completes a close-delimited body,
  // fails any other unfinished one.
  void OnEndOfStream();

  bool done() const { return state_ == State::kDone; }
  bool failed() const { return state_ == State::kFailed; }
  // Payload bytes still expected for a Content-Length body.
  uint64_t remaining() const { return remaining_; }

  // How many of the next input bytes are payload for certain (inside a
  // Content-Length body or a chunk, or any close-delimited byte), so that a
  // reader may receive them straight into its buffer; 0 while framing bytes
  // come next. DirectPayloadReceived(n) (n at most that) accounts for them.
  uint64_t DirectPayloadLimit() const;
  void DirectPayloadReceived(size_t n);

 private:
  enum class State { kSizeLine, kData, kDataEnd, kTrailer, kIdentity, kUntilClose, kDone, kFailed };

  // Feeds one byte of a line-oriented section; returns true when a line ended.
  bool TakeLineByte(uint8_t c, size_t limit);
  bool ParseSizeLine();

  State state_;
  uint64_t remaining_ = 0;  // bytes left in the current chunk / body
  std::string line_;        // partial size or trailer line
  size_t trailer_bytes_ = 0;
};

}  // namespace korvela::platform
