// Windows-style calendar time: FILETIME (100-ns units since 1601-01-01 UTC,
// unsigned 64-bit) and SYSTEMTIME (broken-down UTC), with the conversions the
// driver's time stamps rely on. Pure functions; callable from any thread.
#pragma once

#include <cstdint>

namespace korvela::platform {

// 100-ns units between 1601-01-01 and 1970-01-01.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;
constexpr uint64_t kFileTimeUnitsPerMs = 10000;
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000;
// FILETIME values at or above this are rejected by the Windows conversions.
constexpr uint64_t kMaxFileTime = 0x8000000000000000ULL;

struct SystemTime {
  uint16_t wYear = 0;
  uint16_t wMonth = 0;      // 1..12
  uint16_t wDayOfWeek = 0;  // 0 = Sunday; ignored by SystemTimeToFileTime
  uint16_t wDay = 0;        // 1..31
  uint16_t wHour = 0;
  uint16_t wMinute = 0;
  uint16_t wSecond = 0;
  uint16_t wMilliseconds = 0;
};

// False when a field is out of range (year 1601..30827, day within its month,
// hour < 24, minute/second < 60, ms < 1000).
bool SystemTimeToFileTime(const SystemTime& st, uint64_t* file_time);
// False for values at or above kMaxFileTime.
bool FileTimeToSystemTime(uint64_t file_time, SystemTime* st);

// Unix time in microseconds (may be negative) <-> FILETIME; values before 1601
// clamp to 0.
uint64_t FileTimeFromUnixMicros(int64_t unix_us);
int64_t UnixMicrosFromFileTime(uint64_t file_time);

}  // namespace korvela::platform
