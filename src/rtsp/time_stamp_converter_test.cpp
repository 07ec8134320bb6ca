#include "rtsp/time_stamp_converter.h"

#include <gtest/gtest.h>

namespace korvela {
namespace {

constexpr uint64_t kStart = 133000000000000000ULL;  // a FILETIME in 2022
constexpr uint64_t kMs = 10000;

struct Fixture {
  // `n` frames of `ticks` each, the clock moving `ms` per frame.
  void Frames(int n, uint32_t ticks, uint64_t ms) {
    for (int i = 0; i < n; ++i) {
      ts += ticks;
      clock.AdvanceMs(ms);
      converter.Update(ts);
    }
  }
  int64_t Lead() const { return int64_t(converter.GetFileTime()) - int64_t(clock.NowFileTime()); }

  platform::ManualClock clock{kStart};
  CTimeStampConverter converter{clock};
  uint32_t ts = 1000;
};

TEST(CTimeStampConverterTest, FollowsTheLocalClock) {
  Fixture f;
  platform::SystemTime st = f.converter.GetTime();  // before any frame: now
  uint64_t ft = 0;
  ASSERT_TRUE(platform::SystemTimeToFileTime(st, &ft));
  EXPECT_EQ(ft, kStart);

  f.converter.Update(f.ts);
  EXPECT_EQ(f.converter.GetFileTime(), kStart);
  f.converter.Update(f.ts);  // the same timestamp: 1 ms later
  EXPECT_EQ(f.converter.GetFileTime(), kStart + kMs);
  f.clock.AdvanceMs(5);
  f.converter.Update(f.ts);  // ... or now, when that is later
  EXPECT_EQ(f.Lead(), 0);

  f.Frames(1, 3600, 0);  // warm-up: 111 units per tick, ahead of a frozen clock
  EXPECT_EQ(f.Lead(), 3600 * 111);
  f.Frames(1, 90091, 0);  // over 1 s: resynchronised to now
  EXPECT_EQ(f.Lead(), 0);
  f.clock.AdvanceMs(10000);
  f.Frames(1, 3600, 0);  // fallen behind the clock: pulled up to now
  EXPECT_EQ(f.Lead(), 0);
}

TEST(CTimeStampConverterTest, MeasuredRatioAndLeadBleeding) {
  Fixture f;
  f.converter.Update(f.ts);
  f.Frames(150, 3600, 40);  // a 90 kHz camera at 25 fps, frames on time
  EXPECT_EQ(f.Lead(), 0);
  for (int i = 0; i < 1000; ++i) f.converter.Update(f.ts);  // 1000 repeats: 1 s ahead
  EXPECT_EQ(f.Lead(), 1000 * int64_t(kMs));
  // Each 40 ms step is shortened by 4 ms until the lead is used up.
  for (int i = 1; i <= 250; ++i) {
    f.Frames(1, 3600, 40);
    ASSERT_EQ(f.Lead(), (1000 - 4 * i) * int64_t(kMs)) << i;
  }
  f.Frames(1, 3600, 40);
  EXPECT_EQ(f.Lead(), 0);
}

}  // namespace
}  // namespace korvela
