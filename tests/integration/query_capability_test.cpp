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

// The size lists per camera group are FillPictureSizes' (unit tests); here
// the first size and the count show the group reached the report.
struct ModelExpectation {
  const char* model;
  camsim::AuthMode auth;
  uint32_t camera_group;
  uint32_t first_width, first_height, first_interval;
  size_t sizes;
  uint32_t default_interval;
  bool h264;
  bool audio;
};

const ModelExpectation kModels[] = {
    {"IQ765", camsim::AuthMode::kDigest, 4, 2592, 1944, 100, 8, 100, true, true},
    {"IQ031", camsim::AuthMode::kBasic, 2, 1280, 720, 33, 2, 33, true, true},
    {"IQA30", camsim::AuthMode::kDigest, 3, 720, 480, 33, 2, 33, true, true},
    {"IQ042", camsim::AuthMode::kBasic, 1, 1280, 1024, 33, 1, 33, false, false},
    {"IQ511", camsim::AuthMode::kDigest, 0, 2048, 1536, 83, 4, 83, true, true},
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

    // What the simulated camera holds reaches the report (labels, read-only
    // flags and fill order are the properties' unit tests').
    EXPECT_EQ(r.name, Oid(camera, "2.27") + " " + m.model);
    EXPECT_EQ(r.connection.at(2), std::to_string(camera.http_port()));
    std::string mac = Oid(camera, "2.7");
    std::erase(mac, '-');
    const std::string rtsp_port = Oid(camera, "1.17.3.1");
    std::map<uint32_t, std::string> expected_properties = {
        {1, "1"},
        {2, rtsp_port.empty() ? "554" : rtsp_port},
        {3, std::to_string(m.camera_group)},
        {4, Oid(camera, "2.5")},
        {5, mac},
        {6, Oid(camera, "1.2.20.5") + "x" + Oid(camera, "1.2.20.6")},
        {7, "1"},
        {8, m.audio ? std::to_string(std::stoi(Oid(camera, "1.17.1.2")) * 1000) : "0"},
    };
    if (m.audio) expected_properties[101] = expected_properties[102] = "Count=1; IsStereo=0";
    std::map<uint32_t, std::string> properties;
    for (const auto& [number, p] : r.properties) properties[number] = p.value;
    EXPECT_EQ(properties, expected_properties);

    std::map<uint32_t, uint32_t> expected_caps = {{0, 1},  {2, 1},  {3, 1},  {7, 1},
                                                  {11, 0}, {12, 0}, {13, 8}, {14, 1},
                                                  {15, 0}, {16, 0}, {17, 0}};
    if (m.h264) expected_caps[8] = 1;
    if (m.audio) expected_caps[4] = 1;
    EXPECT_EQ(r.capabilities, expected_caps);

    ASSERT_EQ(r.resolutions.size(), m.sizes);
    EXPECT_EQ(r.resolutions[0].width, m.first_width);
    EXPECT_EQ(r.resolutions[0].height, m.first_height);
    EXPECT_EQ(r.resolutions[0].interval_ms, m.first_interval);
    EXPECT_EQ(r.default_interval, m.default_interval);

    // The privacy masking switch was turned on.
    bool masking_on = false;
    for (const camsim::OidWrite& w : camera.oid_writes())
      masking_on |= w.oid == "1.2.26.4" && w.value == "ON";
    EXPECT_TRUE(masking_on);
    sim_.reset();
  }
}

TEST_F(QueryIntegrationTest, WrongCredentialsGiveStatusOneBeforeAnyOidIsAsked) {
  for (camsim::AuthMode auth : {camsim::AuthMode::kBasic, camsim::AuthMode::kDigest}) {
    camsim::Camera& camera = StartCamera("IQ031", auth);
    const CapabilityResult r = Query("127.0.0.1", camera.http_port(), "wrong-password");
    EXPECT_EQ(r.outcome, CapabilityResult::Outcome::kFailed);
    EXPECT_EQ(r.failure_status, 1u);
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
  EXPECT_EQ(r.reports, 1);
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
