// MD5 message digest (RFC 1321). Used for HTTP/RTSP Digest authentication,
// where the protocol fixes the algorithm; not for anything security-critical.
//
// Threading: a Md5 object is used by one thread at a time; the free functions
// are reentrant.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvela::codec {

using Md5Digest = std::array<uint8_t, 16>;

// Incremental MD5: Update() any number of times, then Finish() once.
class Md5 {
 public:
  Md5();

  void Update(std::span<const uint8_t> data);
  void Update(std::string_view text);
  // Pads, appends the bit length and returns the digest. The object must not
  // be updated afterwards (Reset() starts over).
  Md5Digest Finish();
  void Reset();

 private:
  void Transform(const uint8_t block[64]);

  std::array<uint32_t, 4> state_{};
  uint64_t length_bytes_ = 0;
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
};

Md5Digest ComputeMd5(std::span<const uint8_t> data);
Md5Digest ComputeMd5(std::string_view text);

// 32 lower-case hexadecimal digits, two per byte.
std::string Md5ToHex(const Md5Digest& digest);
std::string Md5HexOf(std::string_view text);

}  // namespace korvela::codec
