// Signal loss of the Motion-JPEG channel against the camera simulator, with
// short time-outs in the channel's device description (so no test sleeps
// through the driver's 20 s): a simulator that keeps the connection but stops
// pushing is reported lost (status 2, OnSignalLost, the log line), and the
// channel comes back online by itself once pictures flow again.
#include <chrono>
#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "camsim/camsim.h"
#include "channels/mjpeg_channel_http.h"
#include "channels/sender_stream_link.h"
#include "core/testing/fake_driver.h"
#include "platform/clock.h"
#include "recorder/frame_allocator.h"
#include "recorder/frame_receiver.h"

namespace korvela {
namespace {

using namespace std::chrono_literals;

struct SignalLossFixture : ::testing::Test {
  void SetUp() override {
    camsim::SimulatorOptions options;
    options.camera.model = "IQ042";
    options.camera.auth = camsim::AuthMode::kBasic;
    std::string error;
    sim = camsim::Simulator::Start(options, &error);
    ASSERT_TRUE(sim) << error;
    driver.device.address = "127.0.0.1";
    driver.device.port = sim->camera(0).http_port();
    driver.device.user_name = "root";
    driver.device.password = "system";
    driver.device.connect_timeout_ms = 400;   // each HTTP wait, reads included
    driver.device.receive_timeout_ms = 1500;  // silence before the signal counts as lost
    driver.allocator = &allocator;
    driver.SetParameter(3, "0");
    driver.SetParameter(6, "1280x1024");
  }
  void TearDown() override {
    channel.reset();
    sim.reset();
  }

  void StartChannel() {
    channel =
        std::make_unique<CMjpegChannelHTTP>(&driver, 0, &receiver, MakeSenderStreamLink,
                                            platform::SystemClock(), HttpChannelTiming{200, 100});
    ASSERT_TRUE(channel->Start({25, 50, 640, 480}));
  }

  camsim::Camera& camera() { return sim->camera(0); }

  std::unique_ptr<camsim::Simulator> sim;
  testing::FakeDriver driver;
  recorder::FrameAllocator allocator;
  recorder::FrameReceiver receiver{/*keep=*/16};
  std::unique_ptr<CMjpegChannelHTTP> channel;
};

TEST_F(SignalLossFixture, SilentSimulatorIsReportedLostAndRecovers) {
  StartChannel();
  ASSERT_TRUE(receiver.WaitForFrames(5, 20s));
  EXPECT_EQ(channel->GetState(), kChannelReceiving);

  camera().InjectFault({camsim::Fault::Kind::kStopMedia, 0});
  ASSERT_TRUE(receiver.WaitForSignalLost(1, 30s));
  EXPECT_NE(channel->GetState(), kChannelStopped);

  camera().ClearFault(camsim::Fault::Kind::kStopMedia);
  const size_t before = receiver.frame_count();
  ASSERT_TRUE(receiver.WaitForFrames(before + 5, 30s));
  // Online, lost, online again (the exact lines are base_camera_channel_test's).
  EXPECT_EQ(driver.log.Count("is online", 3), 2u);
  EXPECT_EQ(driver.log.Count("Signal was lost for camera 127.0.0.1", 1), 1u);
  EXPECT_EQ(channel->GetState(), kChannelReceiving);

  channel->Stop();
  EXPECT_EQ(channel->GetState(), kChannelStopped);
  EXPECT_EQ(allocator.live_video(), 0u);
}

}  // namespace
}  // namespace korvela
