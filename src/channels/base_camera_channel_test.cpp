#include "channels/base_camera_channel.h"

#include <atomic>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/testing/fake_driver.h"

namespace korvela {
namespace {

// A channel whose worker parks on its stop event (or on `unblock`, which
// OnStopping sets, like closing a blocked request); the test drives the rest.
class TestChannel : public CBaseCameraChannel {
 public:
  using CBaseCameraChannel::CBaseCameraChannel;
  ~TestChannel() override { Stop(); }

  using CBaseCameraChannel::ForwardFrame;
  using CBaseCameraChannel::SetCameraState;
  using CBaseCameraChannel::SetStatus;
  using CBaseCameraChannel::StopWorker;

  std::atomic<int> runs{0};
  std::atomic<bool> accept_frame_rate{true};
  std::atomic<bool> accept_resolution{true};
  std::vector<std::string> calls;  // recorder thread only
  // Worker behaviour: 0 park on stop event, 1 ignore stop for `stubborn_ms`,
  // 2 block on `unblock` only.
  std::atomic<int> mode{0};
  uint32_t stubborn_ms = 0;
  CManualEvent unblock;
  CManualEvent ignored;  // never set
  std::atomic<bool> unblocked_by_stop{false};
  std::atomic<bool> stopped_itself{false};
  std::atomic<bool> stop_self{false};

 protected:
  uint32_t Run() override {
    ++runs;
    if (stop_self) {
      SetStatus(kChannelStopped);
      StopWorker();  // must not wait for itself
      stopped_itself = true;
      return 0;
    }
    switch (mode.load()) {
      case 1:
        ignored.Wait(stubborn_ms);  // deaf to the stop for a while
        break;
      case 2:
        unblocked_by_stop = unblock.Wait(30000);
        break;
      default:
        stop_event().Wait(platform::kInfinite);
    }
    return 0;
  }
  bool SetFrameRate(uint32_t fps) override {
    calls.push_back("SetFrameRate " + std::to_string(fps));
    return accept_frame_rate;
  }
  bool SetResolution(uint32_t w, uint32_t h) override {
    calls.push_back("SetResolution " + std::to_string(w) + "x" + std::to_string(h));
    return accept_resolution;
  }
  void OnStopping() override { unblock.Set(); }
  bool OnStarting() override {
    unblock.Reset();
    return true;
  }
};

struct ChannelFixture : ::testing::Test {
  ChannelFixture() { driver.device.address = "10.0.0.5"; }
  testing::FakeDriver driver;
};

TEST_F(ChannelFixture, StartRunsTheWorkerAndStopEndsItWithStatusStopped) {
  TestChannel channel(0, &driver, nullptr);
  EXPECT_EQ(channel.GetState(), kChannelStopped);
  ASSERT_TRUE(channel.Start({25, 50, 640, 480}));
  EXPECT_EQ(channel.GetSettings(), (StreamSettings{25, 50, 640, 480}));
  channel.SetStatus(kChannelReceiving);
  channel.Stop();
  EXPECT_EQ(channel.GetState(), kChannelStopped);
  EXPECT_EQ(channel.runs, 1);
  // A second stop is harmless.
  channel.Stop();
  EXPECT_TRUE(driver.log.Lines().empty());  // never online: nothing to log
}

TEST_F(ChannelFixture, StartOnARunningOnlineChannelStopsItFirst) {
  TestChannel channel(0, &driver, nullptr);
  ASSERT_TRUE(channel.Start({25, 50, 640, 480}));
  channel.SetStatus(kChannelReceiving);
  channel.SetCameraState(true);
  ASSERT_TRUE(channel.Start({10, 70, 320, 240}));
  EXPECT_EQ(channel.GetSettings(), (StreamSettings{10, 70, 320, 240}));
  EXPECT_TRUE(driver.log.HasLine(
      3,
      "korvela::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is offline. Channel was "
      "stopped"));
  channel.Stop();
  EXPECT_EQ(channel.runs, 2);
}

TEST_F(ChannelFixture, ChangeSettingsAppliesRateThenSizeAndIgnoresQuality) {
  TestChannel channel(0, &driver, nullptr);
  ASSERT_TRUE(channel.Start({25, 50, 640, 480}));

  EXPECT_TRUE(channel.ChangeSettings({25, 90, 640, 480}));
  EXPECT_TRUE(channel.calls.empty());
  EXPECT_EQ(channel.GetSettings().quality, 50u);

  channel.accept_resolution = false;
  EXPECT_FALSE(channel.ChangeSettings({10, 0, 1280, 1024}));
  EXPECT_THAT(channel.calls, ::testing::ElementsAre("SetFrameRate 10", "SetResolution 1280x1024"));
  EXPECT_EQ(channel.GetSettings(), (StreamSettings{10, 50, 640, 480}));

  channel.calls.clear();
  channel.accept_frame_rate = false;
  channel.accept_resolution = true;
  EXPECT_FALSE(channel.ChangeSettings({5, 0, 320, 240}));
  EXPECT_THAT(channel.calls, ::testing::ElementsAre("SetFrameRate 5"));  // size not tried
  EXPECT_EQ(channel.GetSettings(), (StreamSettings{10, 50, 640, 480}));

  channel.calls.clear();
  EXPECT_TRUE(channel.ChangeSettings({10, 0, 320, 240}));
  EXPECT_EQ(channel.GetSettings(), (StreamSettings{10, 50, 320, 240}));
}

TEST_F(ChannelFixture, SingleInputDeviceIsNamedCameraAndLogsEachTransitionOnce) {
  TestChannel channel(0, &driver, nullptr);
  channel.SetStatus(kChannelReceiving);
  channel.SetCameraState(true);
  channel.SetCameraState(true);
  channel.SetStatus(kChannelSignalLost);
  channel.SetCameraState(false);
  channel.SetCameraState(false);
  channel.SetCameraState(true);
  channel.SetStatus(7);
  channel.SetCameraState(false);
  const std::string origin = "korvela::CBaseCameraChannel::SetCameraState: ";
  std::vector<testing::LogLine> expected = {
      {3, origin + "Camera 10.0.0.5 is online"},
      {1, origin + "Signal was lost for camera 10.0.0.5"},
      {3, origin + "Camera 10.0.0.5 is online"},
      {1, origin + "Camera 10.0.0.5 is offline or failed"},
  };
  const auto lines = driver.log.Lines();
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].level, expected[i].level) << i;
    EXPECT_EQ(lines[i].text, expected[i].text) << i;
  }
}

TEST_F(ChannelFixture, VideoServerInputIsNamedWithItsZeroBasedIndex) {
  driver.channel_count = 4;
  TestChannel channel(2, &driver, nullptr);
  channel.SetCameraState(true);
  channel.SetStatus(kChannelSignalLost);
  channel.SetCameraState(false);
  EXPECT_TRUE(driver.log.HasLine(3,
                                 "korvela::CBaseCameraChannel::SetCameraState: Video-server "
                                 "10.0.0.5 (channel 2) is online"));
  EXPECT_TRUE(driver.log.HasLine(1,
                                 "korvela::CBaseCameraChannel::SetCameraState: Signal was lost "
                                 "for video-server 10.0.0.5 (channel 2)"));
}

TEST_F(ChannelFixture, StopUnblocksTheWorkerThroughOnStopping) {
  TestChannel channel(0, &driver, nullptr);
  channel.mode = 2;
  ASSERT_TRUE(channel.Start({25, 50, 640, 480}));
  channel.Stop();
  EXPECT_TRUE(channel.unblocked_by_stop);
  EXPECT_TRUE(driver.log.Lines().empty());  // joined in time: no warning
}

TEST_F(ChannelFixture, SlowWorkerIsWaitedForNeverTerminated) {
  driver.device.connect_timeout_ms = 1;  // the join gives up after 2 ms
  TestChannel channel(0, &driver, nullptr);
  channel.mode = 1;
  channel.stubborn_ms = 200;  // ignores the stop, then returns on its own
  ASSERT_TRUE(channel.Start({25, 50, 640, 480}));
  channel.Stop();
  // The worker ran to its own end: the warning, then the confirmation.
  const auto lines = driver.log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, 2u);
  EXPECT_THAT(lines[0].text, ::testing::MatchesRegex(
                                 "korvela::CBaseCameraChannel::StopWorker: Thread \\(id=[0-9]+, "
                                 "name=\"Video input 0\"\\) was not stopped during 2 "
                                 "milliseconds"));
  EXPECT_EQ(lines[1].level, 3u);
  EXPECT_THAT(lines[1].text, ::testing::HasSubstr("was stopped correctly"));
  // It can be started again afterwards.
  channel.mode = 0;
  EXPECT_TRUE(channel.Start({25, 50, 640, 480}));
  channel.Stop();
  EXPECT_EQ(channel.runs, 2);
}

TEST_F(ChannelFixture, WorkerStoppingItselfDoesNotWaitForItself) {
  TestChannel channel(0, &driver, nullptr);
  channel.stop_self = true;
  ASSERT_TRUE(channel.Start({25, 50, 640, 480}));
  channel.Stop();  // reaps the worker that has ended
  EXPECT_TRUE(channel.stopped_itself);
}

struct CountingReceiver : ipcapture::IFrameReceiver {
  bool OnFrame(ipcapture::IVideoFrame*) override { return ++frames, accept; }
  void OnSignalLost() override {}
  int frames = 0;
  bool accept = true;
};

TEST_F(ChannelFixture, ForwardFrameReportsTheReceiversVerdict) {
  TestChannel without(0, &driver, nullptr);
  EXPECT_FALSE(without.ForwardFrame(nullptr));
  CountingReceiver receiver;
  TestChannel with(0, &driver, &receiver);
  EXPECT_TRUE(with.ForwardFrame(nullptr));
  receiver.accept = false;
  EXPECT_FALSE(with.ForwardFrame(nullptr));
  EXPECT_EQ(receiver.frames, 2);
}

}  // namespace
}  // namespace korvela
