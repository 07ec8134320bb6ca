// Talk-back end to end: libveltrano.so's audio sender streaming recorder
// frames to the camera simulator's POST sink.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/audio_host.h"
#include "sim_driver_fixture.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
constexpr auto kWait = 60s;  // generous: a loaded 2-core machine

struct TalkbackFixture : korvela::testing::SimDriverFixture {
  void SetUp() override {
    StartCamera("IQ765", camsim::AuthMode::kDigest);
    setup.parameters[korvela::ipcapture::kParamAudioOutput] = "Count=1; IsStereo=0";
    ASSERT_TRUE(OpenDriver());
    sender = (*driver)->GetAudioSender();
    ASSERT_TRUE(sender != nullptr && sender->OpenChannel(1, 0, &callback, &formats));
    ASSERT_TRUE(callback.WaitForState(2, kWait));
    korvela::recorder::AudioFormat format;
    ASSERT_TRUE(sender->GetAudioFormat(1, &format));
    bit_rate = format.bit_rate();
  }
  // Frame `n` of `size` bytes, each frame's bytes its own; kept in `sent`.
  void Send(size_t n, size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(n * 7 + i / 3);
    auto* frame = allocator.NewTalkbackFrame(bytes.data(), uint32_t(size), 1, bit_rate);
    ASSERT_TRUE(sender->SendAudioFrame(frame));
    sent.insert(sent.end(), bytes.begin(), bytes.end());
  }
  bool WaitForBytes() {
    return camera().WaitUntil([&] { return camera().audio_bytes_total() >= sent.size(); }, kWait);
  }
  size_t EndedPosts() {
    size_t ended = 0;
    for (const auto& r : camera().http_requests())
      ended += r.target == "/audiorx.cgi" && r.status == 200;
    return ended;
  }
  std::vector<std::string> PasswordWrites() {
    std::vector<std::string> values;
    for (const auto& w : camera().oid_writes())
      if (w.oid == "1.9.10" && w.accepted) values.push_back(w.value);
    return values;
  }

  korvela::recorder::AudioSenderCallback callback;
  korvela::recorder::AudioOutputFormatList formats;
  korvela::ipcapture::IIPAudioSender* sender = nullptr;
  uint32_t bit_rate = 0;
  Bytes sent;
};

// More than one POST's declared length (999,999 bytes) as fast as it goes:
// the POST is re-opened with the frame that no longer fits, and the camera
// hears every byte in order, from the talk-back user whose password the
// driver wrote (fresh, 10 characters).
TEST_F(TalkbackFixture, BytesArriveInOrderAcrossTheDeclaredLength) {
  EXPECT_EQ(bit_rate, 64000u);
  const auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < 300; ++i) Send(i, 4000);
  ASSERT_TRUE(WaitForBytes());
  std::printf(
      "talk-back, unpaced: %zu bytes (%.0f s of audio) in %.0f ms\n", sent.size(),
      sent.size() / 8000.0,
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  EXPECT_EQ(camera().audio_received(), sent);
  const std::string password = camera().GetOid("1.9.10").value_or("");
  EXPECT_EQ(password.size(), 10u);
  EXPECT_EQ(PasswordWrites(), std::vector<std::string>{password});
  EXPECT_TRUE(sender->CloseChannel(1));
  EXPECT_EQ(callback.States().back().second, 0u);
  EXPECT_EQ(allocator.live_audio(), 0u);
  EXPECT_EQ(allocator.bad_releases(), 0u);
}

// The camera ends each POST after 4000 bytes: the next frame opens a new one
// and nothing is lost. Then it refuses POSTs: the recorder learns state 5;
// once it takes them again, the next frame prepares the camera anew, with the
// same password, and the channel sends again.
TEST_F(TalkbackFixture, EndedPostsLoseNothingRefusedOnesAreReported) {
  camera().InjectFault({camsim::Fault::Kind::kEndTalkback, 4000});
  for (size_t i = 0; i < 10; ++i) {
    Send(i, 800);
    // One frame at a time: the camera's answer is there before the next write.
    ASSERT_TRUE(WaitForBytes());
    ASSERT_TRUE(camera().WaitUntil([&] { return EndedPosts() == sent.size() / 4000; }, kWait));
  }
  EXPECT_EQ(camera().audio_received(), sent);

  camera().InjectFault({camsim::Fault::Kind::kHttpStatus, 503});
  for (size_t i = 10; !callback.WaitForState(5, 1s); ++i) {
    ASSERT_LT(i, 20u);
    Send(i, 800);
  }
  camera().ClearFaults();
  const size_t states = callback.States().size();
  for (size_t i = 20; callback.States().size() == states || callback.States().back().second != 2;
       ++i) {
    ASSERT_LT(i, 100u);
    Send(i, 800);
    std::this_thread::sleep_for(50ms);
  }
  const auto writes = PasswordWrites();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], writes[1]);
}

}  // namespace
