#include "device/privacy_zone_quarno.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/testing/fake_driver.h"
#include "platform/testing/scripted_server.h"
#include "recorder/video_params.h"

namespace korvela {
namespace {

using testing::FakeDriver;
using testing::HttpReply;
using testing::ScriptedServer;
using testing::ScriptStep;

constexpr uint32_t kWaitMs = 20'000;

ScriptStep Ok() { return HttpReply(testing::HttpResponse("OK")); }

recorder::VideoParams Zones(std::vector<recorder::ZoneSpec> zones) {
  recorder::VideoParams list;
  list.SetZones(zones);
  return list;
}

recorder::ZoneSpec Zone(float l, float t, float r, float b, uint32_t enabled = 1) {
  return {0, 0, enabled, l, t, r, b};
}

struct Camera {
  Camera() {
    driver.device.address = "127.0.0.1";
    driver.device.port = server.port();
    driver.device.connect_timeout_ms = 2000;
    driver.SetParameter(6, "1280x1024");
  }
  ScriptedServer server;
  FakeDriver driver;
};

// Masking first, then each enabled zone under its own number (the path texts
// are the request builder's test's).
TEST(QuarnoPrivacyZoneTest, ZonesAreWrittenInCameraPixelsUnderTheirNumber) {
  Camera camera;
  camera.server.AddConnection({Ok(), Ok(), Ok()});
  CQuarnoPrivacyZone zones(&camera.driver);
  auto list = Zones({Zone(10, 20, 50, 60), Zone(0, 0, 20, 20, 0), Zone(50, 50, 100, 100)});
  zones.SetZones(&list);
  EXPECT_TRUE(zones.Apply());
  ASSERT_TRUE(camera.server.WaitForRequests(3, kWaitMs));
  EXPECT_EQ(camera.server.Targets(),
            (std::vector<std::string>{
                "/set.oid?OidTB1.2.26.4=ON",
                "/set.oid?OidTB1.2.26.1.1.1=128&OidTB1.2.26.1.2.1=204&OidTB1.2.26.1.3.1=640&"
                "OidTB1.2.26.1.4.1=614",
                "/set.oid?OidTB1.2.26.1.1.3=640&OidTB1.2.26.1.2.3=512&OidTB1.2.26.1.3.3=1280&"
                "OidTB1.2.26.1.4.3=1024"}));
  EXPECT_TRUE(camera.driver.log.Lines().empty());
}

TEST(QuarnoPrivacyZoneTest, UnreachableCameraEndsThePassSilently) {
  Camera camera;  // no script: every connection is closed at once
  CQuarnoPrivacyZone zones(&camera.driver);
  auto list = Zones({Zone(1, 1, 2, 2), Zone(3, 3, 4, 4), Zone(5, 5, 6, 6)});
  zones.SetZones(&list);
  EXPECT_TRUE(zones.Apply());
  // Only the masking switch was tried; the three zone writes were skipped.
  ASSERT_TRUE(camera.server.WaitForClosedConnections(1, kWaitMs));
  EXPECT_EQ(camera.server.AcceptedConnections(), 1u);
  EXPECT_TRUE(camera.driver.log.Lines().empty());  // level 4: never logged

  // The next Apply tries again.
  camera.server.AddConnection({Ok(), Ok(), Ok(), Ok()});
  EXPECT_TRUE(zones.Apply());
  ASSERT_TRUE(camera.server.WaitForRequests(4, kWaitMs));
}

// A refused write is logged with its request and does not end the pass;
// repeated failures are throttled.
TEST(QuarnoPrivacyZoneTest, RefusedWritesAreLoggedThrottledAndApplyStillSucceeds) {
  Camera camera;
  std::vector<ScriptStep> steps;
  for (int i = 0; i < 16; ++i)
    steps.push_back(HttpReply(testing::HttpResponse("OK", "500 Internal Server Error")));
  camera.server.AddConnection(steps);
  CQuarnoPrivacyZone zones(&camera.driver);
  auto list = Zones({Zone(10, 20, 50, 60)});
  zones.SetZones(&list);
  EXPECT_TRUE(zones.Apply());
  EXPECT_EQ(camera.server.Requests().size(), 2u);
  EXPECT_EQ(camera.driver.log.Count("status code = 500", 1), 2u);
  EXPECT_TRUE(camera.driver.log.Contains("/set.oid?OidTB1.2.26.4=ON"));
  for (int i = 0; i < 7; ++i) zones.Apply();  // 16 failed requests
  EXPECT_EQ(camera.server.Requests().size(), 16u);
  // Which occurrences pass is LogThrottle's (log_throttle_test).
  EXPECT_LT(camera.driver.log.Count("status code = 500", 1), 16u);
}

}  // namespace
}  // namespace korvela
