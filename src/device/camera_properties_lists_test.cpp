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

struct FillFixture {
  PictureSizeList list;
  uint32_t default_fps = 30;
  void Fill(uint32_t group, uint32_t family, PictureSize max) {
    FillPictureSizes(group, family, max, list, default_fps);
  }
};

TEST(FillPictureSizesTest, GroupFourFamilySixListsTableCThenMergedTableB) {
  FillFixture f;
  f.list.Add(1, 1, 1);  // emptied first
  f.Fill(4, 6, {2592, 1944});
  EXPECT_THAT(f.list.entries(), ElementsAre(E(2592, 1944, 100), E(2560, 1440, 63),
                                            E(2048, 1536, 50), E(1920, 1080, 33), E(1600, 1200, 33),
                                            E(1280, 960, 33), E(1280, 720, 33), E(720, 480, 33)));
  EXPECT_EQ(f.default_fps, 10u);
}

TEST(FillPictureSizesTest, GroupFourLimitsTableCByFamily) {
  FillFixture f4;
  f4.Fill(4, 4, {});
  EXPECT_EQ(f4.list.entries().front(), E(2048, 1536, 50));
  EXPECT_EQ(f4.list.entries().size(), 6u);
  EXPECT_EQ(f4.default_fps, 20u);
  FillFixture f5;
  f5.Fill(4, 5, {});
  EXPECT_EQ(f5.list.entries().front(), E(2560, 1440, 63));
  EXPECT_EQ(f5.list.entries().size(), 7u);
  EXPECT_EQ(f5.default_fps, 16u);
}

TEST(FillPictureSizesTest, GroupTwoFamilyTwoStopsAt1280) {
  FillFixture f;
  f.Fill(2, 2, {1920, 1080});
  EXPECT_THAT(f.list.entries(), ElementsAre(E(1280, 720, 33), E(720, 480, 33)));
  EXPECT_EQ(f.default_fps, 30u);
  FillFixture other;
  other.Fill(2, 3, {});
  EXPECT_THAT(other.list.entries(),
              ElementsAre(E(1920, 1080, 33), E(1280, 720, 33), E(720, 480, 33)));
}

TEST(FillPictureSizesTest, GroupThreeIsTableA) {
  FillFixture f;
  f.Fill(3, 1, {2048, 1536});
  EXPECT_THAT(f.list.entries(), ElementsAre(E(720, 480, 33), E(352, 240, 33)));
}

TEST(FillPictureSizesTest, GroupOneIsTheMaximumAlone) {
  FillFixture f;
  f.Fill(1, 3, {2592, 1944});
  EXPECT_THAT(f.list.entries(), ElementsAre(E(2592, 1944, 125)));
  EXPECT_EQ(f.default_fps, 8u);
}

TEST(FillPictureSizesTest, GroupZeroDividesTheMaximum) {
  FillFixture f;
  f.Fill(0, 3, {2048, 1536});
  EXPECT_THAT(f.list.entries(),
              ElementsAre(E(2048, 1536, 83), E(1024, 768, 33), E(512, 384, 33), E(256, 192, 33)));
  EXPECT_EQ(f.default_fps, 12u);

  FillFixture g;
  g.Fill(0, 3, {1600, 1200});
  EXPECT_THAT(g.list.entries(),
              ElementsAre(E(1600, 1200, 33), E(800, 600, 33), E(400, 300, 33), E(200, 150, 33)));
  EXPECT_EQ(g.default_fps, 30u);
}

TEST(FillPictureSizesTest, GroupZeroSkipsSizesThatReachZero) {
  FillFixture f;
  f.Fill(0, 3, {12, 5});
  EXPECT_THAT(f.list.entries(), ElementsAre(E(12, 5, 33), E(6, 2, 33), E(3, 1, 33)));
}

TEST(FillPictureSizesTest, DefaultIsNeverRaised) {
  FillFixture f;
  f.default_fps = 5;
  f.Fill(4, 6, {});
  EXPECT_EQ(f.default_fps, 5u);
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
