#include "platform/file_time.h"

#include <ctime>

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace korvela::platform {
namespace {

SystemTime Make(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0,
                uint16_t s = 0, uint16_t ms = 0) {
  SystemTime st;
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  st.wMilliseconds = ms;
  return st;
}

TEST(FileTimeTest, KnownInstants) {
  uint64_t ft = 1;
  ASSERT_TRUE(SystemTimeToFileTime(Make(1601, 1, 1), &ft));
  EXPECT_EQ(ft, 0u);
  ASSERT_TRUE(SystemTimeToFileTime(Make(1970, 1, 1), &ft));
  EXPECT_EQ(ft, kFileTimeUnixEpoch);
  // 2000-02-29 12:34:56.789 UTC = Unix 951827696.789
  ASSERT_TRUE(SystemTimeToFileTime(Make(2000, 2, 29, 12, 34, 56, 789), &ft));
  EXPECT_EQ(ft, kFileTimeUnixEpoch + 951827696789ULL * kFileTimeUnitsPerMs);
}

TEST(FileTimeTest, RoundTripKeepsEveryFieldAndComputesWeekday) {
  const SystemTime cases[] = {Make(1601, 1, 1), Make(1900, 2, 28, 23, 59, 59, 999),
                              Make(2024, 2, 29, 1, 2, 3, 4), Make(2026, 12, 6, 14, 0, 0, 0),
                              Make(30827, 12, 31, 23, 59, 59, 999)};
  for (const auto& st : cases) {
    uint64_t ft = 0;
    ASSERT_TRUE(SystemTimeToFileTime(st, &ft)) << st.wYear;
    SystemTime back;
    ASSERT_TRUE(FileTimeToSystemTime(ft + 9999, &back));  // sub-ms units are cut
    EXPECT_EQ(back.wYear, st.wYear);
    EXPECT_EQ(back.wMonth, st.wMonth);
    EXPECT_EQ(back.wDay, st.wDay);
    EXPECT_EQ(back.wHour, st.wHour);
    EXPECT_EQ(back.wMinute, st.wMinute);
    EXPECT_EQ(back.wSecond, st.wSecond);
    EXPECT_EQ(back.wMilliseconds, st.wMilliseconds);
  }
  SystemTime st;
  ASSERT_TRUE(FileTimeToSystemTime(0, &st));
  EXPECT_EQ(st.wDayOfWeek, 1);  // 1601-01-01 was a Monday
  uint64_t ft = 0;
  ASSERT_TRUE(SystemTimeToFileTime(Make(2026, 12, 6), &ft));
  ASSERT_TRUE(FileTimeToSystemTime(ft, &st));
  EXPECT_EQ(st.wDayOfWeek, 0);  // a Sunday
}

TEST(FileTimeTest, RejectsOutOfRangeFields) {
  const SystemTime bad[] = {Make(1600, 12, 31),         Make(2023, 2, 29),
                            Make(2024, 13, 1),          Make(2024, 0, 1),
                            Make(2024, 4, 31),          Make(2024, 1, 0),
                            Make(2024, 1, 1, 24),       Make(2024, 1, 1, 0, 60),
                            Make(2024, 1, 1, 0, 0, 60), Make(2024, 1, 1, 0, 0, 0, 1000)};
  for (const auto& st : bad) {
    uint64_t ft = 7;
    EXPECT_FALSE(SystemTimeToFileTime(st, &ft));
    EXPECT_EQ(ft, 7u);
  }
  SystemTime st;
  EXPECT_FALSE(FileTimeToSystemTime(kMaxFileTime, &st));
  EXPECT_TRUE(FileTimeToSystemTime(kMaxFileTime - 1, &st));
}

TEST(FileTimeTest, UnixMicrosConversionAndSystemClockAgreeWithTime) {
  EXPECT_EQ(FileTimeFromUnixMicros(0), kFileTimeUnixEpoch);
  EXPECT_EQ(FileTimeFromUnixMicros(-11644473600000001LL), 0u);  // before 1601
  EXPECT_EQ(UnixMicrosFromFileTime(FileTimeFromUnixMicros(1234567890123456LL)), 1234567890123456LL);
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  const int64_t now_s = UnixMicrosFromFileTime(NowFileTime()) / 1000000;
  const int64_t after = static_cast<int64_t>(std::time(nullptr));
  EXPECT_GE(now_s, before);
  EXPECT_LE(now_s, after);
}

TEST(ManualClockTest, MovesOnlyWhenAdvanced) {
  ManualClock clock(kFileTimeUnixEpoch, 0xFFFFFFF0ULL);
  EXPECT_EQ(clock.TickMs(), 0xFFFFFFF0u);
  clock.AdvanceMs(0x20);
  EXPECT_EQ(clock.TickMs(), 0x10u) << "tick wraps at 2^32 like the multimedia timer";
  EXPECT_EQ(clock.SteadyMs(), 0x100000010ULL);
  EXPECT_EQ(clock.NowFileTime(), kFileTimeUnixEpoch + 0x20 * kFileTimeUnitsPerMs);
}

}  // namespace
}  // namespace korvela::platform
