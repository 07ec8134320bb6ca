#include "device/model_table.h"

#include <string>

#include <gtest/gtest.h>

namespace korvela {
namespace {

struct FamilyCase {
  const char* model;
  uint32_t family;
};

TEST(ModelTableTest, EveryListedModelFindsItsFamily) {
  const FamilyCase cases[] = {
      {"IQD30", 1},  {"IQ030", 1},  {"IQA30", 1},  {"IQM30", 1},  {"IQD31", 2},  {"IQ031", 2},
      {"IQM31", 2},  {"IQA31", 2},  {"IQ761", 2},  {"IQ861", 2},  {"IQA84N", 2}, {"IQ763W", 4},
      {"IQ863W", 4}, {"IQA33W", 4}, {"IQA33N", 5}, {"IQ763N", 5}, {"IQ863N", 5}, {"IQA35", 6},
      {"IQ765", 6},  {"IQ865", 6},  {"IQ042", 3},  {"IQ511", 3},  {"", 3},
  };
  for (const auto& c : cases) EXPECT_EQ(ModelFamily(c.model), c.family) << c.model;
}

TEST(ModelTableTest, FamilyMatchesAsSubstringAndFirstRowWins) {
  EXPECT_EQ(ModelFamily("IQA35NI-B2"), 6u);
  EXPECT_EQ(ModelFamily("IQeye IQ765"), 6u);
  // "IQ763N" must not be taken for a family-4 "IQ763W" or vice versa.
  EXPECT_EQ(ModelFamily("IQ763"), 3u);
  // Both a family-1 and a family-6 text: family 1 is searched first.
  EXPECT_EQ(ModelFamily("IQ765-IQA30"), 1u);
  // Case matters: the device writes model names in capitals.
  EXPECT_EQ(ModelFamily("iq765"), 3u);
}

TEST(ModelTableTest, CameraGroupRules) {
  // Group 1 is decided by the name alone; the mode value does not matter.
  EXPECT_EQ(CameraGroup("IQ041S", "mode5"), 1u);
  EXPECT_EQ(CameraGroup("IQD42", ""), 1u);
  EXPECT_EQ(CameraGroup("IQ541", "none"), 1u);
  // A mode name: by family.
  EXPECT_EQ(CameraGroup("IQA30", "mode9"), 3u);
  EXPECT_EQ(CameraGroup("IQ763W", "mode1"), 4u);
  EXPECT_EQ(CameraGroup("IQ863N", "mode1"), 4u);
  EXPECT_EQ(CameraGroup("IQ765", "mode17"), 4u);
  EXPECT_EQ(CameraGroup("IQ031", "mode2"), 2u);
  EXPECT_EQ(CameraGroup("IQ511", "mode2"), 2u);
  // No mode name.
  EXPECT_EQ(CameraGroup("IQ765", ""), 0u);
  EXPECT_EQ(CameraGroup("IQ511", "full"), 0u);
  EXPECT_EQ(CameraGroup("IQ765", "MODE5"), 0u);
}

TEST(ModelTableTest, ModeCameraGroupPerFamily) {
  EXPECT_EQ(ModeCameraGroup(1), 3u);
  EXPECT_EQ(ModeCameraGroup(2), 2u);
  EXPECT_EQ(ModeCameraGroup(3), 2u);
  EXPECT_EQ(ModeCameraGroup(4), 4u);
  EXPECT_EQ(ModeCameraGroup(5), 4u);
  EXPECT_EQ(ModeCameraGroup(6), 4u);
}

TEST(ModelTableTest, ResolutionKeyPutsHeightAbove) {
  EXPECT_EQ(ResolutionKey(1920, 1080), (1080u << 16) | 1920u);
  EXPECT_NE(ResolutionKey(720, 480), ResolutionKey(480, 720));
}

TEST(ModelTableTest, MotionJpegModeNamesPairWithTheirTables) {
  using S = VideoModeStream;
  EXPECT_EQ(VideoModeName(S::kMotionJpeg, 3, 720, 480), "mode9");
  EXPECT_EQ(VideoModeName(S::kMotionJpeg, 3, 352, 240), "mode11");
  EXPECT_EQ(VideoModeName(S::kMotionJpeg, 2, 1920, 1080), "mode5");
  EXPECT_EQ(VideoModeName(S::kMotionJpeg, 2, 1280, 720), "mode2");
  EXPECT_EQ(VideoModeName(S::kMotionJpeg, 2, 720, 480), "mode6");
  const char* c_names[] = {"mode17", "mode18", "mode19", "mode5",
                           "mode20", "mode21", "mode2",  "mode6"};
  for (size_t i = 0; i < kSizeTableC.size(); ++i) {
    EXPECT_EQ(VideoModeName(S::kMotionJpeg, 4, kSizeTableC[i].width, kSizeTableC[i].height),
              c_names[i]);
  }
}

TEST(ModelTableTest, H264ModeNamesPairWithTheirTables) {
  using S = VideoModeStream;
  EXPECT_EQ(VideoModeName(S::kH264, 3, 720, 480), "mode9");
  EXPECT_EQ(VideoModeName(S::kH264, 3, 352, 240), "mode10");
  EXPECT_EQ(VideoModeName(S::kH264, 2, 1920, 1080), "mode1");
  EXPECT_EQ(VideoModeName(S::kH264, 2, 1280, 720), "mode2");
  EXPECT_EQ(VideoModeName(S::kH264, 2, 720, 480), "mode11");
  const char* c_names[] = {"mode12", "mode13", "mode14", "mode1",
                           "mode15", "mode16", "mode2",  "mode11"};
  for (size_t i = 0; i < kSizeTableC.size(); ++i) {
    EXPECT_EQ(VideoModeName(S::kH264, 4, kSizeTableC[i].width, kSizeTableC[i].height), c_names[i]);
  }
}

TEST(ModelTableTest, GroupsOutsideTwoAndFourUseTableA) {
  for (uint32_t group : {0u, 1u, 3u, 7u}) {
    EXPECT_EQ(VideoModeName(VideoModeStream::kH264, group, 352, 240), "mode10") << group;
    EXPECT_EQ(VideoModeName(VideoModeStream::kMotionJpeg, group, 1920, 1080), "") << group;
  }
}

TEST(ModelTableTest, UnknownOrSwappedSizesHaveNoMode) {
  EXPECT_EQ(VideoModeName(VideoModeStream::kMotionJpeg, 2, 640, 480), "");
  EXPECT_EQ(VideoModeName(VideoModeStream::kMotionJpeg, 2, 1080, 1920), "");
  // Sizes that would alias a table key when truncated to 16 bits.
  EXPECT_EQ(VideoModeName(VideoModeStream::kH264, 2, 1920 + 0x10000, 1080), "");
  EXPECT_EQ(VideoModeName(VideoModeStream::kH264, 2, 0, 0), "");
}

}  // namespace
}  // namespace korvela
