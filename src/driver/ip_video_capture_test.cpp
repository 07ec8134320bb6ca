// The video capture object's table: limits, restarts, state reporting, and
// the life of a channel looked up while another thread stops it. Handing the
// zones to the privacy object is io_driver_test's, stopping the channels on
// deletion the driver's test.
#include "driver/ip_video_capture.h"

#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "core/testing/fake_camera_channel.h"
#include "core/testing/fake_driver.h"
#include "recorder/video_params.h"

namespace korvela {
namespace {

using testing::FakeCameraChannel;
using testing::FakeChannelProbe;

struct Fixture {
  testing::FakeDriver driver;
  std::vector<std::shared_ptr<FakeChannelProbe>> probes;
  bool start_result = true;
  uint32_t state = kChannelReceiving;

  Fixture() {
    driver.channel_count = 2;
    driver.SetVideoChannelFactory([this](uint32_t, ipcapture::IFrameReceiver*) -> ICameraChannel* {
      probes.push_back(std::make_shared<FakeChannelProbe>());
      return new FakeCameraChannel(probes.back(), start_result, state);
    });
  }
};

TEST(CIPVideoCapture, StartsWithSettingsAndRestartsAnInput) {
  Fixture f;
  CIPVideoCapture capture(2, &f.driver);
  recorder::VideoParams params(25, 70, 0x10500, 720);  // width beyond 16 bits
  EXPECT_EQ(capture.GetChannelCount(), 2u);
  EXPECT_FALSE(capture.StartChannel(2, nullptr, &params));
  EXPECT_EQ(f.driver.video_channels_created(), 0);

  ASSERT_TRUE(capture.StartChannel(1, nullptr, &params));
  ASSERT_EQ(f.probes.size(), 1u);
  EXPECT_EQ(f.probes[0]->started_with.at(0), (StreamSettings{25, 70, 0x0500, 720}));

  ASSERT_TRUE(capture.StartChannel(1, nullptr, &params));  // same input again
  ASSERT_EQ(f.probes.size(), 2u);
  EXPECT_EQ(f.probes[0]->stops, 1);
  EXPECT_FALSE(f.probes[0]->alive);
  EXPECT_TRUE(f.probes[1]->alive);

  EXPECT_TRUE(capture.StopChannel(1));
  EXPECT_FALSE(f.probes[1]->alive);
  EXPECT_FALSE(capture.StopChannel(1));
  EXPECT_FALSE(capture.StopChannel(7));
}

TEST(CIPVideoCapture, UnknownStreamTypeStartsNothing) {
  testing::FakeDriver driver;  // no channel factory: CreateVideoChannel gives null
  CIPVideoCapture capture(1, &driver);
  recorder::VideoParams params(10, 50, 640, 480);
  EXPECT_TRUE(capture.StartChannel(0, nullptr, &params));
  uint32_t status = 99;
  uint32_t error = 99;
  EXPECT_FALSE(capture.GetChannelState(0, &status, &error, nullptr, 0));
  EXPECT_EQ(error, 0u);
  EXPECT_FALSE(capture.StopChannel(0));
}

TEST(CIPVideoCapture, FailedStartStaysInTheTable) {
  Fixture f;
  f.start_result = false;
  f.state = kChannelStopped;
  CIPVideoCapture capture(2, &f.driver);
  recorder::VideoParams params;
  EXPECT_FALSE(capture.StartChannel(0, nullptr, &params));
  uint32_t status = 99;
  EXPECT_TRUE(capture.GetChannelState(0, &status, nullptr, nullptr, 0));
  EXPECT_EQ(status, kChannelSignalLost);  // stopped reads as signal lost
  EXPECT_TRUE(capture.StopChannel(0));
}

TEST(CIPVideoCapture, ChannelStateAndTextBuffer) {
  Fixture f;
  CIPVideoCapture capture(2, &f.driver);
  recorder::VideoParams params;
  ASSERT_TRUE(capture.StartChannel(0, nullptr, &params));
  char text[4] = {'a', 'b', 'c', 0};
  uint32_t status = 99;
  uint32_t error = 99;
  EXPECT_TRUE(capture.GetChannelState(0, &status, &error, text, 0));  // zero size: untouched
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(status, kChannelReceiving);
  EXPECT_EQ(error, 0u);
  EXPECT_FALSE(capture.GetChannelState(1, &status, &error, text, sizeof text));  // empty entry
  EXPECT_STREQ(text, "");  // cleared even when the input is not running
}

TEST(CIPVideoCapture, ChangeChannelPassesRateAndSize) {
  Fixture f;
  CIPVideoCapture capture(2, &f.driver);
  recorder::VideoParams params(5, 60, 640, 480);
  recorder::PictureSize size(1280, 720);
  EXPECT_FALSE(capture.ChangeChannel(0, &size, 15));  // not running
  ASSERT_TRUE(capture.StartChannel(0, nullptr, &params));
  EXPECT_TRUE(capture.ChangeChannel(0, &size, 15));
  EXPECT_EQ(f.probes[0]->changed_to.at(0), (StreamSettings{15, 0, 1280, 720}));
  EXPECT_FALSE(capture.ChangeChannel(0, nullptr, 15));
}

TEST(CIPVideoCapture, ChannelFoundUnderTheLockOutlivesAConcurrentStop) {
  Fixture f;
  CIPVideoCapture capture(2, &f.driver);
  recorder::VideoParams params;
  ASSERT_TRUE(capture.StartChannel(0, nullptr, &params));
  auto probe = f.probes[0];
  {
    std::lock_guard<std::mutex> lock(probe->mutex);
    probe->hold_state = true;
  }
  uint32_t status = 99;
  std::thread query([&] { capture.GetChannelState(0, &status, nullptr, nullptr, 0); });
  {
    std::unique_lock<std::mutex> lock(probe->mutex);
    probe->changed.wait(lock, [&] { return probe->in_get_state; });
  }
  // The query is inside GetState; stopping the input must not delete the
  // channel under it.
  EXPECT_TRUE(capture.StopChannel(0));
  {
    std::lock_guard<std::mutex> lock(probe->mutex);
    EXPECT_TRUE(probe->alive);
    probe->hold_state = false;
    probe->changed.notify_all();
  }
  query.join();
  EXPECT_FALSE(probe->alive);  // the query's reference was the last
  EXPECT_EQ(status, kChannelSignalLost);
}

}  // namespace
}  // namespace korvela
