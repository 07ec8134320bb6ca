#include "device/camera_properties_lists.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace korvela {
namespace {

using ::testing::ElementsAre;

PictureSizeEntry E(uint16_t w, uint16_t h, uint32_t interval) { return {w, h, interval}; }

TEST(FrameIntervalTest, RoundsHalfUp) {
  EXPECT_EQ(FrameIntervalMs(30), 33u);
  EXPECT_EQ(FrameIntervalMs(16), 63u);  // 62.5
  EXPECT_EQ(FrameIntervalMs(12), 83u);
  EXPECT_EQ(FrameIntervalMs(8), 125u);
  EXPECT_EQ(FrameIntervalMs(3), 333u);
  EXPECT_EQ(FrameIntervalMs(7), 143u);  // 142.86
  EXPECT_EQ(FrameIntervalMs(1), 1000u);
  EXPECT_EQ(FrameIntervalMs(0), 0u);
  EXPECT_EQ(FrameIntervalMs(2001), 0u);
  EXPECT_EQ(FrameIntervalMs(1999), 1u);
}

TEST(PictureSizeListTest, SkipsZeroAndMergesDuplicatesKeepingSmallerInterval) {
  PictureSizeList list;
  list.Add(0, 480, 33);
  list.Add(720, 0, 33);
  list.Add(720, 480, 0);
  list.Add(720, 480, 100);
  list.Add(720, 480, 50);
  list.Add(720, 480, 0);
  list.Add(720, 480, 80);
  list.Add(352, 240, 33);
  EXPECT_THAT(list.entries(), ElementsAre(E(720, 480, 50), E(352, 240, 33)));
}

void ExpectFill(uint32_t group, uint32_t family, PictureSize max, uint32_t default_fps,
                const std::vector<PictureSizeEntry>& sizes) {
  PictureSizeList list;
  list.Add(1, 1, 1);  // emptied first
  uint32_t fps = 30;
  FillPictureSizes(group, family, max, list, fps);
  EXPECT_EQ(list.entries(), sizes) << "group " << group << " family " << family;
  EXPECT_EQ(fps, default_fps) << "group " << group << " family " << family;
}

TEST(FillPictureSizesTest, EachGroupListsItsTableOrHalvesTheMaximum) {
  // Table C limited by family, then table B merged in.
  ExpectFill(4, 6, {2592, 1944}, 10,
             {E(2592, 1944, 100), E(2560, 1440, 63), E(2048, 1536, 50), E(1920, 1080, 33),
              E(1600, 1200, 33), E(1280, 960, 33), E(1280, 720, 33), E(720, 480, 33)});
  ExpectFill(4, 4, {}, 20,
             {E(2048, 1536, 50), E(1920, 1080, 33), E(1600, 1200, 33), E(1280, 960, 33),
              E(1280, 720, 33), E(720, 480, 33)});
  ExpectFill(4, 5, {}, 16,
             {E(2560, 1440, 63), E(2048, 1536, 50), E(1920, 1080, 33), E(1600, 1200, 33),
              E(1280, 960, 33), E(1280, 720, 33), E(720, 480, 33)});
  ExpectFill(2, 2, {1920, 1080}, 30, {E(1280, 720, 33), E(720, 480, 33)});  // no 1920
  ExpectFill(2, 3, {}, 30, {E(1920, 1080, 33), E(1280, 720, 33), E(720, 480, 33)});
  ExpectFill(3, 1, {2048, 1536}, 30, {E(720, 480, 33), E(352, 240, 33)});
  ExpectFill(1, 3, {2592, 1944}, 8, {E(2592, 1944, 125)});
  ExpectFill(0, 3, {2048, 1536}, 12,
             {E(2048, 1536, 83), E(1024, 768, 33), E(512, 384, 33), E(256, 192, 33)});
  ExpectFill(0, 3, {1600, 1200}, 30,
             {E(1600, 1200, 33), E(800, 600, 33), E(400, 300, 33), E(200, 150, 33)});
  ExpectFill(0, 3, {12, 5}, 30, {E(12, 5, 33), E(6, 2, 33), E(3, 1, 33)});  // none of size 0
  // The default rate is lowered, never raised.
  PictureSizeList list;
  uint32_t default_fps = 5;
  FillPictureSizes(4, 6, {}, list, default_fps);
  EXPECT_EQ(default_fps, 5u);
}

TEST(FrameRateReportTest, OneToThirtyWithDefaultThirtyAndTen) {
  std::set<uint32_t> rates;
  for (uint32_t r = 1; r <= 30; ++r) rates.insert(r);
  FrameRateReport report = MakeFrameRateReport(rates, 30);
  ASSERT_EQ(report.intervals_ms.size(), 30u);
  EXPECT_EQ(report.intervals_ms.front(), 1000u);
  EXPECT_EQ(report.intervals_ms[1], 500u);
  EXPECT_EQ(report.intervals_ms.back(), 33u);
  EXPECT_EQ(report.default_interval_ms, 33u);
  EXPECT_EQ(MakeFrameRateReport(rates, 10).default_interval_ms, 100u);
}

TEST(FrameRateReportTest, DefaultFallsBackToHalfTheHighestAndRoundsUpToAListedRate) {
  EXPECT_EQ(MakeFrameRateReport({5, 20, 30}, 0).default_interval_ms, 50u);  // 15 -> 20
  EXPECT_EQ(MakeFrameRateReport({5, 30}, 12).default_interval_ms, 33u);
  EXPECT_FALSE(MakeFrameRateReport({5, 10}, 12).default_interval_ms.has_value());
  FrameRateReport empty = MakeFrameRateReport({}, 30);
  EXPECT_TRUE(empty.intervals_ms.empty());
  EXPECT_FALSE(empty.default_interval_ms.has_value());
}

}  // namespace
}  // namespace korvela
