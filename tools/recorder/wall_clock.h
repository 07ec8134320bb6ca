// Wall-clock time as the recorder stamps frames: FILETIME, 100-ns units since
// 1601-01-01 UTC.
#pragma once

#include <chrono>
#include <cstdint>

namespace korvela::recorder {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

inline uint64_t NowFileTime() {
  const auto since_unix = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return kFileTimeUnixEpoch + static_cast<uint64_t>(since_unix.count() / 100);
}

}  // namespace korvela::recorder
