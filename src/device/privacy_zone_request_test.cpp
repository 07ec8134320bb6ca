#include "device/privacy_zone_request.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace korvela {
namespace {

TEST(PrivacyZoneRequestTest, MaximumResolutionIsTwoPlainNumbers) {
  struct Case {
    const char* text;
    int width;
    int height;
  };
  const Case cases[] = {
      {"1280x1024", 1280, 1024},
      {"1048576x1", 1048576, 1},  // kMaxPictureExtent
      {"1048577x1", 0, 0},
      {"4294968576x720", 0, 0},  // atoi read 1280
      {" 800x 600", 0, 0},
      {"1280px1024", 0, 0},
      {"x1024", 0, 0},
      {"1280x", 0, 0},
      {"1280", 0, 0},
      {"1280x1024x3", 0, 0},
      {"", 0, 0},
      {"(none)", 0, 0},
  };
  for (const auto& c : cases) {
    ZonePictureSize size = ParseMaximumResolution(c.text);
    EXPECT_EQ(size.width, c.width) << c.text;
    EXPECT_EQ(size.height, c.height) << c.text;
  }
}

TEST(PrivacyZoneRequestTest, ZoneWritePaths) {
  struct Case {
    uint32_t number;
    PrivacyZoneRecord zone;
    ZonePictureSize picture;
    const char* path;
  };
  const Case cases[] = {
      // Edges in per cent of the picture, truncated to pixels.
      {1,
       {0, 0, 1, 10.0f, 20.0f, 50.0f, 60.0f},
       {1280, 1024},
       "/set.oid?OidTB1.2.26.1.1.1=128&OidTB1.2.26.1.2.1=204&"
       "OidTB1.2.26.1.3.1=640&OidTB1.2.26.1.4.1=614"},
      // The zone number names every table element.
      {32,
       {0, 0, 1, 0.0f, 0.0f, 100.0f, 100.0f},
       {640, 480},
       "/set.oid?OidTB1.2.26.1.1.32=0&OidTB1.2.26.1.2.32=0&"
       "OidTB1.2.26.1.3.32=640&OidTB1.2.26.1.4.32=480"},
      // Without a picture size every edge is 0.
      {2,
       {0, 0, 1, 10.0f, 20.0f, 50.0f, 60.0f},
       ParseMaximumResolution("unknown"),
       "/set.oid?OidTB1.2.26.1.1.2=0&OidTB1.2.26.1.2.2=0&"
       "OidTB1.2.26.1.3.2=0&OidTB1.2.26.1.4.2=0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BuildZoneWritePath(c.number, c.zone, c.picture), c.path);
  }
  EXPECT_EQ(BuildMaskingOnPath(), "/set.oid?OidTB1.2.26.4=ON");
}

TEST(PrivacyZoneRequestTest, PercentagesOutsideTheRangeAreClamped) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(PercentToPixels(1000, 33.3f), 333);
  EXPECT_EQ(PercentToPixels(1024, 99.99f), 1023);
  EXPECT_EQ(PercentToPixels(1000, -5.0f), 0);
  EXPECT_EQ(PercentToPixels(1000, 250.0f), 1000);
  EXPECT_EQ(PercentToPixels(1000, 1e30f), 1000);
  EXPECT_EQ(PercentToPixels(1000, inf), 1000);
  EXPECT_EQ(PercentToPixels(1000, -inf), 0);
  EXPECT_EQ(PercentToPixels(1000, nan), 0);
  EXPECT_EQ(PercentToPixels(-1280, 50.0f), 0);
  EXPECT_EQ(PercentToPixels(std::numeric_limits<int>::max(), 100.0f), kMaxPictureExtent);
}

TEST(PrivacyZoneRequestTest, SameZoneComparesAllSevenValues) {
  const PrivacyZoneRecord base{7, 9, 1, 1.0f, 2.0f, 3.0f, 4.0f};
  EXPECT_TRUE(SameZone(base, base));
  auto differs = [&](auto change) {
    PrivacyZoneRecord other = base;
    change(other);
    return !SameZone(base, other);
  };
  EXPECT_TRUE(differs([](auto& z) { z.attribute1 = 8; }));
  EXPECT_TRUE(differs([](auto& z) { z.attribute2 = 8; }));
  EXPECT_TRUE(differs([](auto& z) { z.enabled = 0; }));
  EXPECT_TRUE(differs([](auto& z) { z.left = 1.5f; }));
  EXPECT_TRUE(differs([](auto& z) { z.top = 2.5f; }));
  EXPECT_TRUE(differs([](auto& z) { z.right = 3.5f; }));
  EXPECT_TRUE(differs([](auto& z) { z.bottom = 4.5f; }));
  // A NaN edge given again unchanged is the same zone, not a change forever.
  PrivacyZoneRecord with_nan = base;
  with_nan.left = std::nanf("");
  EXPECT_TRUE(SameZone(with_nan, with_nan));
}

}  // namespace
}  // namespace korvela
