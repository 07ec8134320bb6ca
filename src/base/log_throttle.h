// Thins out a message that repeats: the first 14 occurrences pass, then every
// 16th up to 254, every 256th up to 4094 and every 4096th after that; the
// count falls back to 4095 instead of reaching 65535, so it never wraps.
//
// Threading: `counter` belongs to the reporting object; the caller serialises.
#pragma once

#include <cstdint>

namespace korvela {

// Advances `counter`; true when this occurrence is to be logged.
bool LogThrottle(uint32_t& counter);

}  // namespace korvela
