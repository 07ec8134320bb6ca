#include "channels/mjpeg_stream_config.h"

#include <gtest/gtest.h>

#include "util/testing/foreign_locale.h"

namespace korvela {
namespace {

TEST(MjpegStreamConfigTest, Group0On1280x1024SensorCropsConfiguresAndDownscales) {
  const MjpegRequests r = BuildMjpegRequests({25, 50, 640, 512}, 0, "1280x1024");
  ASSERT_TRUE(r.crop.has_value());
  EXPECT_EQ(*r.crop, "/set.oid?OidTR1.2.6.1=0&OidTR1.2.6.4=0&OidTR1.2.6.2=1280&OidTR1.2.6.3=1024");
  EXPECT_EQ(r.configure, "/set.oid?OidTR1.2.7=58&OidTR1.2.31=40");
  EXPECT_EQ(r.after_configure, "/set.oid?OidTR1.17.2.19.3.2=40");
  EXPECT_EQ(r.stream_path, "/now.jpg?snap=spush0.03&ds=2");
}

TEST(MjpegStreamConfigTest, QualityIsScaledAndHeldWithin13And90) {
  EXPECT_EQ(JpegQualityOidValue(0), 13u);
  EXPECT_EQ(JpegQualityOidValue(50), 58u);
  EXPECT_EQ(JpegQualityOidValue(86), 90u);           // 77 + 13
  EXPECT_EQ(JpegQualityOidValue(100), 90u);          // 103 limited
  EXPECT_EQ(JpegQualityOidValue(0xFFFFFFFFu), 90u);  // no wrap-around
  EXPECT_EQ(BuildMjpegRequests({25, 0, 640, 480}, 0, "").configure,
            "/set.oid?OidTR1.2.7=13&OidTR1.2.31=40");
  EXPECT_EQ(BuildMjpegRequests({25, 100, 640, 480}, 0, "").configure,
            "/set.oid?OidTR1.2.7=90&OidTR1.2.31=40");
}

TEST(MjpegStreamConfigTest, ZeroFpsGivesInterval1AndPeriod000AndClosedValue2) {
  const MjpegRequests r = BuildMjpegRequests({0, 50, 720, 480}, 2, "");
  EXPECT_EQ(r.configure, "/set.oid?OidTR1.17.2.6=mode6&OidTR1.2.7=58&OidTR1.2.31=1");
  EXPECT_EQ(r.stream_path, "/now.jpg?snap=spush0.00");
  EXPECT_EQ(StreamClosedRequest(0), "/set.oid?OidTR1.17.2.19.3.2=2");
  EXPECT_EQ(StreamClosedRequest(25), "/set.oid?OidTR1.17.2.19.3.2=1");
  EXPECT_EQ(BuildMjpegRequests({5, 50, 640, 480}, 2, "").stream_path, "/now.jpg?snap=spush0.01");
}

TEST(MjpegStreamConfigTest, SensorSizeIsTwoPlainNumbers) {
  EXPECT_EQ(ParseSensorSize("1280x1024"), (PictureSize{1280, 1024}));
  EXPECT_EQ(ParseSensorSize("65535x1"), (PictureSize{65535, 1}));
  for (const char* bad :
       {"1280x1024x2", "1280", "", "65536x1", "4294968576x1024", "1280px1024", " 1280x1024"}) {
    EXPECT_FALSE(ParseSensorSize(bad)) << bad;
  }
  const MjpegRequests r = BuildMjpegRequests({25, 50, 640, 480}, 0, "4294968576x1024");
  EXPECT_FALSE(r.crop.has_value());
  EXPECT_EQ(r.stream_path, "/now.jpg?snap=spush0.03&ds=1");
}

TEST(MjpegStreamConfigTest, RequestsDoNotDependOnTheProcessLocale) {
  testing::ScopedForeignLocale locale;
  if (!locale.ok()) GTEST_SKIP() << "no non-C locale: " << locale.why_not();
  const MjpegRequests r = BuildMjpegRequests({25, 50, 640, 512}, 0, "1280x1024");
  EXPECT_EQ(r.stream_path, "/now.jpg?snap=spush0.03&ds=2");
  EXPECT_EQ(*r.crop, "/set.oid?OidTR1.2.6.1=0&OidTR1.2.6.4=0&OidTR1.2.6.2=1280&OidTR1.2.6.3=1024");
  EXPECT_EQ(BuildMjpegRequests({15, 50, 1280, 720}, 2, "").stream_path, "/now.jpg?snap=spush0.01");
}

TEST(MjpegStreamConfigTest, DownscaleNeverZeroNorDividesByZero) {
  EXPECT_EQ(DownscaleFactor(PictureSize{1280, 1024}, 1280), 1u);
  EXPECT_EQ(DownscaleFactor(PictureSize{1280, 1024}, 2000), 1u);
  EXPECT_EQ(DownscaleFactor(PictureSize{2560, 1920}, 640), 4u);
  EXPECT_EQ(DownscaleFactor(PictureSize{1280, 1024}, 0), 1u);
  EXPECT_EQ(DownscaleFactor(std::nullopt, 640), 1u);
}

TEST(MjpegStreamConfigTest, ModeNameComesFromTheGroupsMotionJpegTable) {
  // Group 3 (table A) with a size it does not list: empty mode value.
  EXPECT_EQ(BuildMjpegRequests({25, 50, 1280, 1024}, 3, "1280x1024").configure,
            "/set.oid?OidTR1.17.2.6=&OidTR1.2.7=58&OidTR1.2.31=40");
  EXPECT_EQ(BuildMjpegRequests({25, 50, 720, 480}, 3, "").configure,
            "/set.oid?OidTR1.17.2.6=mode9&OidTR1.2.7=58&OidTR1.2.31=40");
  EXPECT_EQ(BuildMjpegRequests({25, 50, 1920, 1080}, 2, "").configure,
            "/set.oid?OidTR1.17.2.6=mode5&OidTR1.2.7=58&OidTR1.2.31=40");
  EXPECT_EQ(BuildMjpegRequests({25, 50, 2592, 1944}, 4, "").configure,
            "/set.oid?OidTR1.17.2.6=mode17&OidTR1.2.7=58&OidTR1.2.31=40");
  // Groups that select modes get neither a cropping window nor ds.
  const MjpegRequests r = BuildMjpegRequests({25, 50, 1920, 1080}, 4, "2592x1944");
  EXPECT_FALSE(r.crop.has_value());
  EXPECT_EQ(r.stream_path, "/now.jpg?snap=spush0.03");
}

TEST(MjpegStreamConfigTest, Group1CropsButHasNoDownscale) {
  const MjpegRequests r = BuildMjpegRequests({10, 50, 640, 480}, 1, "1280x960");
  ASSERT_TRUE(r.crop.has_value());
  EXPECT_EQ(r.configure, "/set.oid?OidTR1.2.7=58&OidTR1.2.31=100");
  EXPECT_EQ(r.stream_path, "/now.jpg?snap=spush0.01");
}

TEST(MjpegStreamConfigTest, FrameRateRequestWritesTheInterval) {
  EXPECT_EQ(FrameRateRequest(25), "/set.oid?OidTR1.2.31=40");
  EXPECT_EQ(FrameRateRequest(0), "/set.oid?OidTR1.2.31=1");
}

}  // namespace
}  // namespace korvela
