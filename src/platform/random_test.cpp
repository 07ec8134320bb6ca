#include "platform/random.h"

#include <set>
#include <vector>

#include <gtest/gtest.h>

namespace korvela::platform {
namespace {

TEST(RandomTest, GuidCarriesVersionAndVariantAndValuesDiffer) {
  std::set<std::array<uint8_t, 16>> guids;
  for (int i = 0; i < 64; ++i) {
    auto g = RandomGuid();
    EXPECT_EQ(g[6] >> 4, 4);
    EXPECT_EQ(g[8] & 0xC0, 0x80);
    guids.insert(g);
  }
  EXPECT_EQ(guids.size(), 64u);
  std::set<uint32_t> values;
  for (int i = 0; i < 64; ++i) values.insert(RandomU32());
  EXPECT_GT(values.size(), 60u);  // 64 draws from 2^32 collide with negligible odds
}

TEST(RandomTest, FillsLargeBuffersCompletely) {
  // Larger than one getrandom call is guaranteed to return for blocking pools.
  std::vector<uint8_t> buffer(1 << 20, 0);
  ASSERT_TRUE(RandomBytes(buffer));
  size_t zeros = 0;
  for (uint8_t b : buffer) zeros += b == 0;
  // Expect ~4096 zero bytes; an unfilled tail would show as far more.
  EXPECT_LT(zeros, 6000u);
  EXPECT_TRUE(RandomBytes({}));
}

}  // namespace
}  // namespace korvela::platform
