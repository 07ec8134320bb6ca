#include "channels/h264_stream_config.h"

#include <gtest/gtest.h>

namespace korvela {
namespace {

TEST(H264StreamConfigTest, FrameIntervalAndBitRate) {
  // fps -> ms: 40 -> 45, 33 -> 30, 100 -> 105; 10 and 4 ms stay.
  const std::pair<uint32_t, uint32_t> intervals[] = {{25, 45}, {30, 30}, {10, 105}, {100, 10},
                                                     {250, 4}, {0, 1},   {1, 1005}, {12, 90}};
  for (const auto& [fps, ms] : intervals) EXPECT_EQ(H264FrameInterval(fps), ms) << fps;
  const std::pair<uint32_t, uint32_t> rates[] = {{100, 11000}, {50, 5500}, {2, 256}, {0, 256}};
  for (const auto& [quality, kbps] : rates) EXPECT_EQ(H264BitRate(quality), kbps) << quality;
}

TEST(H264StreamConfigTest, RequestTexts) {
  struct Case {
    H264StreamWish wish;
    uint32_t group;
    const char* request;
  };
  const Case cases[] = {
      {{25, 50, 1280, 720},
       2,
       "/set.oid?OidTR1.17.2.6=mode2&OidTR1.17.2.4=45&OidTR1.17.2.7=cbr&OidTR1.17.2.2=5500"
       "&OidTR1.17.2.10=45"},
      // Group 1 never names a mode; a size outside the table names none.
      {{25, 50, 1280, 720},
       1,
       "/set.oid?&OidTR1.17.2.4=45&OidTR1.17.2.7=cbr&OidTR1.17.2.2=5500&OidTR1.17.2.10=45"},
      {{30, 0, 640, 480},
       4,
       "/set.oid?&OidTR1.17.2.4=30&OidTR1.17.2.7=cbr&OidTR1.17.2.2=256&OidTR1.17.2.10=30"},
      {{10, 100, 720, 480},
       0,
       "/set.oid?OidTR1.17.2.6=mode9&OidTR1.17.2.4=105&OidTR1.17.2.7=cbr&OidTR1.17.2.2=11000"
       "&OidTR1.17.2.10=105"},
  };
  for (const Case& c : cases) EXPECT_EQ(H264ConfigureRequest(c.wish, c.group), c.request);
  EXPECT_EQ(H264FrameRateRequest(25), "/set.oid?&OidTR1.17.2.4=45");
}

TEST(H264StreamConfigTest, StreamLocation) {
  EXPECT_EQ(H264StreamPath(3, 352), "now.mp4?mm=v&res=low");
  EXPECT_EQ(H264StreamPath(3, 720), "now.mp4?mm=v");
  EXPECT_EQ(H264StreamPath(2, 352), "now.mp4?mm=v");
  EXPECT_EQ(RtspPortFromParameter(""), std::nullopt);
  EXPECT_EQ(RtspPortFromParameter("8554"), 8554);
  for (const char* bad : {"0", "abc", "-5", "70000"}) {
    EXPECT_EQ(RtspPortFromParameter(bad), kDefaultRtspPort) << bad;
  }
}

}  // namespace
}  // namespace korvela
