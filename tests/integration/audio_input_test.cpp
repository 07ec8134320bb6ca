// Audio input end to end: libveltrano.so's audio capture object receiving the
// simulator's microphone (PCMU over RTSP/RTP), and the channel itself with
// short time-outs losing and regaining the audio.
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "channels/audio_capture_channel.h"
#include "core/testing/fake_driver.h"
#include "recorder/audio_host.h"
#include "sim_driver_fixture.h"

namespace {

using namespace std::chrono_literals;
using korvela::recorder::StateReport;

constexpr auto kWait = 60s;  // generous: a loaded 2-core machine
constexpr uint32_t kKey = 1;

std::vector<uint8_t> Tone() {
  std::ifstream in(std::string(KORVELA_TESTDATA_DIR) + "/tone_440hz_8k.ul", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The simulator's microphone: its sample file, looped from the start.
std::vector<uint8_t> Looped(const std::vector<uint8_t>& tone, size_t size) {
  std::vector<uint8_t> out;
  while (out.size() < size) out.insert(out.end(), tone.begin(), tone.end());
  out.resize(size);
  return out;
}

std::vector<uint8_t> Joined(const std::vector<korvela::recorder::ReceivedAudio>& frames) {
  std::vector<uint8_t> all;
  for (const auto& f : frames) all.insert(all.end(), f.data.begin(), f.data.end());
  return all;
}

struct AudioInputFixture : korvela::testing::SimDriverFixture {
  void SetUp() override {
    StartCamera("IQ765", camsim::AuthMode::kDigest);
    setup.parameters[101] = "Count=1; IsStereo=0";
    setup.parameters[2] = std::to_string(camera().rtsp_port());
    ASSERT_TRUE(OpenDriver());
    capture = (*driver)->GetAudioCapture2();
    ASSERT_NE(capture, nullptr);
  }
  korvela::recorder::AudioFormatList formats;
  korvela::ipcapture::IIPAudioCapture2* capture = nullptr;
  korvela::recorder::AudioCallback callback;  // the driver goes first, in TearDown
};

// 30 s of the simulator's audio reach the recorder in order with nothing
// missing; the camera's microphone was switched on first.
TEST_F(AudioInputFixture, ThirtySecondsOfAudioArriveComplete) {
  sink.SetEcho(stderr);
  ASSERT_TRUE(capture->OpenChannel(kKey, 0, &callback, &formats));
  ASSERT_TRUE(callback.WaitForState(2, kWait));
  EXPECT_EQ(camera().GetOid("1.9.5"), "enabled");
  EXPECT_EQ(camera().GetOid("1.9.7"), "full");
  ASSERT_TRUE(callback.WaitForFrames(300, 90s));  // 300 x 100 ms
  camera().InjectFault({camsim::Fault::Kind::kStopMedia, 0});
  // A packet the pump was sending as the fault came is counted when its round ends.
  std::this_thread::sleep_for(200ms);
  const uint64_t sent = camera().counters().audio_packets_sent * 160;
  // The last packets in flight arrive; less than one frame (800 bytes) may
  // stay collected for want of a marker.
  ASSERT_TRUE(camera().WaitUntil([&] { return callback.frame_count() * 800 + 800 > sent; }, kWait));
  const auto frames = callback.Frames();
  ASSERT_EQ(frames.size(), callback.frame_count());  // none dropped by the recorder
  const std::vector<uint8_t> received = Joined(frames);
  EXPECT_EQ(received, Looped(Tone(), received.size()));
  EXPECT_LT(sent - received.size(), 800u);
  for (const auto& f : frames) {
    EXPECT_EQ(f.format, korvela::ipcapture::kAudioFormatMuLaw);
    EXPECT_EQ(f.sample_rate, 8000u);
    EXPECT_EQ(f.bit_rate, 64000u);
    EXPECT_EQ(f.channel, kKey);
    EXPECT_EQ(f.data.size(), 800u);
  }
  EXPECT_TRUE(sink.Contains("Audio signal from camera 127.0.0.1 is OK"));
  EXPECT_TRUE(capture->CloseChannel(kKey));
  EXPECT_EQ(callback.States(),
            (std::vector<StateReport>{{kKey, 1}, {kKey, 2}, {kKey, 3}, {kKey, 0}}));
  EXPECT_TRUE(sink.Contains("Audio channel was stopped for camera 127.0.0.1"));
}

// The channel itself with short time-outs: the camera goes silent, the audio
// is reported lost; it speaks again, the session is rebuilt and audio flows.
TEST(AudioInputLossTest, LossIsReportedAndTheSessionRecovers) {
  camsim::SimulatorOptions options;
  options.camera.auth = camsim::AuthMode::kBasic;
  std::string error;
  auto sim = camsim::Simulator::Start(options, &error);
  ASSERT_NE(sim, nullptr) << error;
  camsim::Camera& camera = sim->camera(0);
  korvela::testing::FakeDriver driver;
  driver.device.address = "127.0.0.1";
  driver.device.port = camera.http_port();
  driver.device.user_name = "root";
  driver.device.password = "system";
  driver.device.model = "IQ765";
  driver.device.connect_timeout_ms = 500;
  driver.device.receive_timeout_ms = 1500;
  driver.SetParameter(2, std::to_string(camera.rtsp_port()));
  korvela::recorder::FrameAllocator allocator;
  driver.allocator = &allocator;
  korvela::recorder::AudioCallback callback;
  korvela::recorder::AudioFormatList formats;
  korvela::CQuarnoAudioCaptureChannel channel(&driver, kKey, 0, &callback, &formats,
                                              korvela::platform::SystemClock(), {100, 100});
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(callback.WaitForFrames(5, kWait));

  camera.InjectFault({camsim::Fault::Kind::kStopMedia, 0});
  ASSERT_TRUE(callback.WaitForState(5, kWait));
  auto lost = [&] { return driver.log.Contains("Audio signal was lost for camera 127.0.0.1"); };
  for (int i = 0; i < 600 && !lost(); ++i) std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(lost());

  camera.ClearFault(camsim::Fault::Kind::kStopMedia);
  const size_t before = callback.frame_count();
  ASSERT_TRUE(callback.WaitForFrames(before + 5, kWait));
  EXPECT_EQ(channel.GetState(), 2u);
  EXPECT_EQ(driver.log.Count("Audio signal from camera 127.0.0.1 is OK"), 2u);
  EXPECT_TRUE(channel.Stop());
  EXPECT_EQ(channel.GetState(), 0u);
  const auto states = callback.States();
  ASSERT_GE(states.size(), 4u);
  EXPECT_EQ(states.front(), (StateReport{kKey, 1}));
  EXPECT_EQ(states[1], (StateReport{kKey, 2}));
  EXPECT_EQ(states.back(), (StateReport{kKey, 0}));
  EXPECT_EQ(allocator.live_audio(), 0u);
}

}  // namespace
