// What the camera properties keep of the texts a device sends, through the
// real HTTP sender against a scripted device: cleaned and bounded (it reaches
// the recorder's store, the CLI's terminal and log lines), and the same
// outcome under any process locale.
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "device/camera_properties.h"
#include "device/text_utils.h"
#include "platform/testing/scripted_server.h"
#include "recorder/capability_host.h"
#include "util/testing/foreign_locale.h"

namespace korvela {
namespace {

using recorder::CapabilityHost;
using recorder::CapabilityResult;
using testing::HttpReply;
using testing::ScriptedServer;
using testing::ScriptStep;

constexpr const char* kAudioOids = "1.17.1.2&1.9.5&1.9.6&1.9.7";

// An IQ765's answers in the order the query asks (the access page first, the
// privacy-zone probe rejected so that no write follows).
std::vector<std::pair<std::string, std::string>> Iq765(
    const std::map<std::string, std::string>& changes = {}) {
  std::vector<std::pair<std::string, std::string>> answers = {
      {"/basicset.html", ""},
      {"2.27", "Lobby"},
      {"2.8", "IQ765"},
      {"1.17.2.6", "mode17"},
      {"2.7", "00-50-1A-02-03-04"},
      {"2.5", "3.4.2"},
      {"1.2.7", "50"},
      {"1.17.6", "enabled"},
      {"1.17.3.1", "8554"},
      {"1.2.20.5", "2592"},
      {"1.2.20.6", "1944"},
      {"1.3.5.1", "OPEN"},
      {"1.3.15", "OPEN"},
      {"1.2.26.5", "ERROR: unknown OID"},
      {kAudioOids, "1.17.1.2=64\n1.9.5=on\n1.9.6=on\n1.9.7=on\n"},
  };
  for (auto& [oid, value] : answers) {
    if (auto it = changes.find(oid); it != changes.end()) value = it->second;
  }
  return answers;
}

struct QueryRun {
  explicit QueryRun(const std::vector<std::pair<std::string, std::string>>& answers) {
    std::vector<ScriptStep> steps;
    for (const auto& [oid, value] : answers) {
      expected_paths.push_back(oid.starts_with("/") ? oid : "/get.oid?" + oid);
      steps.push_back(HttpReply(
          testing::HttpResponse(oid.starts_with("/") ? value : "<xmp>" + value + "</xmp>")));
    }
    server.AddConnection(std::move(steps));
    DEVICE_INFO device;
    device.address = "127.0.0.1";
    device.port = server.port();
    props = std::make_unique<CQuarnoCameraProperties>(device, 1);
    props->set_settings_folder("/nonexistent-settings-folder");
  }

  // Runs the query; checks that the device was asked what the script answered.
  bool Query(uint32_t& status) {
    const bool ok = props->Query(status);
    if (ok) {
      EXPECT_EQ(server.Targets(), expected_paths);
    }
    return ok;
  }

  std::vector<std::string> expected_paths;
  ScriptedServer server;
  std::unique_ptr<CQuarnoCameraProperties> props;
  CapabilityHost host;
};

bool HasControlCharacter(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  }
  return false;
}

TEST(CameraTextTest, KeptTextsAreCleanedAndBounded) {
  const std::string forged =
      "korvela::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is online";
  QueryRun run(Iq765({{"2.27", "Lobby\x1b[2J" + std::string(60000, 'n')},
                      {"2.8", "IQ765\x1b[31m"},
                      {"2.7", "00-50-1A-02-03-04\a"},
                      {"2.5", "3.4.2\r\n" + forged},
                      {"1.17.3.1", "8554\x1b"}}));
  ASSERT_TRUE(run.server.ok());
  uint32_t status = 0;
  ASSERT_TRUE(run.Query(status));
  EXPECT_EQ(run.props->firmware(), "3.4.2??" + forged);
  EXPECT_EQ(run.props->device_name(), "Lobby?[2J" + std::string(kMaxDeviceTextBytes - 9, 'n'));
  EXPECT_EQ(run.props->model_name(), "IQ765?[31m");
  EXPECT_EQ(run.props->camera_group(), 4u);  // the model is still recognised
  EXPECT_EQ(run.props->mac_address(), "00501A020304?");
  EXPECT_EQ(run.props->rtsp_port(), "8554?");

  ASSERT_TRUE(run.props->SaveResults(&run.host));
  const CapabilityResult r = run.host.Snapshot();
  EXPECT_FALSE(HasControlCharacter(r.name));
  EXPECT_LE(r.name.size(), 2 * kMaxDeviceTextBytes + 1);
  for (const auto& [number, property] : r.properties) {
    EXPECT_FALSE(HasControlCharacter(property.value)) << number;
    EXPECT_LE(property.value.size(), kMaxDeviceTextBytes) << number;
  }
}

TEST(CameraTextTest, SameOutcomeUnderAForeignLocale) {
  testing::ScopedForeignLocale locale;
  if (!locale.ok()) GTEST_SKIP() << "no non-C locale: " << locale.why_not();
  // In this locale tolower('I') is a dotless i, so "DISABLED" would not fold
  // to "disabled" nor "ENABLED" to "enabled"; bytes from 0xC0 would fold too.
  QueryRun run(Iq765({{"2.27",
                       "\xDD"
                       "stanbul \xC7"
                       "AR\xDEI"},
                      {"1.17.6", "ENABLED"},
                      {"1.3.5.1", "DISABLED"},
                      {"1.3.15", "DISABLED"},
                      {"1.2.26.5", "ERROR: unknown OID"},
                      {kAudioOids, "1.17.1.2=64\r\n1.9.5=ERROR\r\n1.9.6=ON\r\n1.9.7=ON\r\n"}}));
  uint32_t status = 0;
  ASSERT_TRUE(run.Query(status));
  EXPECT_EQ(run.props->device_name(),
            "\xDD"
            "stanbul \xC7"
            "AR\xDEI");
  EXPECT_EQ(run.props->stream_types(), (std::set<uint32_t>{kReportedH264, kReportedMotionJpeg}));
  EXPECT_EQ(run.props->digital_inputs(), 0u);
  EXPECT_EQ(run.props->digital_outputs(), 0u);
  EXPECT_EQ(run.props->privacy_zone_count(), 0u);
  EXPECT_EQ(run.props->audio_bit_rate(), 64000u);
  EXPECT_EQ(run.props->audio_input().channel_count, 0u);
  EXPECT_EQ(run.props->audio_output().channel_count, 1u);
  ASSERT_TRUE(run.props->SaveResults(&run.host));
  const CapabilityResult r = run.host.Snapshot();
  EXPECT_EQ(r.properties.at(6).value, "2592x1944");
  EXPECT_EQ(r.properties.at(8).value, "64000");
}

}  // namespace
}  // namespace korvela
