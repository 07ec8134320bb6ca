#include "channels/audio_output_channel.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/testing/fake_driver.h"
#include "platform/testing/scripted_server.h"
#include "recorder/audio_host.h"
#include "recorder/frame_allocator.h"

namespace korvela {
namespace {

using namespace std::chrono_literals;
using recorder::StateReport;

constexpr auto kWait = 20s;  // bound for a correct build on a busy machine
constexpr uint32_t kMuLaw = ipcapture::kAudioFormatMuLaw;

// A camera on a scripted loopback peer, the recorder's objects and the
// channel under test (key 3), which goes first.
struct Talkback {
  explicit Talkback(const char* parameter_bit_rate = "64000",
                    const std::vector<recorder::FormatSpec>& offered = {{}})
      : formats(offered) {
    driver.device.address = "127.0.0.1";
    driver.device.port = server.port();
    driver.device.connect_timeout_ms = 15000;
    driver.allocator = &allocator;
    driver.SetParameter(ipcapture::kParamAudioBitRate, parameter_bit_rate);
    channel = std::make_unique<CQuarnoAudioOutputChannel>(&driver, 3, 0, &callback, &formats);
  }
  ~Talkback() { channel.reset(); }
  ipcapture::IAudioFrame* Frame(size_t bytes, uint32_t bit_rate = 64000) {
    const std::vector<uint8_t> data(bytes, 0x7F);
    return allocator.NewTalkbackFrame(data.data(), uint32_t(bytes), 3, bit_rate);
  }

  testing::ScriptedServer server;
  recorder::FrameAllocator allocator;
  testing::FakeDriver driver;
  recorder::AudioSenderCallback callback;
  recorder::AudioOutputFormatList formats;
  std::unique_ptr<CQuarnoAudioOutputChannel> channel;
};

// Before any preparation the agreed format is camera parameter 8's; a frame
// that does not match it stays the caller's, a queued one is released once.
TEST(QuarnoAudioOutputChannelTest, RefusedFramesStayWithTheCaller) {
  struct Case {
    uint32_t format, sample_rate;
    uint8_t stereo;
    uint32_t bit_rate;
    size_t bytes;
  };
  const Case refused_cases[] = {{kMuLaw, 16000, 0, 64000, 160},
                                {kMuLaw, 8000, 1, 64000, 160},
                                {kMuLaw, 8000, 0, 32000, 160},
                                {ipcapture::MakeFourCC('7', '1', '1', 'A'), 8000, 0, 64000, 160},
                                {kMuLaw, 8000, 0, 64000, 0}};
  Talkback t;
  recorder::AudioFormat format;
  ASSERT_TRUE(t.channel->GetAudioFormat(&format));
  EXPECT_EQ(format.bit_rate(), 64000u);
  EXPECT_TRUE(t.channel->SendFrame(t.Frame(160)));  // never started: it stays queued
  for (const Case& c : refused_cases) {
    ipcapture::IAudioFrame* frame = t.Frame(c.bytes, c.bit_rate);
    frame->SetFormatCode(c.format);
    frame->SetSampleFormat(c.sample_rate, 8, c.stereo);
    EXPECT_FALSE(t.channel->SendFrame(frame)) << c.sample_rate << " " << c.bit_rate;
    t.allocator.ReleaseAudioFrame(frame);
  }
  t.channel.reset();
  EXPECT_EQ(t.allocator.live_audio(), 0u);
  EXPECT_EQ(t.allocator.bad_releases(), 0u);
  EXPECT_FALSE(Talkback("1000").channel->GetAudioFormat(&format));
}

TEST(QuarnoAudioOutputChannelTest, NoUsableFormatOfferedIsStateFour) {
  Talkback t("64000", {{kMuLaw, false}, {ipcapture::MakeFourCC('7', '1', '1', 'A'), true}});
  ASSERT_TRUE(t.channel->Start());
  ASSERT_TRUE(t.callback.WaitForState(4, kWait));
  EXPECT_TRUE(t.channel->Stop());
  EXPECT_EQ(t.callback.States(), (std::vector<StateReport>{{3, 1}, {3, 4}, {3, 3}, {3, 0}}));
  EXPECT_EQ(t.server.AcceptedConnections(), 0u);
}

TEST(QuarnoAudioOutputChannelTest, StopEndsABlockedPreparationAndReleasesQueuedFrames) {
  Talkback t;
  t.server.AddConnection({testing::HangAfterRequest()});
  ASSERT_TRUE(t.channel->Start());
  ASSERT_TRUE(t.server.WaitForRequests(1, 20'000));
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(t.channel->SendFrame(t.Frame(4)));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(t.channel->Stop());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 7500ms);  // not the 15 s time-out
  EXPECT_EQ(t.allocator.live_audio(), 0u);
  ipcapture::IAudioFrame* late = t.Frame(1);
  EXPECT_FALSE(t.channel->SendFrame(late));  // stopped: stays the caller's
  t.allocator.ReleaseAudioFrame(late);
  EXPECT_EQ(t.allocator.bad_releases(), 0u);
  EXPECT_EQ(t.callback.States(), (std::vector<StateReport>{{3, 1}, {3, 3}, {3, 0}}));
}

}  // namespace
}  // namespace korvela
