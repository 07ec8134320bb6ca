// Signal loss of the H.264 channel against the camera simulator, with a short
// receive time-out in the channel's device description (no test sleeps
// through the driver's 20 s): a simulator that keeps the session but stops
// sending is reported as status 2 after half the time-out and as lost (the
// recorder's OnSignalLost, the log line) after the full one; the channel is
// back online by itself once frames flow again.
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "camsim/camsim.h"
#include "channels/h264_channel_rtsp.h"
#include "channels/sender_stream_link.h"
#include "core/testing/fake_driver.h"
#include "recorder/frame_allocator.h"
#include "recorder/frame_receiver.h"

namespace korvela {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(H264SignalLossTest, SilenceIsReportedInTwoStepsAndRecovered) {
  camsim::SimulatorOptions options;
  options.camera.model = "IQ031";
  options.camera.auth = camsim::AuthMode::kBasic;
  std::string error;
  auto sim = camsim::Simulator::Start(options, &error);
  ASSERT_TRUE(sim) << error;
  camsim::Camera& camera = sim->camera(0);

  testing::FakeDriver driver;
  recorder::FrameAllocator allocator;
  recorder::FrameReceiver receiver{/*keep=*/16};
  driver.device.port = camera.http_port();
  driver.device.user_name = "root";
  driver.device.password = "system";
  driver.device.connect_timeout_ms = 1000;
  driver.device.receive_timeout_ms = 4000;
  driver.allocator = &allocator;
  driver.SetParameter(2, std::to_string(camera.rtsp_port()));
  driver.SetParameter(3, "2");
  auto channel = std::make_unique<CH264ChannelRTSP>(
      &driver, 0, &receiver, MakeSenderStreamLink, platform::SystemClock(),
      RtpChannelTiming{.port_probe_ms = 200, .keep_alive_interval_ms = 30000, .pass_ms = 100});
  ASSERT_TRUE(channel->Start({25, 50, 1280, 720}));
  ASSERT_TRUE(receiver.WaitForFrames(5, 30s));
  EXPECT_EQ(channel->GetState(), kChannelReceiving);

  camera.InjectFault({camsim::Fault::Kind::kStopMedia, 0});
  const Clock::time_point silent = Clock::now();
  while (channel->GetState() == kChannelReceiving && Clock::now() - silent < 30s) {
    std::this_thread::sleep_for(20ms);
  }
  const auto status_two_after = Clock::now() - silent;
  EXPECT_EQ(receiver.signal_lost_count(), 0u);  // not yet: half the time-out has passed
  ASSERT_TRUE(receiver.WaitForSignalLost(1, 30s));
  const auto lost_after = Clock::now() - silent;
  EXPECT_GE(status_two_after, 1900ms);
  EXPECT_GE(lost_after, 3900ms);

  camera.ClearFault(camsim::Fault::Kind::kStopMedia);
  const size_t before = receiver.frame_count();
  ASSERT_TRUE(receiver.WaitForFrames(before + 5, 30s));
  EXPECT_EQ(driver.log.Count("Signal was lost for camera 127.0.0.1", 1), 1u);
  EXPECT_EQ(driver.log.Count("Camera 127.0.0.1 is online"), 2u);
  channel->Stop();
  EXPECT_EQ(channel->GetState(), kChannelStopped);
  EXPECT_EQ(allocator.live_video(), 0u);
}

}  // namespace
}  // namespace korvela
