#include "base/time.h"

#include <gtest/gtest.h>

#include "platform/file_time.h"

namespace korvela {
namespace {

TEST(CTimeTest, StampsNowAndMeasuresOnTheMonotonicLine) {
  platform::ManualClock clock(platform::kFileTimeUnixEpoch, 5000);
  CTime time(clock);
  EXPECT_EQ(time.Get(), platform::kFileTimeUnixEpoch);
  EXPECT_EQ(time.ElapsedMs(), 0u);

  clock.AdvanceMs(1500);
  EXPECT_EQ(time.ElapsedMs(), 1500u);
  EXPECT_EQ(time.Get(), platform::kFileTimeUnixEpoch) << "the stamp does not move by itself";

  time.Reset();
  EXPECT_EQ(time.Get(), platform::kFileTimeUnixEpoch + 1500 * platform::kFileTimeUnitsPerMs);
  EXPECT_EQ(time.ElapsedMs(), 0u);
  clock.AdvanceMs(20000);
  EXPECT_EQ(time.ElapsedMs(), 20000u);
}

TEST(CTimeTest, SettingTheWallClockBackNeitherHidesNorFakesElapsedTime) {
  platform::ManualClock clock(
      platform::kFileTimeUnixEpoch + 3600 * platform::kFileTimeUnitsPerSecond, 0);
  CTime time(clock);
  clock.SetFileTime(platform::kFileTimeUnixEpoch);  // an hour back
  clock.AdvanceMs(250);
  EXPECT_EQ(time.ElapsedMs(), 250u);
  clock.SetFileTime(platform::kFileTimeUnixEpoch + 24 * 3600 * platform::kFileTimeUnitsPerSecond);
  EXPECT_EQ(time.ElapsedMs(), 250u);
}

TEST(CTimeTest, SystemClockStampIsRecent) {
  const uint64_t before = platform::NowFileTime();
  CTime time;
  const uint64_t after = platform::NowFileTime();
  EXPECT_GE(time.Get(), before);
  EXPECT_LE(time.Get(), after);
}

}  // namespace
}  // namespace korvela
