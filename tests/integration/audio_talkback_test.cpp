// Talk-back end to end: libveltrano.so loaded as a recorder loads it, its
// audio sender streaming recorder frames to the camera simulator's POST sink.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/audio_host.h"
#include "sim_driver_fixture.h"

namespace {

using namespace std::chrono_literals;
using korvela::recorder::StateReport;

constexpr auto kWait = 60s;  // generous: a loaded 2-core machine
constexpr uint32_t kKey = 1;

struct TalkbackFixture : korvela::testing::SimDriverFixture {
  void SetUp() override {
    StartCamera("IQ765", camsim::AuthMode::kDigest);
    setup.parameters[101] = "Count=1; IsStereo=0";
    setup.parameters[102] = "Count=1; IsStereo=0";
    ASSERT_TRUE(OpenDriver());
    sender = (*driver)->GetAudioSender();
    ASSERT_NE(sender, nullptr);
  }

  // Opens the channel and waits until it sends; the bit rate agreed.
  uint32_t OpenSending() {
    EXPECT_TRUE(sender->OpenChannel(kKey, 0, &callback, &formats));
    EXPECT_TRUE(callback.WaitForState(2, kWait));
    korvela::recorder::AudioFormat format;
    EXPECT_TRUE(sender->GetAudioFormat(kKey, &format));
    return format.bit_rate();
  }

  bool Send(const std::vector<uint8_t>& bytes, uint32_t bit_rate) {
    auto* frame = allocator.NewTalkbackFrame(bytes.data(), static_cast<uint32_t>(bytes.size()),
                                             kKey, bit_rate);
    if (sender->SendAudioFrame(frame)) return true;
    allocator.ReleaseAudioFrame(frame);
    return false;
  }

  // Status of every talk-back POST the camera has seen end, in order; the
  // challenges the driver answered (401 before any body) left out.
  std::vector<int> Posts() {
    std::vector<int> statuses;
    for (const auto& r : camera().http_requests())
      if (r.target == "/audiorx.cgi" && r.status != 401) statuses.push_back(r.status);
    return statuses;
  }
  size_t EndedPosts() {
    size_t ended = 0;
    for (int status : Posts()) ended += status == 200;
    return ended;
  }

  korvela::recorder::AudioSenderCallback callback;
  korvela::recorder::AudioOutputFormatList formats;
  korvela::ipcapture::IIPAudioSender* sender = nullptr;
};

std::vector<uint8_t> Pattern(size_t frame, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(frame * 7 + i / 3);
  return bytes;
}

// More than one POST's declared length (999,999 bytes): the POST is re-opened
// with the frame that no longer fits, and the camera hears every byte in order
// with the password the driver wrote to 1.9.10.
TEST_F(TalkbackFixture, BytesArriveInOrderAcrossTheDeclaredLength) {
  const uint32_t bit_rate = OpenSending();
  EXPECT_EQ(bit_rate, 64000u);
  const std::string password = camera().GetOid("1.9.10").value_or("");
  EXPECT_EQ(password.size(), 10u);
  EXPECT_NE(password, "plume");
  bool written = false;
  for (const auto& w : camera().oid_writes())
    written |= w.oid == "1.9.10" && w.value == password && w.accepted;
  EXPECT_TRUE(written);

  std::vector<uint8_t> sent;
  const auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < 300; ++i) {
    const auto bytes = Pattern(i, 4000);
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    ASSERT_TRUE(Send(bytes, bit_rate)) << i;
  }
  ASSERT_TRUE(
      camera().WaitUntil([&] { return camera().audio_bytes_total() >= sent.size(); }, kWait));
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  // The channel does not pace: frames go out as fast as the POST takes them.
  std::printf("talk-back, unpaced: %zu bytes (%.0f s of audio) in %.0f ms, one POST re-opened\n",
              sent.size(), sent.size() / 8000.0, ms);
  EXPECT_EQ(camera().audio_received(), sent);
  // A POST is recorded once the camera has seen it end: the first one cut
  // short of its declared length (status 0), the second one by the close.
  EXPECT_TRUE(camera().WaitUntil([&] { return Posts().size() == 1; }, kWait));
  EXPECT_EQ(Posts(), std::vector<int>{0});

  EXPECT_TRUE(sender->CloseChannel(kKey));
  EXPECT_TRUE(camera().WaitUntil([&] { return Posts().size() == 2; }, kWait));
  EXPECT_EQ(Posts(), (std::vector<int>{0, 0}));
  EXPECT_EQ(callback.States(),
            (std::vector<StateReport>{{kKey, 1}, {kKey, 2}, {kKey, 3}, {kKey, 0}}));
  EXPECT_EQ(allocator.live_audio(), 0u);
  EXPECT_EQ(allocator.bad_releases(), 0u);
}

// The camera answers and closes each POST after 4000 bytes: the frame after
// that goes into a new POST, nothing is lost.
TEST_F(TalkbackFixture, CameraEndingThePostLosesNothing) {
  camera().InjectFault({camsim::Fault::Kind::kEndTalkback, 4000});
  const uint32_t bit_rate = OpenSending();
  std::vector<uint8_t> sent;
  for (size_t i = 0; i < 15; ++i) {
    const auto bytes = Pattern(i, 800);
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    ASSERT_TRUE(Send(bytes, bit_rate)) << i;
    // One frame at a time, so that the camera's answer is there before the
    // next write (bytes written after it would be lost by any client).
    ASSERT_TRUE(camera().WaitUntil(
        [&] {
          return camera().audio_bytes_total() == sent.size() && EndedPosts() == sent.size() / 4000;
        },
        kWait));
  }
  EXPECT_EQ(camera().audio_received(), sent);
  EXPECT_EQ(EndedPosts(), 3u);
  EXPECT_EQ(sender->GetChannelState(kKey, nullptr, nullptr), 2u);
}

}  // namespace
