#include "device/camera_properties.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "recorder/capability_host.h"

namespace korvela {
namespace {

using recorder::CapabilityHost;
using recorder::CapabilityResult;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A device that answers from tables and records what it was asked.
class ScriptedDevice : public ICameraOidDevice {
 public:
  struct Script {
    std::map<std::string, uint32_t> statuses;  // page -> status; absent: no answer
    std::map<std::string, std::string> oids;   // absent: the device lacks the OID
    std::optional<std::string> privacy_body;   // absent: request failed
    std::vector<std::string> requests;
    std::vector<std::string> writes;
    std::function<void(const std::string&)> before_request;
  };
  explicit ScriptedDevice(Script& script) : s_(script) {}

  uint32_t GetStatus(const std::string& path) override {
    Note(path);
    auto it = s_.statuses.find(path);
    if (it != s_.statuses.end()) last_status_ = it->second;
    return last_status_;
  }
  std::string GetOid(const std::string& oids) override {
    Note(oids);
    if (oids.find('&') == std::string::npos) return s_.oids.contains(oids) ? s_.oids[oids] : "";
    std::string lines, one;
    std::istringstream list(oids);
    while (std::getline(list, one, '&'))
      if (s_.oids.contains(one)) lines += one + "=" + s_.oids[one] + "\n";
    return lines;
  }
  bool GetBody(const std::string& path, std::string& body) override {
    Note(path);
    if (!s_.privacy_body) return false;
    body = *s_.privacy_body;
    body.push_back('\0');
    return true;
  }
  void SendWithoutAnswer(const std::string& path) override {
    Note(path);
    s_.writes.push_back(path);
  }
  void Abort() override {}

 private:
  void Note(const std::string& what) {
    if (s_.before_request) s_.before_request(what);
    s_.requests.push_back(what);
  }
  Script& s_;
  uint32_t last_status_ = 0;
};

std::map<std::string, std::string> Iq765Oids() {
  return {{"2.27", "Lobby"},     {"2.8", "IQ765"},       {"2.7", "00-50-1A-02-03-04"},
          {"2.5", "3.4.2"},      {"1.17.2.6", "mode17"}, {"1.2.7", "50"},
          {"1.17.6", "Enabled"}, {"1.17.3.1", "8554"},   {"1.2.20.5", "2592"},
          {"1.2.20.6", "1944"},  {"1.3.15", "OPEN"},     {"1.3.5.1", "OPEN"},
          {"1.17.1.2", "64"},    {"1.9.5", "on"},        {"1.9.6", "on"},
          {"1.9.7", "on"}};
}

struct Fixture {
  ScriptedDevice::Script script;
  DEVICE_INFO device;
  std::unique_ptr<CQuarnoCameraProperties> props;
  CapabilityHost host;

  explicit Fixture(std::map<std::string, std::string> oids = Iq765Oids()) {
    script.oids = std::move(oids);
    script.statuses = {{"/basicset.html", 200}};
    script.privacy_body = "<xmp>1.2.26.5=1</xmp>";
    device.address = "10.1.2.3";
    device.port = 8080;
    device.user_name = "admin";
    device.password = "secret";
    props = std::make_unique<CQuarnoCameraProperties>(device, 1,
                                                      std::make_unique<ScriptedDevice>(script));
    props->set_settings_folder("/nonexistent-settings-folder");
  }
  // Query's result; `status` holds what it reported.
  bool Query() { return props->Query(status); }
  // What SaveResults handed the recorder; its result is expected to be `saved`.
  CapabilityResult Save(bool saved = true) {
    EXPECT_EQ(props->SaveResults(&host), saved) << "SaveResults";
    return host.Snapshot();
  }
  uint32_t status = 0;
};

// Group, sizes and default rate per model reach the report in
// query_capability_test; the rules behind them are model_table_test's and
// camera_properties_lists_test's. Here: a fixed-size model's mode is never read.
TEST(CameraPropertiesTest, FixedSizeModelIsNotAskedForItsMode) {
  auto oids = Iq765Oids();
  oids["2.8"] = "IQ042S";
  Fixture f(oids);
  ASSERT_TRUE(f.Query());
  EXPECT_EQ(f.props->camera_group(), 1u);
  EXPECT_EQ(std::count(f.script.requests.begin(), f.script.requests.end(), "1.17.2.6"), 0);
}

struct AccessCase {
  std::optional<uint32_t> basic;
  std::optional<uint32_t> image;
  bool passes;
  std::vector<std::string> pages_asked;
};

TEST(CameraPropertiesTest, AccessCheckOutcomes) {
  const AccessCase cases[] = {
      {200, std::nullopt, true, {"/basicset.html"}},
      {401, 200, false, {"/basicset.html"}},
      {404, 401, false, {"/basicset.html", "/imageset.html"}},
      {404, 404, true, {"/basicset.html", "/imageset.html"}},
      {302, 200, true, {"/basicset.html", "/imageset.html"}},
  };
  for (const AccessCase& c : cases) {
    Fixture f;
    f.script.statuses.clear();
    if (c.basic) f.script.statuses["/basicset.html"] = *c.basic;
    if (c.image) f.script.statuses["/imageset.html"] = *c.image;
    EXPECT_EQ(f.Query(), c.passes) << *c.basic;
    if (!c.passes) {
      EXPECT_EQ(f.status, kPropertiesLoginFailed);
    }
    std::vector<std::string> pages;
    for (const auto& r : f.script.requests)
      if (r.ends_with(".html")) pages.push_back(r);
    EXPECT_EQ(pages, c.pages_asked) << *c.basic;
    if (!c.passes) {
      EXPECT_EQ(f.script.requests.size(), c.pages_asked.size());
    }
  }
}

TEST(CameraPropertiesTest, SilentDevicePassesAccessAndFailsIdentityWithStatusThree) {
  Fixture f(std::map<std::string, std::string>{});
  f.script.statuses.clear();
  EXPECT_FALSE(f.Query());
  EXPECT_EQ(f.status, kPropertiesNoAnswer);
  EXPECT_THAT(f.script.requests, ElementsAre("/basicset.html", "/imageset.html", "2.27"));
}

TEST(CameraPropertiesTest, IdentityAndMaximumSizeAreRequired) {
  const std::pair<const char*, const char*> cases[] = {
      {"2.27", nullptr},    {"2.8", nullptr},           {"2.7", nullptr},     {"2.5", nullptr},
      {"1.2.20.5", ""},     {"1.2.20.6", "0"},          {"1.2.20.5", "abc"},  {"1.2.20.6", "70000"},
      {"1.2.20.5", "-640"}, {"1.2.20.5", "4294968576"}, {"1.2.20.6", "+1024"}};
  // nullptr: the device lacks the OID; atoi read 4294968576 as 1280.
  for (const auto& [oid, value] : cases) {
    SCOPED_TRACE(std::string(oid) + "=" + (value ? value : "(missing)"));
    auto oids = Iq765Oids();
    if (value)
      oids[oid] = value;
    else
      oids.erase(oid);
    Fixture f(oids);
    EXPECT_FALSE(f.Query());
    EXPECT_EQ(f.status, kPropertiesNoAnswer);
  }
}

TEST(CameraPropertiesTest, AbortStopsTheQueryBeforeItsNextRequest) {
  // The abort comes as the named request goes out ("": before Query).
  const struct {
    const char* at;
    bool passes;  // identity complete: the query counts as loaded
    size_t requests;
  } cases[] = {{"", false, 0}, {"2.8", false, 3}, {"2.5", true, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at);
    Fixture f;
    if (*c.at == '\0') f.props->SignalAbort();
    f.script.before_request = [&](const std::string& what) {
      if (what == c.at) f.props->SignalAbort();
    };
    EXPECT_EQ(f.Query(), c.passes);
    EXPECT_EQ(f.script.requests.size(), c.requests);
    if (!c.passes) {
      EXPECT_EQ(f.status, kPropertiesNoAnswer);
      continue;
    }
    EXPECT_EQ(f.props->loaded(), 1u);
    // Saving reports the name and connection, then fails at the picture sizes.
    const CapabilityResult r = f.Save(false);
    EXPECT_EQ(r.name, "Lobby IQ765");
    EXPECT_TRUE(r.resolutions.empty());
    EXPECT_TRUE(r.properties.empty());
  }
}

TEST(CameraPropertiesTest, OptionalFeaturesMissing) {
  auto oids = Iq765Oids();
  for (const char* oid : {"1.17.1.2", "1.9.5", "1.9.6", "1.9.7", "1.17.3.1"}) oids.erase(oid);
  oids["1.3.15"] = "disabled";
  oids.erase("1.3.5.1");
  oids["1.17.6"] = "disabled";
  Fixture f(oids);
  f.script.privacy_body = "<xmp>ERROR: unknown OID</xmp>";
  ASSERT_TRUE(f.Query());
  EXPECT_THAT(f.props->stream_types(), ElementsAre(kReportedMotionJpeg));
  EXPECT_THAT(f.script.writes, IsEmpty());

  const CapabilityResult r = f.Save();
  EXPECT_EQ(r.properties.count(101), 0u);
  EXPECT_EQ(r.properties.count(102), 0u);
  EXPECT_EQ(r.properties.at(8).value, "0");
  EXPECT_EQ(r.properties.at(2).value, "554");
  EXPECT_EQ(r.properties.at(7).value, "0");
  for (uint32_t n : {2u, 3u, 4u, 8u, 13u, 14u, 15u, 16u, 17u})
    EXPECT_EQ(r.capabilities.count(n), 0u) << n;
  EXPECT_EQ(r.capabilities.at(7), 1u);
}

TEST(CameraPropertiesTest, AudioRules) {
  struct Case {
    std::map<std::string, std::string> audio;
    uint32_t bit_rate, in, out;
  };
  const Case cases[] = {
      {{{"1.17.1.2", "32"}, {"1.9.5", "on"}}, 32000, 1, 0},
      {{{"1.17.1.2", "32"}, {"1.9.6", "on"}}, 32000, 0, 0},
      {{{"1.17.1.2", "x"}, {"1.9.6", "on"}, {"1.9.7", "1"}}, 0, 0, 1},
      {{{"1.9.5", "on"}, {"1.9.6", "on"}, {"1.9.7", "1"}}, 0, 0, 0},
      {{{"1.17.1.2", "-8"}, {"1.9.5", "on"}}, 0, 1, 0},
      {{{"1.17.1.2", "4294967"}, {"1.9.5", "on"}}, 4294967000u, 1, 0},
      {{{"1.17.1.2", "4294968"}, {"1.9.5", "on"}}, 0, 1, 0},  // would wrap to 704
  };
  for (const Case& c : cases) {
    auto oids = Iq765Oids();
    for (const char* oid : {"1.17.1.2", "1.9.5", "1.9.6", "1.9.7"}) oids.erase(oid);
    for (const auto& [k, v] : c.audio) oids[k] = v;
    Fixture f(oids);
    ASSERT_TRUE(f.Query());
    EXPECT_EQ(f.props->audio_bit_rate(), c.bit_rate);
    EXPECT_EQ(f.props->audio_input().channel_count, c.in);
    EXPECT_EQ(f.props->audio_output().channel_count, c.out);
  }
}

TEST(CameraPropertiesTest, QueryReadsInOrderAndSaveReportsAsARecorderStoresIt) {
  Fixture f;
  ASSERT_TRUE(f.Query());
  EXPECT_THAT(
      f.script.requests,
      ElementsAre("/basicset.html", "2.27", "2.8", "1.17.2.6", "2.7", "2.5", "1.2.7", "1.17.6",
                  "1.17.3.1", "1.2.20.5", "1.2.20.6", "1.3.5.1", "1.3.15", "/get.oid?1.2.26.5",
                  "/set.oid?OidTB1.2.26.4=ON", "1.17.1.2&1.9.5&1.9.6&1.9.7"));
  const CapabilityResult r = f.Save();
  EXPECT_EQ(r.name, "Lobby IQ765");
  EXPECT_EQ(r.connection, (std::map<uint32_t, std::string>{
                              {1, "10.1.2.3"}, {2, "8080"}, {3, "admin"}, {4, "secret"}}));
  const std::map<uint32_t, uint32_t> capabilities = {{0, 1},  {2, 1},  {3, 1},  {4, 1},  {7, 1},
                                                     {8, 1},  {11, 0}, {12, 0}, {13, 8}, {14, 1},
                                                     {15, 0}, {16, 0}, {17, 0}};
  EXPECT_EQ(r.capabilities, capabilities);
  ASSERT_EQ(r.resolutions.size(), 8u);
  EXPECT_EQ(r.resolutions[0].label, "2592x1944");
  EXPECT_EQ(r.resolutions[0].interval_ms, 100u);
  EXPECT_EQ(r.resolutions[1].interval_ms, 63u);
  EXPECT_EQ(r.frame_intervals.size(), 30u);
  EXPECT_EQ(r.default_interval, 100u);  // default rate lowered to 10

  struct Expected {
    uint32_t number;
    const char* label;
    const char* value;
    bool read_only;
  };
  const Expected expected[] = {
      {1, "Video standard", "1", false},
      {2, "RTSP port", "8554", true},
      {3, "Camera group", "4", false},
      {4, "Firmware version", "3.4.2", true},
      {5, "MAC address", "00501A020304", true},
      {6, "Maximum resolution", "2592x1944", true},
      {7, "Privacy zones support", "1", false},
      {8, "Audio Bitrate", "64000", false},
      {101, "Audio Input Parameters", "Count=1; IsStereo=0", true},
      {102, "Audio Output Parameters", "Count=1; IsStereo=0", true},
  };
  ASSERT_EQ(r.properties.size(), std::size(expected));
  for (const Expected& e : expected) {
    const auto& p = r.properties.at(e.number);
    EXPECT_EQ(p.label, e.label);
    EXPECT_EQ(p.value, e.value) << e.label;
    EXPECT_EQ(p.read_only, e.read_only) << e.label;
    EXPECT_EQ(p.fill_order, "label,extra,readonly,value") << e.label;
  }
}

TEST(CameraPropertiesTest, ValuesAreReportedWithoutTheirLineBreaksAndPadding) {
  // Devices end the value line with CR LF and some pad it.
  auto oids = Iq765Oids();
  oids["2.27"] = "Lobby\r\n";
  oids["2.8"] = " IQ765\r\n";
  oids["2.7"] = "00-50-1A-02-03-04\r\n";
  oids["2.5"] = "3.4.2 \n";
  oids["1.17.3.1"] = "8554\r\n";
  oids["1.2.7"] = "\r\n";  // nothing but the line break: no Motion-JPEG
  oids["1.17.1.2"] = " 64 ";
  Fixture f(oids);
  ASSERT_TRUE(f.Query());
  EXPECT_THAT(f.props->stream_types(), ElementsAre(kReportedH264));
  EXPECT_EQ(f.props->audio_bit_rate(), 64000u);
  const CapabilityResult r = f.Save();
  EXPECT_EQ(r.name, "Lobby IQ765");
  EXPECT_EQ(r.properties.at(2).value, "8554");
  EXPECT_EQ(r.properties.at(4).value, "3.4.2");
  EXPECT_EQ(r.properties.at(5).value, "00501A020304");

  // A MAC address of dashes only is read (not empty), but nothing is left of it.
  oids["2.7"] = "--";
  Fixture dashes(oids);
  ASSERT_TRUE(dashes.Query());
  EXPECT_EQ(dashes.Save().properties.at(5).value, "(none)");
}

TEST(CameraPropertiesTest, SaveResultsStopsAtTheFirstFailingStep) {
  // Without a query it fails at the name: nothing is reported.
  Fixture bare;
  const CapabilityResult nothing = bare.Save(false);
  EXPECT_FALSE(nothing.name_set);
  EXPECT_TRUE(nothing.connection.empty());
  // Stream types missing: the name and connection are reported, no sizes.
  auto oids = Iq765Oids();
  oids.erase("1.2.7");
  oids["1.17.6"] = "";
  Fixture f(oids);
  ASSERT_TRUE(f.Query());
  const CapabilityResult r = f.Save(false);
  EXPECT_TRUE(r.name_set);
  EXPECT_EQ(r.connection.size(), 4u);
  EXPECT_TRUE(r.capabilities.empty());
  EXPECT_TRUE(r.resolutions.empty());
  EXPECT_FALSE(f.props->SaveResults(nullptr));
}

// A settings folder of its own per test, removed afterwards.
struct SettingsFolder {
  std::filesystem::path path;
  explicit SettingsFolder(const std::string& xml) {
    path = std::filesystem::temp_directory_path() /
           ("query_settings_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(path);
    std::ofstream(path / "IQEye.xml") << xml;
  }
  ~SettingsFolder() { std::filesystem::remove_all(path); }
};

TEST(CameraPropertiesTest, SettingsFileFlagIsReportedAsCapabilityEleven) {
  const struct {
    const char* xml;
    bool flag;
  } cases[] = {
      // Unusable files and missing values are the settings reader's tests'.
      {"<root><CCFIA value=\"1\"/></root>", true},
      {"<root><CCFIA value=\"0\"/></root>", false},
      {"<root><CCFIA value=\"1\">", false},  // not well-formed
  };
  for (const auto& c : cases) {
    SettingsFolder folder(c.xml);
    Fixture f;
    f.props->set_settings_folder(folder.path.string());
    ASSERT_TRUE(f.Query());
    EXPECT_EQ(f.props->settings_flag(), c.flag) << c.xml;
    EXPECT_EQ(f.Save().capabilities.at(11), c.flag ? 1u : 0u) << c.xml;
  }
}

}  // namespace
}  // namespace korvela
