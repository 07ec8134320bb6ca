#include "channels/audio_output_channel.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/testing/fake_driver.h"
#include "device/text_utils.h"
#include "platform/testing/scripted_server.h"
#include "recorder/audio_host.h"
#include "recorder/frame_allocator.h"

namespace korvela {
namespace {

using namespace std::chrono_literals;
using recorder::StateReport;
using testing::HttpReply;
using testing::ScriptedServer;
using testing::ScriptStep;

constexpr auto kWait = 20s;  // bound for a correct build on a busy machine

std::string OidPage(const std::string& value) {
  const std::string body = "<html><body><xmp>" + value + "</xmp></body></html>\r\n";
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nContent-Type: text/html\r\n\r\n" + body;
}

std::string RequestLine(const testing::ReceivedRequest& r) {
  return r.head.substr(0, r.head.find("\r\n"));
}

// A camera on a scripted loopback peer, the recorder's objects, and the
// channel under test (key 3), made last so that it goes first.
struct Talkback {
  explicit Talkback(const char* parameter_bit_rate = "64000") {
    driver.device.address = "127.0.0.1";
    driver.device.port = server.port();
    driver.device.connect_timeout_ms = 2000;
    driver.device.model = "IQ765";
    driver.allocator = &allocator;
    driver.SetParameter(8, parameter_bit_rate);
  }
  ~Talkback() { channel.reset(); }

  CQuarnoAudioOutputChannel& Make(const std::vector<recorder::FormatSpec>& offered = {{}}) {
    formats = std::make_unique<recorder::AudioOutputFormatList>(offered);
    channel = std::make_unique<CQuarnoAudioOutputChannel>(&driver, 3, 0, &callback, formats.get());
    return *channel;
  }
  ipcapture::IAudioFrame* Frame(const std::vector<uint8_t>& bytes, uint32_t bit_rate = 64000) {
    return allocator.NewTalkbackFrame(bytes.data(), static_cast<uint32_t>(bytes.size()), 3,
                                      bit_rate);
  }

  ScriptedServer server;
  recorder::FrameAllocator allocator;
  testing::FakeDriver driver;
  recorder::AudioSenderCallback callback;
  std::unique_ptr<recorder::AudioOutputFormatList> formats;
  std::unique_ptr<CQuarnoAudioOutputChannel> channel;
};

TEST(QuarnoAudioOutputChannelTest, RefusedFramesStayWithTheCallerAcceptedOnesAreReleasedOnce) {
  struct Case {
    const char* what;
    uint32_t format;
    uint32_t sample_rate;
    uint8_t stereo;
    uint32_t bit_rate;
    size_t bytes;
    bool accepted;
  };
  const uint32_t kMuLaw = ipcapture::kAudioFormatMuLaw;
  const Case cases[] = {
      {"agreed format", kMuLaw, 8000, 0, 64000, 160, true},
      {"16 kHz", kMuLaw, 16000, 0, 64000, 160, false},
      {"stereo", kMuLaw, 8000, 1, 64000, 160, false},
      {"other bit rate", kMuLaw, 8000, 0, 32000, 160, false},
      {"other format", ipcapture::MakeFourCC('7', '1', '1', 'A'), 8000, 0, 64000, 160, false},
      {"no bytes", kMuLaw, 8000, 0, 64000, 0, false},
  };
  Talkback t;
  auto& channel = t.Make();  // never started: accepted frames stay queued
  std::vector<ipcapture::IAudioFrame*> refused;
  size_t accepted = 0;
  for (const Case& c : cases) {
    ipcapture::IAudioFrame* frame = t.Frame(std::vector<uint8_t>(c.bytes, 0x7F), c.bit_rate);
    frame->SetFormatCode(c.format);
    frame->SetSampleFormat(c.sample_rate, 8, c.stereo);
    EXPECT_EQ(channel.SendFrame(frame), c.accepted) << c.what;
    if (c.accepted)
      ++accepted;
    else
      refused.push_back(frame);
  }
  EXPECT_EQ(t.allocator.live_audio(), std::size(cases));
  t.channel.reset();  // drops the queued frames
  EXPECT_EQ(t.allocator.live_audio(), refused.size());
  for (auto* frame : refused) t.allocator.ReleaseAudioFrame(frame);
  EXPECT_EQ(t.allocator.live_audio(), 0u);
  EXPECT_EQ(t.allocator.bad_releases(), 0u);
  EXPECT_EQ(accepted, 1u);
}

TEST(QuarnoAudioOutputChannelTest, FormatBeforePreparationComesFromCameraParameter8) {
  for (const char* parameter : {"64000", "1000", "(none)"}) {
    Talkback t(parameter);
    recorder::AudioFormat format;
    const bool known = std::string(parameter) == "64000";
    EXPECT_EQ(t.Make().GetAudioFormat(&format), known) << parameter;
    if (known) {
      EXPECT_EQ(format.code(), ipcapture::kAudioFormatMuLaw);
      EXPECT_EQ(format.sample_rate(), 8000u);
      EXPECT_EQ(format.bit_rate(), 64000u);
      EXPECT_EQ(format.stereo(), 0u);
    }
  }
}

TEST(QuarnoAudioOutputChannelTest, NoUsableFormatOfferedIsStateFour) {
  Talkback t;
  auto& channel = t.Make(
      {{ipcapture::kAudioFormatMuLaw, false}, {ipcapture::MakeFourCC('7', '1', '1', 'A'), true}});
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(t.callback.WaitForState(4, kWait));
  EXPECT_TRUE(channel.Stop());
  EXPECT_EQ(t.callback.States(), (std::vector<StateReport>{{3, 1}, {3, 4}, {3, 3}, {3, 0}}));
  EXPECT_EQ(t.server.AcceptedConnections(), 0u);
}

// The first preparation enables the output and writes a fresh password; the
// POST authenticates with it and carries the frames in order; a later
// preparation writes the same password again.
TEST(QuarnoAudioOutputChannelTest, PasswordIsWrittenUsedByThePostAndReused) {
  Talkback t;
  t.server.AddConnection({
      HttpReply(OidPage("1.17.1.2=64\n1.9.6=disabled\n1.9.7=half\n1.9.10=plume\n")),
      HttpReply(OidPage("OK")),
      HttpReply(OidPage("1.17.1.2=64\n1.9.6=enabled\n1.9.7=full\n1.9.10=x\n")),
      HttpReply(OidPage("OK")),
  });
  // The POST asks to continue; the camera asks for credentials first, then,
  // on the next connection, lets the body come (recorded as it arrives).
  ScriptStep challenge;
  challenge.expect = ScriptStep::Expect::kHttpHead;
  challenge.reply =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"talk\"\r\n"
      "Content-Length: 0\r\n\r\n";
  ScriptStep go_on = challenge;
  go_on.reply = "HTTP/1.1 100 Continue\r\n\r\n";
  t.server.AddConnection({challenge});
  t.server.AddConnection({go_on});
  auto& channel = t.Make();
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(t.callback.WaitForState(2, kWait));

  const std::string password = channel.GetPostPassword();
  ASSERT_EQ(password.size(), CQuarnoAudioOutputChannel::kPasswordLength);
  EXPECT_EQ(
      password.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"),
      std::string::npos);

  std::vector<uint8_t> sent;
  for (uint8_t i = 0; i < 5; ++i) {
    const std::vector<uint8_t> bytes(160, static_cast<uint8_t>(0x10 + i));
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    ASSERT_TRUE(channel.SendFrame(t.Frame(bytes)));
  }
  ASSERT_TRUE(t.server.WaitForRequests(4, 20'000));
  auto requests = t.server.Requests();
  const size_t head = requests[3].head.size();
  ASSERT_TRUE(t.server.WaitForReceivedBytes(2, head + sent.size(), 20'000));
  EXPECT_EQ(t.server.Received(2).substr(head), std::string(sent.begin(), sent.end()));

  EXPECT_TRUE(channel.Stop());
  ASSERT_TRUE(channel.Start());  // a second preparation
  ASSERT_TRUE(t.server.WaitForRequests(6, 20'000));
  EXPECT_TRUE(channel.Stop());

  requests = t.server.Requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(RequestLine(requests[0]), "GET /get.oid?1.17.1.2&1.9.6&1.9.7&1.9.10 HTTP/1.1");
  EXPECT_EQ(
      RequestLine(requests[1]),
      "GET /set.oid?OidTR1.9.6=enabled&OidTR1.9.7=full&OidTR1.9.10=" + password + " HTTP/1.1");
  for (size_t i : {2, 3}) {
    EXPECT_EQ(RequestLine(requests[i]), "POST /audiorx.cgi HTTP/1.1");
    EXPECT_NE(requests[i].head.find("Content-Type: audio/ulaw\r\n"), std::string::npos);
    EXPECT_NE(requests[i].head.find("Content-Length: 999999\r\n"), std::string::npos);
  }
  EXPECT_EQ(requests[2].head.find("Authorization"), std::string::npos);  // not asked yet
  EXPECT_NE(requests[3].head.find("Authorization: Basic " + MakeBasicToken("audio", password)),
            std::string::npos);
  EXPECT_EQ(RequestLine(requests[5]), "GET /set.oid?OidTR1.9.10=" + password + " HTTP/1.1");
  EXPECT_EQ(channel.GetPostPassword(), password);
  EXPECT_EQ(t.allocator.live_audio(), 0u);
  EXPECT_EQ(t.allocator.bad_releases(), 0u);
}

// A camera that refuses the POST before its body: the frame is not counted as
// sent, the recorder learns state 5, and the failure is logged.
TEST(QuarnoAudioOutputChannelTest, RefusedPostIsStateFive) {
  Talkback t;
  t.server.AddConnection({HttpReply(OidPage("1.17.1.2=64\n1.9.6=enabled\n1.9.7=full\n"))});
  ScriptStep refuse;
  refuse.expect = ScriptStep::Expect::kHttpHead;
  refuse.reply = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n";
  refuse.close_after = true;
  t.server.AddConnection({refuse});
  auto& channel = t.Make();
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(t.callback.WaitForState(2, kWait));
  ASSERT_TRUE(channel.SendFrame(t.Frame(std::vector<uint8_t>(160, 1))));
  ASSERT_TRUE(t.callback.WaitForState(5, kWait));
  EXPECT_TRUE(t.driver.log.HasLine(
      1,
      "korvela::CQuarnoAudioOutputChannel::SendAudioFrameToDevice: Unable to post audio data to "
      "127.0.0.1 device using \"/audiorx.cgi\" URL"));
  EXPECT_TRUE(channel.Stop());
  EXPECT_EQ(t.allocator.live_audio(), 0u);
}

TEST(QuarnoAudioOutputChannelTest, StopEndsABlockedPreparationAndReleasesQueuedFrames) {
  Talkback t;
  t.driver.device.connect_timeout_ms = 15000;
  t.server.AddConnection({testing::HangAfterRequest()});
  auto& channel = t.Make();
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(t.server.WaitForRequests(1, 20'000));
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(channel.SendFrame(t.Frame({1, 2, 3, 4})));
  EXPECT_EQ(t.allocator.live_audio(), 4u);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(channel.Stop());
  // Well inside the 15 s reply time-out: the stop cut the request.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 7500ms);
  EXPECT_EQ(channel.GetState(), 0u);
  EXPECT_EQ(t.allocator.live_audio(), 0u);

  ipcapture::IAudioFrame* late = t.Frame({5});
  EXPECT_FALSE(channel.SendFrame(late));  // stopped: stays the caller's
  t.allocator.ReleaseAudioFrame(late);
  EXPECT_EQ(t.allocator.bad_releases(), 0u);
  EXPECT_EQ(t.callback.States(), (std::vector<StateReport>{{3, 1}, {3, 3}, {3, 0}}));
}

}  // namespace
}  // namespace korvela
