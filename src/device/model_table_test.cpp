#include "device/model_table.h"

#include <string>

#include <gtest/gtest.h>

namespace korvela {
namespace {

TEST(ModelTableTest, FamilyIsTheFirstRowWhoseTextOccursInTheName) {
  // The last four: anywhere in the name; "IQ763" is neither "IQ763W" nor
  // "IQ763N"; family 1 is searched first; the device writes names in capitals.
  const std::pair<const char*, uint32_t> cases[] = {
      {"IQM30", 1},       {"IQA84N", 2}, {"IQ863W", 4},     {"IQ763N", 5},      {"IQ865", 6},
      {"IQ042", 3},       {"", 3},       {"IQA35NI-B2", 6}, {"IQeye IQ765", 6}, {"IQ763", 3},
      {"IQ765-IQA30", 1}, {"iq765", 3}};
  for (const auto& [model, family] : cases) EXPECT_EQ(ModelFamily(model), family) << model;
}

TEST(ModelTableTest, CameraGroupByFixedSizeNameThenModeAndFamily) {
  const struct {
    const char* model;
    const char* mode;
    uint32_t group;
  } cases[] = {
      {"IQ041S", "mode5", 1}, {"IQD42", "", 1},       {"IQ541", "none", 1},  // the name alone
      {"IQA30", "mode9", 3},  {"IQ031", "mode2", 2},  {"IQ511", "mode2", 2},
      {"IQ763W", "mode1", 4}, {"IQ863N", "mode1", 4}, {"IQ765", "mode17", 4},
      {"IQ765", "", 0},       {"IQ511", "full", 0},   {"IQ765", "MODE5", 0},  // no mode name
  };
  for (const auto& c : cases)
    EXPECT_EQ(CameraGroup(c.model, c.mode), c.group) << c.model << " " << c.mode;
}

TEST(ModelTableTest, VideoModeNameLooksTheSizeUpInTheGroupsTableOfTheStream) {
  constexpr auto kJpeg = VideoModeStream::kMotionJpeg;
  constexpr auto kH264 = VideoModeStream::kH264;
  const struct {
    VideoModeStream stream;
    uint32_t group, width, height;
    const char* mode;
  } cases[] = {
      {kJpeg, 3, 720, 480, "mode9"},        {kH264, 3, 352, 240, "mode10"},
      {kJpeg, 2, 1920, 1080, "mode5"},      {kH264, 2, 1920, 1080, "mode1"},
      {kJpeg, 4, 2592, 1944, "mode17"},     {kH264, 4, 2592, 1944, "mode12"},
      {kH264, 4, 720, 480, "mode11"},       {kH264, 0, 352, 240, "mode10"},
      {kH264, 7, 352, 240, "mode10"},  // other groups: table A
      {kJpeg, 1, 1920, 1080, ""},           {kJpeg, 2, 640, 480, ""},
      {kJpeg, 2, 1080, 1920, ""},           {kH264, 2, 0, 0, ""},
      {kH264, 2, 1920 + 0x10000, 1080, ""},  // would alias a table key truncated to 16 bits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VideoModeName(c.stream, c.group, c.width, c.height), c.mode)
        << (c.stream == kJpeg ? "jpeg" : "h264") << " group " << c.group << " " << c.width << "x"
        << c.height;
  }
}

}  // namespace
}  // namespace korvela
