#include "platform/file_time.h"

namespace korvela::platform {
namespace {

constexpr int64_t kDaysFrom1601To1970 = 134774;

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

}  // namespace

bool SystemTimeToFileTime(const SystemTime& st, uint64_t* file_time) {
  if (file_time == nullptr) return false;
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
      st.wSecond > 59 || st.wMilliseconds > 999) {
    return false;
  }
  const int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kDaysFrom1601To1970;
  const uint64_t ms = static_cast<uint64_t>(days) * 86400000ULL + st.wHour * 3600000ULL +
                      st.wMinute * 60000ULL + st.wSecond * 1000ULL + st.wMilliseconds;
  *file_time = ms * kFileTimeUnitsPerMs;
  return true;
}

bool FileTimeToSystemTime(uint64_t file_time, SystemTime* st) {
  if (st == nullptr || file_time >= kMaxFileTime) return false;
  const uint64_t total_ms = file_time / kFileTimeUnitsPerMs;
  const int64_t days = static_cast<int64_t>(total_ms / 86400000ULL);
  uint64_t ms_of_day = total_ms % 86400000ULL;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days - kDaysFrom1601To1970, &y, &m, &d);
  st->wYear = static_cast<uint16_t>(y);
  st->wMonth = static_cast<uint16_t>(m);
  st->wDay = static_cast<uint16_t>(d);
  // 1601-01-01 was a Monday.
  st->wDayOfWeek = static_cast<uint16_t>((days + 1) % 7);
  st->wHour = static_cast<uint16_t>(ms_of_day / 3600000);
  ms_of_day %= 3600000;
  st->wMinute = static_cast<uint16_t>(ms_of_day / 60000);
  ms_of_day %= 60000;
  st->wSecond = static_cast<uint16_t>(ms_of_day / 1000);
  st->wMilliseconds = static_cast<uint16_t>(ms_of_day % 1000);
  return true;
}

uint64_t FileTimeFromUnixMicros(int64_t unix_us) {
  const int64_t min_us = -static_cast<int64_t>(kFileTimeUnixEpoch / 10);
  if (unix_us <= min_us) return 0;
  return static_cast<uint64_t>(unix_us - min_us) * 10;
}

int64_t UnixMicrosFromFileTime(uint64_t file_time) {
  return static_cast<int64_t>(file_time / 10) - static_cast<int64_t>(kFileTimeUnixEpoch / 10);
}

}  // namespace korvela::platform
