#include "base/log_throttle.h"

#include <vector>

#include <gtest/gtest.h>

namespace korvela {
namespace {

std::vector<uint32_t> ExpectedPasses() {
  std::vector<uint32_t> v;
  for (uint32_t n = 1; n <= 14; ++n) v.push_back(n);
  for (uint32_t n = 16; n <= 240; n += 16) v.push_back(n);
  for (uint32_t n = 256; n <= 3840; n += 256) v.push_back(n);
  for (uint32_t n = 4096; n <= 61440; n += 4096) v.push_back(n);
  return v;
}

TEST(LogThrottleTest, PassesTheDocumentedOccurrencesUpTo65534) {
  uint32_t counter = 0;
  std::vector<uint32_t> passed;
  for (uint32_t occurrence = 1; occurrence <= 65534; ++occurrence) {
    if (LogThrottle(counter)) passed.push_back(occurrence);
  }
  EXPECT_EQ(counter, 65534u);
  EXPECT_EQ(passed, ExpectedPasses());
  EXPECT_EQ(passed.size(), 14u + 15u + 15u + 15u);
}

TEST(LogThrottleTest, FallsBackTo4095AtTheTopAndKeepsEvery4096th) {
  uint32_t counter = 65533;
  EXPECT_FALSE(LogThrottle(counter));  // occurrence 65534 is no multiple of 4096
  EXPECT_FALSE(LogThrottle(counter));  // occurrence 65535 is suppressed...
  EXPECT_EQ(counter, 4095u);           // ...and restarts the count
  EXPECT_TRUE(LogThrottle(counter));   // counted as 4096
  int passes = 0;
  for (int i = 0; i < 4095; ++i) passes += LogThrottle(counter) ? 1 : 0;
  EXPECT_EQ(passes, 0);
  EXPECT_TRUE(LogThrottle(counter));  // 8192
  EXPECT_EQ(counter, 8192u);
}

}  // namespace
}  // namespace korvela
