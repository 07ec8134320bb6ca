// Privacy zones end to end: libveltrano.so loaded as a recorder loads it,
// opened against the camera simulator on loopback. Digital I/O through the
// exports is io_cli_test's; its sequences are digital_io_test's.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/frame_receiver.h"
#include "recorder/video_params.h"
#include "sim_driver_fixture.h"

namespace {

using namespace std::chrono_literals;

// Generous bound for a loaded 2-core machine.
constexpr auto kWait = 20s;

bool HasWrite(const camsim::Camera& camera, const std::string& oid, const std::string& value) {
  for (const auto& w : camera.oid_writes())
    if (w.oid == oid && w.value == value && w.accepted) return true;
  return false;
}

struct IoDriverFixture : korvela::testing::SimDriverFixture {
  void SetUp() override {
    StartCamera("IQ765", camsim::AuthMode::kDigest);
    setup.parameters[7] = "1";  // privacy zones supported
  }
};

TEST_F(IoDriverFixture, PrivacyZonesAreWrittenBeforeTheStream) {
  ASSERT_NO_FATAL_FAILURE(OpenVideo());
  korvela::recorder::FrameReceiver receiver;
  korvela::recorder::VideoParams params(10, 80, 640, 480);
  params.SetZones({{0, 0, 1, 10, 20, 50, 60}, {0, 0, 0, 1, 1, 2, 2}, {0, 0, 1, 0, 0, 100, 100}});
  ASSERT_TRUE(video->StartChannel(0, &receiver, &params));
  EXPECT_TRUE(
      camera().WaitUntil([&] { return HasWrite(camera(), "1.2.26.1.4.3", "1024"); }, kWait));
  video->StopChannel(0);

  // Masking on, zones 1 and 3 written (their pixel values are the zone
  // writer's unit tests'), the disabled zone 2 not.
  EXPECT_EQ(camera().GetOid("1.2.26.4"), "ON");
  EXPECT_TRUE(HasWrite(camera(), "1.2.26.1.1.1", "128"));
  for (const auto& w : camera().oid_writes())
    EXPECT_FALSE(w.oid.starts_with("1.2.26.1.") && w.oid.ends_with(".2"))
        << "disabled zone 2 was written: " << w.oid;
}

}  // namespace
