#include "media/h264_sps_parser.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace korvela {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(std::stoi(hex.substr(i, 2), 0, 16));
  return out;
}

// Sequence parameter sets as encoders wrote them (x264 through ffmpeg; see
// testdata/README.md for the first two). The scaling-list SPS is the x264
// 1080p SPS with four explicit lists added, checked with ffprobe and decoded
// by ffmpeg without errors.
struct SpsCase {
  const char* name;
  const char* hex;
  uint32_t width, height;
};
const SpsCase kSpsCases[] = {
    {"baseline 640x480 (testdata)", "6742c01eda0280f6c044000003000400000300c83c58ba80", 640, 480},
    {"main 1280x720 (testdata)", "674d401feca02802dd80880000030008000003019078c18cb0", 1280, 720},
    // frame_mbs_only_flag 0, pic_height_in_map_units_minus1 17: 2 x 18 x 16.
    {"main 720x576 interlaced", "674d401eeca05a126c0440000003004000000c87c50a6580", 720, 576},
    // 68 map units of 16 field lines, bottom crop 2 in units of 4 lines: 1080.
    {"high 1920x1080 interlaced, cropped", "67640028acd94078044fde0220000003002000000643e2c5b2c0",
     1920, 1080},
    {"high 1920x1080 scaling lists, cropped",
     "67640028ad9470e1c387010c70e1c387010c70e1c4a3870e1c380863870e1c380863870e3142850a142850a1405b"
     "142850a142850a1405b142850a142850a1405b142850a142850a1405b142850a142850a1405b142850a142850a14"
     "05b1428562850a142850a14280b62850a142850a14280b62850a142850a14280b62850a142850a14280b62850a14"
     "2850a14280b62850a142850a14280b62850ad940780227e5c044000003000400000300c83c60c658",
     1920, 1080},
    // 4:2:2 crops whole lines, 4:4:4 and monochrome whole samples.
    {"high 4:2:2 1920x1080", "677a0028bcd940780227e27011000003000100000300320f183196", 1920, 1080},
    {"high 4:4:4 1920x1080", "67f40028919b280f0044fc4e0220000003002000000641e30632c0", 1920, 1080},
    {"high 4:0:0 1920x1080", "67640028f36501e0089f89c05b20000003002000000641e30632c0", 1920, 1080},
};

TEST(H264SpsParserTest, ReadsThePictureSizeEncodersMeant) {
  for (const SpsCase& c : kSpsCases) {
    const std::vector<uint8_t> sps = FromHex(c.hex);
    const auto size = ParseSpsPictureSize(sps);
    ASSERT_TRUE(size.has_value()) << c.name;
    EXPECT_EQ(*size, (H264PictureSize{c.width, c.height})) << c.name;
    // Bytes of a following NAL unit do not matter.
    std::vector<uint8_t> followed = sps;
    followed.insert(followed.end(), {0, 0, 1, 0x68, 0xCE, 0x3C, 0x80});
    EXPECT_EQ(ParseSpsPictureSize(followed), size) << c.name;
  }
}

TEST(H264SpsParserTest, RefusesWhatIsNoWholeSps) {
  // The scaling-list SPS: its cropping offsets end in byte 162.
  const std::vector<uint8_t> sps = FromHex(kSpsCases[4].hex);
  EXPECT_TRUE(ParseSpsPictureSize(std::span(sps).first(162)));
  for (const size_t cut : {1, 4, 60, 161}) {
    EXPECT_FALSE(ParseSpsPictureSize(std::span(sps).first(cut))) << cut;
  }
  std::vector<uint8_t> pps = sps;
  pps[0] = 0x68;
  EXPECT_FALSE(ParseSpsPictureSize(pps));
  EXPECT_FALSE(ParseSpsPictureSize({}));
  // Baseline, picture order type 2, 2^20 macroblocks wide: above the limit.
  EXPECT_FALSE(ParseSpsPictureSize(FromHex("6742001eda00000400003a")));
}

}  // namespace
}  // namespace korvela
