#include "channels/audio_capture_channel.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/testing/fake_driver.h"
#include "platform/testing/scripted_server.h"
#include "recorder/audio_host.h"

namespace korvela {
namespace {

using testing::HttpReply;
using testing::ScriptedServer;

TEST(AudioInputStateMachineTest, AllowedChangesAreReportedOnceOthersIgnored) {
  const std::vector<std::pair<uint32_t, uint32_t>> allowed = {
      {0, 1}, {1, 2}, {1, 3}, {1, 5}, {2, 3}, {2, 5}, {3, 0}, {4, 0}, {5, 1}, {5, 3}};
  for (uint32_t from = 0; from <= 6; ++from) {
    for (uint32_t to = 0; to <= 6; ++to) {
      std::vector<uint32_t> reports;
      AudioInputStateMachine state([&](uint32_t s) { reports.push_back(s); }, from);
      const bool expected =
          std::find(allowed.begin(), allowed.end(), std::make_pair(from, to)) != allowed.end();
      EXPECT_EQ(state.Move(to), expected) << from << "->" << to;
      EXPECT_EQ(state.Get(), expected ? to : from) << from << "->" << to;
      EXPECT_EQ(reports, expected ? std::vector<uint32_t>{to} : std::vector<uint32_t>{})
          << from << "->" << to;
    }
  }
}

// The channel's device steps, called directly (no thread runs).
class Probe : public CQuarnoAudioCaptureChannel {
 public:
  using CQuarnoAudioCaptureChannel::CQuarnoAudioCaptureChannel;
  using CQuarnoAudioCaptureChannel::PrepareAudio;
  using CQuarnoAudioCaptureChannel::PrepareSettings;
  using CQuarnoAudioCaptureChannel::SetDeviceState;
};

struct Microphone {
  Microphone() {
    driver.device.address = "127.0.0.1";
    driver.device.port = server.port();
    driver.device.connect_timeout_ms = 2000;
    driver.device.model = "IQ765";
  }
  Probe Make(uint32_t input = 0) { return Probe(&driver, 1, input, &callback, &formats); }

  ScriptedServer server;
  testing::FakeDriver driver;
  recorder::AudioCallback callback;
  recorder::AudioFormatList formats;
};

TEST(QuarnoAudioCaptureChannelTest, AudioIsSwitchedOnOnlyWhereNeeded) {
  const std::string kQuery = "/get.oid?1.9.5&1.9.7";
  const std::string kBitRate = "/get.oid?1.17.1.2";
  struct Case {
    const char* reply;
    const char* bit_rate;
    bool prepared;
    std::vector<std::string> requests;
  };
  const Case cases[] = {
      {"1.9.5=enabled\n1.9.7=full\n", "64", true, {kQuery, kBitRate}},
      {"1.9.5=disabled\n1.9.7=half\n",
       "64",
       true,
       {kQuery, "/set.oid?OidTR1.9.5=enabled&OidTR1.9.7=full", kBitRate}},
      {"1.9.5=enabled\n", "64", true, {kQuery, kBitRate}},
      {"1.9.7=full\n", "64", false, {kQuery}},
      {"1.9.5=enabled\n1.9.7=full\n", "0", false, {kQuery, kBitRate}},
  };
  for (const Case& c : cases) {
    Microphone m;
    std::vector<testing::ScriptStep> steps = {HttpReply(testing::OidResponse(c.reply))};
    if (c.requests.size() == 3) steps.push_back(HttpReply(testing::OidResponse("OK")));
    steps.push_back(HttpReply(testing::OidResponse(c.bit_rate)));
    m.server.AddConnection(steps);
    Probe probe = m.Make();
    EXPECT_EQ(probe.PrepareAudio(), c.prepared) << c.reply;
    EXPECT_EQ(m.server.Targets(), c.requests) << c.reply;
    EXPECT_EQ(m.driver.log.Contains("doesn't support"), c.requests.size() == 1) << c.reply;
  }
  Microphone m;
  m.server.AddConnection({HttpReply(testing::OidResponse("1.9.7=full\n"))});
  EXPECT_FALSE(m.Make().PrepareAudio());
  EXPECT_TRUE(m.driver.log.HasLine(
      1,
      "korvela::CQuarnoAudioCaptureChannel::UpdateIQEyeAudioOptions: the IQ765 device "
      "(IP=127.0.0.1) doesn't support \"Audio Input State\" option (OID=1.9.5)"));
}

TEST(QuarnoAudioCaptureChannelTest, NoEnabledMuLawFormatAsksNothing) {
  Microphone m;
  recorder::AudioFormatList offered(
      {{ipcapture::kAudioFormatMuLaw, false}, {ipcapture::MakeFourCC('7', '1', '1', 'A'), true}});
  Probe probe(&m.driver, 1, 0, &m.callback, &offered);
  EXPECT_FALSE(probe.PrepareAudio());
  EXPECT_EQ(m.server.AcceptedConnections(), 0u);
}

TEST(QuarnoAudioCaptureChannelTest, SessionSettingsNameTheAudioStream) {
  for (const auto& [parameter, port] : std::vector<std::pair<std::string, uint16_t>>{
           {"8554", 8554}, {"port", 554}, {"(none)", 554}, {"70000", 554}}) {
    Microphone m;
    m.driver.SetParameter(2, parameter);
    RtspClientSettings settings;  // port 554 as the caller sets it
    m.Make().PrepareSettings(settings);
    EXPECT_EQ(settings.port, port) << parameter;
    EXPECT_EQ(settings.path, "now.mp4?mm=a");
    EXPECT_EQ(settings.mediaSelector, 2u);
  }
}

TEST(QuarnoAudioCaptureChannelTest, SignalLinesNameTheCameraOrTheVideoServerChannel) {
  for (uint32_t channels : {1u, 2u}) {
    Microphone m;
    m.driver.channel_count = channels;
    Probe probe = m.Make(7);
    probe.SetDeviceState(true);
    probe.SetDeviceState(true);
    probe.SetDeviceState(false);
    const std::string device =
        channels == 1 ? "camera 127.0.0.1" : "video-server 127.0.0.1 (channel 7)";
    const std::string origin = "korvela::CBaseAudioRTSPChannel::SetDeviceState: ";
    const auto lines = m.driver.log.Lines();
    ASSERT_EQ(lines.size(), 2u) << channels;
    EXPECT_EQ(lines[0].level, 3u);
    EXPECT_EQ(lines[0].text, origin + "Audio signal from " + device + " is OK");
    EXPECT_EQ(lines[1].level, 3u);  // state 0
    EXPECT_EQ(lines[1].text, origin + "Audio channel was stopped for " + device);
  }
}

}  // namespace
}  // namespace korvela
