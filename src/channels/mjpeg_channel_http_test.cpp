#include "channels/mjpeg_channel_http.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/event.h"
#include "channels/sender_stream_link.h"
#include "channels/testing/recording_frame_allocator.h"
#include "core/testing/fake_driver.h"
#include "device/privacy_zone_quarno.h"
#include "platform/clock.h"
#include "platform/testing/scripted_server.h"
#include "recorder/frame_receiver.h"
#include "recorder/video_params.h"

namespace korvela {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAre;

Bytes ReadSample() {
  std::ifstream in(std::string(KORVELA_JPEG_CORPUS_DIR) + "/picture_160x120.jpg", std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Part(const Bytes& picture) {
  const std::string head = "--frame\r\nContent-Type: image/jpeg\r\n\r\n";
  Bytes b(head.begin(), head.end());
  b.insert(b.end(), picture.begin(), picture.end());
  b.insert(b.end(), {'\r', '\n'});
  return b;
}

// What the device does, shared by the channel's two links. Reads are taken
// from `reads`; when none is left the stream link parks until it is aborted.
struct DeviceScript {
  struct Read {
    Bytes bytes;              // empty: the read returns 0 (end or time-out)
    uint64_t advance_ms = 0;  // time the read takes on the manual clock
  };

  explicit DeviceScript(platform::ManualClock& c) : clock(c) {}

  void Record(const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(entry);
  }
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(mutex);
    return log;
  }
  void AddReads(std::initializer_list<Read> more) {
    std::lock_guard<std::mutex> lock(mutex);
    reads.insert(reads.end(), more.begin(), more.end());
  }

  platform::ManualClock& clock;
  std::mutex mutex;
  std::vector<std::string> log;   // requests as "stream:PATH", "control:PATH", "open:PATH"
  std::deque<Read> reads;         // guarded by mutex
  std::deque<bool> configure_ok;  // results of configuration writes, default true
  Web::CResultDef status_result;
  CManualEvent parked;  // set whenever a read finds the script empty
  int links_made = 0;
};

class ScriptedLink : public IHttpStreamLink {
 public:
  ScriptedLink(DeviceScript& script, std::string name) : script_(script), name_(std::move(name)) {}

  bool Usable() const override { return true; }
  bool RequestOk(const std::string& path) override {
    if (aborted_.IsSet()) return false;
    script_.Record(name_ + ":" + path);
    const bool configure = path.find("OidTR1.2.7=") != std::string::npos;
    std::lock_guard<std::mutex> lock(script_.mutex);
    if (configure && !script_.configure_ok.empty()) {
      const bool ok = script_.configure_ok.front();
      script_.configure_ok.pop_front();
      return ok;
    }
    return true;
  }
  Web::CResultDef RequestStatus(const std::string& path) override {
    if (aborted_.IsSet()) return {4, 10, {}, platform::NetError::kAborted};
    script_.Record(name_ + ":" + path);
    return script_.status_result;
  }
  bool OpenStream(const std::string& path) override {
    if (aborted_.IsSet()) return false;
    script_.Record("open:" + path);
    return true;
  }
  size_t Read(std::span<uint8_t> out) override {
    if (aborted_.IsSet()) return 0;
    DeviceScript::Read read;
    {
      std::lock_guard<std::mutex> lock(script_.mutex);
      if (!script_.reads.empty()) {
        read = script_.reads.front();
        script_.reads.pop_front();
      } else {
        read.advance_ms = UINT64_MAX;  // park
      }
    }
    if (read.advance_ms == UINT64_MAX) return Park();
    script_.clock.AdvanceMs(read.advance_ms);
    const size_t n = std::min(out.size(), read.bytes.size());
    std::copy_n(read.bytes.begin(), n, out.begin());
    if (n < read.bytes.size()) {
      // The rest comes with the next read, at once.
      std::lock_guard<std::mutex> lock(script_.mutex);
      script_.reads.push_front({std::vector<uint8_t>(read.bytes.begin() + n, read.bytes.end()), 0});
    }
    return n;
  }
  void CloseStream() override {}
  void SetDeadlineIn(uint32_t) override {}
  void ClearDeadline() override {}
  void Abort() override { aborted_.Set(); }
  void Rearm() override { aborted_.Reset(); }

  std::atomic<bool> aborted_while_parked_{false};

 private:
  // Blocks as a silent camera would, until the link is aborted.
  bool Park() {
    script_.parked.Set();
    aborted_while_parked_ = aborted_.Wait(30000);
    return false;
  }

  DeviceScript& script_;
  const std::string name_;
  CManualEvent aborted_;
};

struct CountingReceiver : ipcapture::IFrameReceiver {
  bool OnFrame(ipcapture::IVideoFrame* frame) override {
    auto* f = static_cast<testing::RecordingVideoFrame*>(frame);
    std::lock_guard<std::mutex> lock(mutex);
    frames.push_back(f->Data());
    return true;
  }
  void OnSignalLost() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++signal_lost;
  }
  std::mutex mutex;
  std::vector<Bytes> frames;
  int signal_lost = 0;
};

struct CountingZones : ipcapture::IPrivacyZones {
  explicit CountingZones(DeviceScript& s) : script(s) {}
  void SetZones(ipcapture::IPrivacyZoneList*) override {}
  bool Apply() override {
    script.Record("privacy-zones");
    return true;
  }
  DeviceScript& script;
};

struct MjpegChannelFixture : ::testing::Test {
  MjpegChannelFixture() {
    driver.device.address = "10.0.0.5";
    driver.device.receive_timeout_ms = 20000;
    driver.allocator = &allocator;
    driver.SetParameter(3, "0");
    driver.SetParameter(6, "1280x1024");
  }

  std::unique_ptr<CMjpegChannelHTTP> MakeChannel(HttpChannelTiming timing = {0, 0}) {
    return std::make_unique<CMjpegChannelHTTP>(
        &driver, 0, &receiver,
        [this](const DEVICE_INFO&) -> std::unique_ptr<IHttpStreamLink> {
          auto link = std::make_unique<ScriptedLink>(
              script, script.links_made++ == 0 ? "stream" : "control");
          if (!stream_link) stream_link = link.get();
          return link;
        },
        clock, timing);
  }

  // Waits until the worker has used up the script and parked in a read.
  void WaitParked() {
    ASSERT_TRUE(script.parked.Wait(30000));
    script.parked.Reset();
  }

  platform::ManualClock clock{1000000, 1000};
  DeviceScript script{clock};
  testing::FakeDriver driver;
  testing::RecordingFrameAllocator allocator;
  CountingReceiver receiver;
  ScriptedLink* stream_link = nullptr;
  const Bytes sample = ReadSample();
};

TEST_F(MjpegChannelFixture, ConfiguresOpensAndDeliversEveryPictureOnce) {
  Bytes two = Part(sample);
  const Bytes second = Part(sample);
  two.insert(two.end(), second.begin(), second.end());
  // The second picture is cut in the middle of its end-of-image marker.
  const size_t cut = two.size() - 3;
  script.AddReads({{Bytes(two.begin(), two.begin() + cut)}, {Bytes(two.begin() + cut, two.end())}});
  auto channel = MakeChannel();
  ASSERT_TRUE(channel->Start({25, 50, 640, 512}));
  WaitParked();

  EXPECT_EQ(channel->GetState(), kChannelReceiving);
  EXPECT_THAT(
      script.Log(),
      ElementsAre("stream:/set.oid?OidTR1.2.6.1=0&OidTR1.2.6.4=0&OidTR1.2.6.2=1280&"
                  "OidTR1.2.6.3=1024",
                  "stream:/set.oid?OidTR1.2.7=58&OidTR1.2.31=40",
                  "stream:/set.oid?OidTR1.17.2.19.3.2=40", "open:/now.jpg?snap=spush0.03&ds=2"));
  EXPECT_THAT(receiver.frames, ElementsAre(sample, sample));
  ASSERT_EQ(allocator.count(), 2u);
  EXPECT_EQ(allocator.frame(0).width, 160u);
  EXPECT_EQ(allocator.frame(0).height, 120u);
  EXPECT_EQ(allocator.frame(0).resolution_class, 1u);
  EXPECT_EQ(driver.log.Count("Camera 10.0.0.5 is online", 3), 1u);

  channel->Stop();
  EXPECT_TRUE(stream_link->aborted_while_parked_);
  EXPECT_EQ(channel->GetState(), kChannelStopped);
  EXPECT_EQ(driver.log.Count("is offline. Channel was stopped", 3), 1u);
}

TEST_F(MjpegChannelFixture, EndedStreamIsClosedReportedAndReopenedAtOnce) {
  script.AddReads({{Part(sample)}, {}, {Part(sample)}});
  auto channel = MakeChannel({60000, 60000});  // a pause would park the test: none expected
  ASSERT_TRUE(channel->Start({0, 50, 640, 512}));
  WaitParked();
  const std::vector<std::string> one_connection = {
      "stream:/set.oid?OidTR1.2.6.1=0&OidTR1.2.6.4=0&OidTR1.2.6.2=1280&OidTR1.2.6.3=1024",
      "stream:/set.oid?OidTR1.2.7=58&OidTR1.2.31=1", "stream:/set.oid?OidTR1.17.2.19.3.2=1",
      "open:/now.jpg?snap=spush0.00&ds=2"};
  std::vector<std::string> expected = one_connection;
  expected.push_back("stream:/set.oid?OidTR1.17.2.19.3.2=2");  // fps 0: interval 1 → 2
  expected.insert(expected.end(), one_connection.begin(), one_connection.end());
  EXPECT_EQ(script.Log(), expected);
  EXPECT_EQ(receiver.frames.size(), 2u);
}

TEST_F(MjpegChannelFixture, PictureCutByAReconnectionIsNotDelivered) {
  const Bytes part = Part(sample);
  const Bytes head(part.begin(), part.begin() + 2000);
  const Bytes tail(part.begin() + 2000, part.end());
  // The old connection ends mid-picture; the new one starts with bytes that
  // would complete it.
  script.AddReads({{Part(sample)}, {head}, {}, {tail}, {Part(sample)}});
  auto channel = MakeChannel();
  ASSERT_TRUE(channel->Start({25, 50, 640, 512}));
  WaitParked();
  EXPECT_THAT(receiver.frames, ElementsAre(sample, sample));
}

TEST_F(MjpegChannelFixture, SilentCameraThatKeepsAcceptingConnectionsIsReportedLostThenOnline) {
  script.AddReads({
      {Part(sample)},  // online
      {{}, 6000},      // reads time out; every reconnection succeeds
      {{}, 6000},
      {{}, 6000},
      {{}, 6000},          // 24 s without a frame
      {Part(sample), 10},  // frames flow again
  });
  auto channel = MakeChannel();
  ASSERT_TRUE(channel->Start({25, 50, 640, 512}));
  WaitParked();
  EXPECT_EQ(receiver.signal_lost, 1);
  EXPECT_EQ(receiver.frames.size(), 2u);
  EXPECT_EQ(channel->GetState(), kChannelReceiving);
  // The lines' texts are the base channel's test's.
  EXPECT_EQ(driver.log.Count("is online", 3), 2u);
  EXPECT_EQ(driver.log.Count("Signal was lost for camera 10.0.0.5", 1), 1u);
  EXPECT_EQ(driver.log.Lines().size(), 3u);
}

TEST_F(MjpegChannelFixture, StoppedChannelStaysStopped) {
  auto channel = MakeChannel();
  ASSERT_TRUE(channel->Start({25, 50, 640, 512}));
  WaitParked();
  channel->Stop();
  const size_t requests = script.Log().size();
  EXPECT_FALSE(channel->ChangeSettings({10, 0, 640, 512}));
  EXPECT_EQ(channel->GetState(), kChannelStopped);
  EXPECT_EQ(script.Log().size(), requests);  // nothing written, no worker restarted
  EXPECT_EQ(channel->GetSettings().frame_rate, 25u);
}

TEST_F(MjpegChannelFixture, NewConnectionGetsAFullTimeOutForItsFirstFrame) {
  // Lost after 21 s of silence; the reconnection then needs 15 s of reading
  // before its first picture, which is within one time-out of the connection.
  script.AddReads({{Part(sample)}, {{}, 21000}, {Bytes(10, 'x'), 15000}, {Part(sample)}});
  auto channel = MakeChannel();
  ASSERT_TRUE(channel->Start({25, 50, 640, 512}));
  WaitParked();
  EXPECT_EQ(receiver.signal_lost, 1);
  EXPECT_EQ(receiver.frames.size(), 2u);
}

TEST_F(MjpegChannelFixture, FailedConfigurationIsRetriedAfterAPauseNotInAHotLoop) {
  script.configure_ok = {false, false, false};
  auto channel = MakeChannel({60000, 60000});
  ASSERT_TRUE(channel->Start({25, 50, 640, 512}));
  // The worker now waits on its stop event; Stop ends that wait at once.
  for (int i = 0; i < 1000 && script.Log().size() < 3; ++i) script.parked.Wait(1);
  channel->Stop();
  EXPECT_THAT(script.Log(),
              ElementsAre(::testing::HasSubstr("OidTR1.2.6.1=0"),
                          "stream:/set.oid?OidTR1.2.7=58&OidTR1.2.31=40",
                          "stream:/set.oid?OidTR1.17.2.19.3.2=1"));  // closed after the attempt
  EXPECT_EQ(channel->GetState(), kChannelStopped);
  EXPECT_TRUE(receiver.frames.empty());
}

TEST_F(MjpegChannelFixture, NewFrameRateIsWrittenOnTheControlLinkAndRestartsTheWorker) {
  auto channel = MakeChannel();
  ASSERT_TRUE(channel->Start({25, 50, 640, 512}));
  WaitParked();
  ASSERT_TRUE(channel->ChangeSettings({10, 0, 640, 512}));
  WaitParked();
  const auto log = script.Log();
  // The old stream is aborted by the restart: nothing more is sent on it.
  ASSERT_EQ(log.size(), 9u);
  EXPECT_EQ(log[4], "control:/set.oid?OidTR1.2.31=100");
  EXPECT_EQ(log[6], "stream:/set.oid?OidTR1.2.7=58&OidTR1.2.31=100");
  EXPECT_EQ(log[8], "open:/now.jpg?snap=spush0.01&ds=2");
  EXPECT_EQ(channel->GetSettings().frame_rate, 10u);
}

TEST_F(MjpegChannelFixture, RefusedFrameRateIsLoggedAndTheStreamKeepsRunning) {
  script.status_result = {1, 7, "korvela::HUtils::RequestGetRD: 10.0.0.5:80 sent does not process"};
  auto channel = MakeChannel();
  ASSERT_TRUE(channel->Start({25, 50, 640, 512}));
  WaitParked();
  EXPECT_FALSE(channel->ChangeSettings({10, 0, 640, 512}));
  EXPECT_EQ(channel->GetSettings().frame_rate, 25u);
  EXPECT_TRUE(driver.log.HasLine(1, script.status_result.message));
  EXPECT_EQ(script.Log().size(), 5u);  // no reconnection
  EXPECT_FALSE(stream_link->aborted_while_parked_);

  // A level-4 result is not logged.
  script.status_result = {4, 10, "korvela::HUtils::RequestGetRD: can not send request"};
  EXPECT_FALSE(channel->ChangeSettings({10, 0, 640, 512}));
  EXPECT_FALSE(driver.log.Contains("can not send request"));
  // A new picture size is refused.
  EXPECT_FALSE(channel->ChangeSettings({25, 0, 1280, 1024}));
  EXPECT_EQ(channel->GetSettings().width, 640u);
}

TEST_F(MjpegChannelFixture, ModeGroupsWriteTheModeAndApplyPrivacyZonesFirst) {
  CountingZones zones(script);
  driver.privacy_zones = &zones;
  driver.SetParameter(3, "4");
  auto channel = MakeChannel();
  EXPECT_EQ(channel->camera_group(), 4u);
  ASSERT_TRUE(channel->Start({25, 50, 1920, 1080}));
  WaitParked();
  EXPECT_THAT(script.Log(),
              ElementsAre("privacy-zones",
                          "stream:/set.oid?OidTR1.17.2.6=mode5&OidTR1.2.7=58&OidTR1.2.31=40",
                          "stream:/set.oid?OidTR1.17.2.19.3.2=40", "open:/now.jpg?snap=spush0.03"));
}

// The channel over its real links against a scripted camera on loopback.
struct RealLinkFixture : ::testing::Test {
  RealLinkFixture() {
    driver.device.address = "127.0.0.1";
    driver.device.port = server.port();
    driver.SetParameter(3, "0");
    driver.SetParameter(6, "1280x1024");
  }
  korvela::testing::ScriptedServer server;
  testing::FakeDriver driver;
};

TEST_F(RealLinkFixture, CameraTricklingItsConfigurationAnswerIsReportedLost) {
  // One byte every 300 ms: no wait runs out, and the answer would take 20 s,
  // as long as the exchange may last. The time spent opening counts toward
  // the signal loss, so the loss comes after the receive time-out instead.
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 26\r\n\r\n<html><xmp>OK</xmp></html>";
  server.AddConnection({korvela::testing::HttpReply(ok), korvela::testing::Trickle(ok, 300)});
  driver.device.connect_timeout_ms = 5000;
  driver.device.receive_timeout_ms = 1500;
  recorder::FrameReceiver receiver;
  CMjpegChannelHTTP channel(&driver, 0, &receiver, MakeSenderStreamLink, platform::SystemClock(),
                            HttpChannelTiming{60000, 60000});
  ASSERT_TRUE(channel.Start({25, 50, 640, 512}));
  ASSERT_TRUE(receiver.WaitForSignalLost(1, std::chrono::seconds(12)));
  EXPECT_EQ(channel.GetState(), kChannelSignalLost);
  channel.Stop();
}

TEST_F(RealLinkFixture, StopEndsAPrivacyZoneWriteTheCameraDoesNotAnswer) {
  server.AddConnection({korvela::testing::HangAfterRequest()});
  driver.device.connect_timeout_ms = 60000;  // only the abort can end the write in time
  CQuarnoPrivacyZone zones(&driver);
  recorder::VideoParams params;
  params.SetZones({{0, 0, 1, 10, 20, 50, 60}});
  zones.SetZones(&params);
  driver.privacy_zones = &zones;
  CountingReceiver receiver;
  CMjpegChannelHTTP channel(&driver, 0, &receiver);
  ASSERT_TRUE(channel.Start({25, 50, 640, 512}));
  ASSERT_TRUE(server.WaitForRequests(1, 30000));
  const auto start = std::chrono::steady_clock::now();
  channel.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_THAT(server.Requests()[0].head,
              ::testing::StartsWith("GET /set.oid?OidTB1.2.26.4=ON HTTP/1.1"));
}

}  // namespace
}  // namespace korvela
