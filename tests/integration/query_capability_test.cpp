// The capability query end to end: libveltrano.so loaded as a recorder loads
// it, its exports driven by the reference host, against simulated cameras.
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camsim/camsim.h"
#include "platform/testing/scripted_server.h"
#include "recorder/capability_host.h"
#include "recorder/driver_library.h"

namespace {

using korvela::recorder::CapabilityHost;
using korvela::recorder::CapabilityQueryRequest;
using korvela::recorder::CapabilityResult;
using korvela::recorder::DriverLibrary;
using std::chrono::seconds;

constexpr char kUser[] = "root";
constexpr char kPassword[] = "system";
constexpr auto kReportWait = seconds(60);

struct Size {
  uint32_t width, height, interval;
};

struct ModelExpectation {
  const char* model;
  camsim::AuthMode auth;
  uint32_t camera_group;
  std::vector<Size> sizes;
  uint32_t default_interval;
  bool h264;
  bool audio;
};

const ModelExpectation kModels[] = {
    {"IQ765",
     camsim::AuthMode::kDigest,
     4,
     {{2592, 1944, 100},
      {2560, 1440, 63},
      {2048, 1536, 50},
      {1920, 1080, 33},
      {1600, 1200, 33},
      {1280, 960, 33},
      {1280, 720, 33},
      {720, 480, 33}},
     100,
     true,
     true},
    {"IQ031", camsim::AuthMode::kBasic, 2, {{1280, 720, 33}, {720, 480, 33}}, 33, true, true},
    {"IQA30", camsim::AuthMode::kDigest, 3, {{720, 480, 33}, {352, 240, 33}}, 33, true, true},
    {"IQ042", camsim::AuthMode::kBasic, 1, {{1280, 1024, 33}}, 33, false, false},
    {"IQ511",
     camsim::AuthMode::kDigest,
     0,
     {{2048, 1536, 83}, {1024, 768, 33}, {512, 384, 33}, {256, 192, 33}},
     83,
     true,
     true},
};

class QueryIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library_.Load()) << library_.error(); }

  camsim::Camera& StartCamera(const std::string& model,
                              camsim::AuthMode auth = camsim::AuthMode::kDigest) {
    camsim::SimulatorOptions options;
    options.camera.model = model;
    options.camera.auth = auth;
    options.camera.user = kUser;
    options.camera.password = kPassword;
    std::string error;
    sim_ = camsim::Simulator::Start(options, &error);
    EXPECT_NE(sim_, nullptr) << error;
    return sim_->camera(0);
  }

  CapabilityResult Query(const std::string& address, uint16_t port,
                         const std::string& password = kPassword, bool ntsc = true) {
    CapabilityHost host;
    CapabilityQueryRequest request{address, port, kUser, password, ntsc};
    std::string error;
    EXPECT_TRUE(korvela::recorder::RunCapabilityQuery(library_.exports(), request, kReportWait,
                                                      host, &error))
        << error;
    return host.Snapshot();
  }

  static std::string Oid(const camsim::Camera& camera, const char* oid) {
    return camera.GetOid(oid).value_or("");
  }

  DriverLibrary library_;
  std::unique_ptr<camsim::Simulator> sim_;
};

TEST_F(QueryIntegrationTest, EverySimulatedModelReportsItsProperties) {
  for (const ModelExpectation& m : kModels) {
    SCOPED_TRACE(m.model);
    camsim::Camera& camera = StartCamera(m.model, m.auth);
    const CapabilityResult r = Query("127.0.0.1", camera.http_port());
    ASSERT_EQ(r.outcome, CapabilityResult::Outcome::kCompleted) << r.failure_message;
    EXPECT_EQ(r.reports, 1);

    EXPECT_EQ(r.name, Oid(camera, "2.27") + " " + m.model);
    EXPECT_EQ(r.connection.at(1), "127.0.0.1");
    EXPECT_EQ(r.connection.at(2), std::to_string(camera.http_port()));
    EXPECT_EQ(r.connection.at(3), kUser);
    EXPECT_EQ(r.connection.at(4), kPassword);

    std::string mac = Oid(camera, "2.7");
    std::erase(mac, '-');
    const std::string rtsp_port = Oid(camera, "1.17.3.1");
    const std::string bit_rate = Oid(camera, "1.17.1.2");
    std::map<uint32_t, std::pair<std::string, bool>> expected_properties = {
        {1, {"1", false}},
        {2, {rtsp_port.empty() ? "554" : rtsp_port, true}},
        {3, {std::to_string(m.camera_group), false}},
        {4, {Oid(camera, "2.5"), true}},
        {5, {mac, true}},
        {6, {Oid(camera, "1.2.20.5") + "x" + Oid(camera, "1.2.20.6"), true}},
        {7, {"1", false}},
        {8, {m.audio ? std::to_string(std::stoi(bit_rate) * 1000) : "0", false}},
    };
    if (m.audio) {
      expected_properties[101] = {"Count=1; IsStereo=0", true};
      expected_properties[102] = {"Count=1; IsStereo=0", true};
    }
    ASSERT_EQ(r.properties.size(), expected_properties.size());
    for (const auto& [number, expected] : expected_properties) {
      const auto& p = r.properties.at(number);
      EXPECT_EQ(p.value, expected.first) << number;
      EXPECT_EQ(p.read_only, expected.second) << number;
      EXPECT_EQ(p.fill_order, "label,extra,readonly,value") << number;
    }
    EXPECT_EQ(r.properties.at(5).label, "MAC address");

    std::map<uint32_t, uint32_t> expected_caps = {{0, 1},  {2, 1},  {3, 1},  {7, 1},
                                                  {11, 0}, {12, 0}, {13, 8}, {14, 1},
                                                  {15, 0}, {16, 0}, {17, 0}};
    if (m.h264) expected_caps[8] = 1;
    if (m.audio) expected_caps[4] = 1;
    EXPECT_EQ(r.capabilities, expected_caps);

    ASSERT_EQ(r.resolutions.size(), m.sizes.size());
    for (size_t i = 0; i < m.sizes.size(); ++i) {
      EXPECT_EQ(r.resolutions[i].width, m.sizes[i].width) << i;
      EXPECT_EQ(r.resolutions[i].height, m.sizes[i].height) << i;
      EXPECT_EQ(r.resolutions[i].interval_ms, m.sizes[i].interval) << i;
      EXPECT_EQ(r.resolutions[i].label,
                std::to_string(m.sizes[i].width) + "x" + std::to_string(m.sizes[i].height));
    }
    ASSERT_EQ(r.frame_intervals.size(), 30u);
    EXPECT_EQ(r.frame_intervals.front(), 1000u);
    EXPECT_EQ(r.frame_intervals.back(), 33u);
    EXPECT_EQ(r.default_interval, m.default_interval);

    // The privacy masking switch was turned on.
    bool masking_on = false;
    for (const camsim::OidWrite& w : camera.oid_writes())
      masking_on |= w.oid == "1.2.26.4" && w.value == "ON";
    EXPECT_TRUE(masking_on);
    sim_.reset();
  }
}

TEST_F(QueryIntegrationTest, CameraWithoutOptionalFeatures) {
  camsim::Camera& camera = StartCamera("IQ765-noaudio-noio-noprivacy");
  const CapabilityResult r = Query("127.0.0.1", camera.http_port());
  ASSERT_EQ(r.outcome, CapabilityResult::Outcome::kCompleted) << r.failure_message;
  EXPECT_EQ(r.properties.count(101), 0u);
  EXPECT_EQ(r.properties.count(102), 0u);
  EXPECT_EQ(r.properties.at(8).value, "0");
  EXPECT_EQ(r.properties.at(7).value, "0");
  for (uint32_t n : {2u, 3u, 4u, 13u, 14u}) EXPECT_EQ(r.capabilities.count(n), 0u) << n;
  EXPECT_TRUE(camera.oid_writes().empty());
}

TEST_F(QueryIntegrationTest, AddressWithPortIsRefusedWithoutAnyTraffic) {
  camsim::Camera& camera = StartCamera("IQ765");
  const std::string address = "127.0.0.1:" + std::to_string(camera.http_port());
  const CapabilityResult r = Query(address, camera.http_port());
  EXPECT_EQ(r.outcome, CapabilityResult::Outcome::kFailed);
  EXPECT_EQ(r.failure_status, 0u);
  EXPECT_EQ(r.failure_message,
            "Failed to start capability fetching thread. Device address is invalid!");
  EXPECT_EQ(r.reports, 1);
  EXPECT_TRUE(camera.http_requests().empty());
  EXPECT_FALSE(r.name_set);
}

TEST_F(QueryIntegrationTest, WrongCredentialsGiveStatusOneWithTheFullMessage) {
  for (camsim::AuthMode auth : {camsim::AuthMode::kBasic, camsim::AuthMode::kDigest}) {
    camsim::Camera& camera = StartCamera("IQ031", auth);
    const CapabilityResult r = Query("127.0.0.1", camera.http_port(), "wrong-password");
    EXPECT_EQ(r.outcome, CapabilityResult::Outcome::kFailed);
    EXPECT_EQ(r.failure_status, 1u);
    EXPECT_EQ(r.failure_message,
              "Failed to get camera properties, login failed (invalid credentials)");
    EXPECT_EQ(r.reports, 1);
    // Refused at the access page: no OID was asked for.
    for (const camsim::HttpRequestRecord& req : camera.http_requests())
      EXPECT_EQ(req.target.find("/get.oid"), std::string::npos) << req.target;
    sim_.reset();
  }
}

TEST_F(QueryIntegrationTest, UnreachablePortGivesStatusThree) {
  uint16_t closed_port = 0;
  {
    camsim::Camera& camera = StartCamera("IQ765");
    closed_port = camera.http_port();
    sim_.reset();  // nothing listens there any more
  }
  const CapabilityResult r = Query("127.0.0.1", closed_port);
  EXPECT_EQ(r.outcome, CapabilityResult::Outcome::kFailed);
  EXPECT_EQ(r.failure_status, 3u);
  EXPECT_EQ(r.failure_message, "Failed to get camera properties");
  EXPECT_EQ(r.reports, 1);
}

TEST_F(QueryIntegrationTest, DeletingAModuleWhoseQueryIsBlockedAbortsItAndReportsOnce) {
  camsim::Camera& camera = StartCamera("IQ765");
  // Every reply held back far longer than the shutdown bound. The simulator
  // records a request once it is answered or dropped, so the first record
  // appears when the driver gives up on the first page after its 5 s HTTP
  // time-out; the query is then blocked on the next request.
  camera.InjectFault({camsim::Fault::Kind::kSlowReplies, 120000});
  CapabilityHost host;
  const auto& exports = library_.exports();
  korvela::ipcapture::IIPCapabilityQuery* module =
      exports.CreateCapabilityQueryModule(&host, false);
  ASSERT_NE(module, nullptr);
  ASSERT_TRUE(module->Start("127.0.0.1", camera.http_port(), kUser, kPassword, &host));
  ASSERT_TRUE(camera.WaitUntil([&] { return !camera.http_requests().empty(); }, seconds(30)));

  exports.DeleteCapabilityQueryModule(module);
  // The worker asked nothing after the abort: without it, the delete would
  // have waited while the query timed out on the access page and went on to
  // the identity reads, whose dropped requests the simulator records as soon
  // as the worker's connection closes. A short grace covers that recording.
  auto asked_for_oids = [&] {
    for (const camsim::HttpRequestRecord& req : camera.http_requests())
      if (req.target.find("/get.oid") != std::string::npos) return true;
    return false;
  };
  EXPECT_FALSE(camera.WaitUntil(asked_for_oids, seconds(2)));

  const CapabilityResult r = host.Snapshot();
  EXPECT_EQ(r.reports, 1);
  EXPECT_EQ(r.outcome, CapabilityResult::Outcome::kFailed);
  EXPECT_EQ(r.failure_status, 3u);
  camera.ClearFaults();
}

TEST_F(QueryIntegrationTest, DeletingAModuleAbortsTheRequestItIsBlockedIn) {
  // A peer that takes the request, never answers and notices the close.
  korvela::testing::ScriptedServer peer;
  ASSERT_TRUE(peer.ok());
  korvela::testing::ScriptStep silent;
  silent.expect = korvela::testing::ScriptStep::Expect::kHttpRequest;
  peer.AddConnection({silent});
  CapabilityHost host;
  const auto& exports = library_.exports();
  korvela::ipcapture::IIPCapabilityQuery* module =
      exports.CreateCapabilityQueryModule(&host, false);
  ASSERT_NE(module, nullptr);
  ASSERT_TRUE(module->Start("127.0.0.1", peer.port(), kUser, kPassword, &host));
  ASSERT_TRUE(peer.WaitForRequests(1, 30000));
  EXPECT_EQ(host.Snapshot().reports, 0);  // blocked in the first request

  exports.DeleteCapabilityQueryModule(module);
  // The abort closed the connection the worker was blocked on.
  EXPECT_TRUE(peer.WaitForClosedConnections(1, 30000));
  EXPECT_EQ(peer.Requests().at(0).head.rfind("GET /basicset.html ", 0), 0u);
  const CapabilityResult r = host.Snapshot();
  EXPECT_EQ(r.reports, 1);
  EXPECT_EQ(r.outcome, CapabilityResult::Outcome::kFailed);
  EXPECT_EQ(r.failure_status, 3u);
  EXPECT_EQ(r.failure_message, "Failed to get camera properties");
  EXPECT_EQ(peer.AcceptedConnections(), 1u);  // nothing asked after the abort
}

TEST_F(QueryIntegrationTest, ProcessWideModule) {
  camsim::Camera& camera = StartCamera("IQA30");
  const auto& exports = library_.exports();
  CapabilityHost host;
  CapabilityHost other;
  EXPECT_EQ(exports.StartCapabilityQuery("127.0.0.1", camera.http_port(), kUser, kPassword, &host),
            0);  // no module yet
  ASSERT_EQ(exports.InitCapabilityQuery(&host, false), 1);
  EXPECT_EQ(exports.InitCapabilityQuery(&other, true), 0);  // the first module stays
  EXPECT_EQ(exports.StartCapabilityQuery(nullptr, camera.http_port(), kUser, kPassword, &host), 0);
  ASSERT_EQ(exports.StartCapabilityQuery("127.0.0.1", camera.http_port(), kUser, kPassword, &host),
            1);
  ASSERT_TRUE(host.WaitForReport(kReportWait));
  EXPECT_EQ(exports.TerminateCapabilityQuery(), 1);
  EXPECT_EQ(exports.UninitCapabilityQuery(), 1);
  EXPECT_EQ(exports.UninitCapabilityQuery(), 1);
  EXPECT_EQ(exports.TerminateCapabilityQuery(), 1);

  const CapabilityResult r = host.Snapshot();
  EXPECT_EQ(r.outcome, CapabilityResult::Outcome::kCompleted) << r.failure_message;
  EXPECT_EQ(r.properties.at(1).value, "0");  // video-standard flag of the first Init
  EXPECT_EQ(other.Snapshot().reports, 0);
}

}  // namespace
