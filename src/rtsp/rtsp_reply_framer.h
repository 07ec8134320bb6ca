// Where one RTSP reply ends in the bytes read from the connection: the header
// block up to the first empty line (lines may end in CR LF or a bare LF), then
// exactly Content-Length body bytes (RFC 2326 4.3). Nothing else ends a
// reply: neither a short read nor the server closing the connection.
//
// Threading: one instance per connection, used by its owner's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvela {

class RtspReplyFramer {
 public:
  // A header block (status line and headers with the empty line) may not be
  // longer; RTSP replies have a few hundred bytes of headers.
  static constexpr size_t kMaxHeaderBytes = 64 * 1024;
  // A body may not be longer; a session description has a few KiB.
  static constexpr size_t kMaxBodyBytes = 1024 * 1024;

  enum class Status { kNeedMore, kComplete, kOverLimit, kMalformed };

  // Examines the bytes of the reply read so far; between Reset() calls each
  // call must see the bytes of the previous one plus what arrived since (the
  // header search resumes where it stopped, so a trickling reply costs linear
  // time). kComplete sets length() to the reply's size.
  Status Examine(std::string_view buffered);
  void Reset() { *this = RtspReplyFramer(); }

  // The whole reply (headers and body) once complete.
  size_t length() const { return header_bytes_ + body_bytes_; }

 private:
  Status ReadContentLength(std::string_view head);

  size_t scanned_ = 0;       // where the search for the empty line resumes
  size_t header_bytes_ = 0;  // 0 until the empty line was found
  size_t body_bytes_ = 0;
};

}  // namespace korvela
