#include "recorder/capability_host.h"

#include <map>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace korvela::recorder {
namespace {

TEST(CapabilityHostTest, OnlyTheFirstReportDecidesButEveryReportIsCounted) {
  CapabilityHost host;
  EXPECT_FALSE(host.WaitForReport(std::chrono::milliseconds(0)));
  std::thread worker([&] { host.OnFailed(1, "Failed to get camera properties"); });
  EXPECT_TRUE(host.WaitForReport(std::chrono::seconds(30)));
  worker.join();
  host.OnCompleted();
  const CapabilityResult r = host.Snapshot();
  EXPECT_EQ(r.outcome, CapabilityResult::Outcome::kFailed);
  EXPECT_EQ(r.failure_status, 1u);
  EXPECT_EQ(r.reports, 2);
}

TEST(CapabilityHostTest, JsonMirrorsTheCallsAndHidesThePassword) {
  CapabilityHost host;
  host.SetName("Lobby \"A\" IQ765");
  host.GetConnectionField(1)->SetValue("127.0.0.1");
  host.GetConnectionField(4)->SetValue("secret");
  host.SetCapability(8, 1);
  host.SetCapability(0, 1);
  ipcapture::ICapabilityProperty* p = host.AddProperty(2);
  EXPECT_EQ(host.AddProperty(2), p);  // a recorder keeps one object per number
  p->SetLabel("RTSP port");
  p->SetReadOnly(1);
  p->SetValue("554");
  host.GetResolutionList()->Add("720x480", 720, 480, 33);
  host.GetFrameRateList(1)->Add(1000);
  host.GetFrameRateList(1)->Add(33);
  host.GetFrameRateList(1)->SetDefault(33);
  host.OnCompleted();
  EXPECT_EQ(host.ToJson(),
            R"({"result":"completed","name":"Lobby \"A\" IQ765",)"
            R"("connection":{"1":"127.0.0.1","4":"***"},)"
            R"("properties":{"2":{"label":"RTSP port","value":"554","readOnly":true}},)"
            R"("capabilities":{"0":1,"8":1},)"
            R"("resolutions":[{"label":"720x480","width":720,"height":480,"interval":33}],)"
            R"("frameRates":{"intervals":[1000,33],"default":33}})");
  EXPECT_EQ(host.ToJson().find("secret"), std::string::npos);
  EXPECT_EQ(host.CameraParameters(), (std::map<uint32_t, std::string>{{2, "554"}}));
}

TEST(CapabilityHostTest, JsonKeepsUtf8TextAndReplacesBytesThatAreNotUtf8) {
  CapabilityHost host;
  const std::string name =
      "Kamera S\xc3\xbc"
      "d \xe6\x91\x84\xe5\x83\x8f IQ765";
  host.SetName(name.c_str());
  host.OnFailed(3, "line1\nline2\t\x01\xff");
  const std::string json = host.ToJson();
  EXPECT_NE(json.find(name), std::string::npos) << json;  // as it is, not byte by byte
  const nlohmann::json parsed = nlohmann::json::parse(json);
  EXPECT_EQ(parsed["name"], name);
  EXPECT_EQ(parsed["failure"]["status"], 3);
  EXPECT_EQ(parsed["failure"]["message"], "line1\nline2\t\x01\xef\xbf\xbd");  // U+FFFD
}

TEST(CapabilityHostTest, TableNamesWhatTheDeviceOffers) {
  CapabilityHost host;
  host.SetName("Lobby IQ765");
  host.SetCapability(8, 1);
  host.SetCapability(7, 1);
  host.SetCapability(2, 1);
  host.SetCapability(13, 8);
  for (auto [n, v] : {std::pair{5u, "00501A020304"}, std::pair{7u, "1"}, std::pair{1u, "0"},
                      std::pair{101u, "Count=1; IsStereo=0"}}) {
    host.AddProperty(n)->SetValue(v);
  }
  host.GetResolutionList()->Add("2592x1944", 2592, 1944, 100);
  host.GetFrameRateList(1)->SetDefault(100);
  host.OnCompleted();
  const std::string table = FormatCapabilityTable(host.Snapshot());
  // The lines the probe script does not check against the simulator.
  for (const char* line :
       {"MAC address            00501A020304\n", "  2592x1944      100 ms  10 fps\n",
        "Digital outputs        0\n", "Audio input            Count=1; IsStereo=0\n",
        "Audio output           none\n", "Video standard         0 (25 fps fallback)\n"}) {
    EXPECT_NE(table.find(line), std::string::npos) << line << "\nin\n" << table;
  }
}

}  // namespace
}  // namespace korvela::recorder
