#include "channels/h264_channel_rtsp.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "core/testing/fake_driver.h"
#include "platform/testing/scripted_server.h"
#include "platform/testing/udp.h"
#include "recorder/frame_allocator.h"
#include "recorder/frame_receiver.h"

namespace korvela {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Parameter sets of testdata/h264_640x480.h264, as the SDP carries them.
const Bytes kSps = {0x67, 0x42, 0xc0, 0x1e, 0xda, 0x02, 0x80, 0xf6, 0xc0, 0x44, 0x00, 0x00,
                    0x03, 0x00, 0x04, 0x00, 0x00, 0x03, 0x00, 0xc8, 0x3c, 0x58, 0xba, 0x80};
const Bytes kPps = {0x68, 0xce, 0x3c, 0x80};
constexpr char kSprop[] = "Z0LAHtoCgPbARAAAAwAEAAADAMg8WLqA,aM48gA==";

// OID writes go here; the device link may be told to fail.
struct FakeLink : IHttpStreamLink {
  struct Shared {
    std::mutex mutex;
    std::vector<std::string> requests;
    bool fail = false;
  };
  explicit FakeLink(Shared& s) : shared(s) {}
  bool RequestOk(const std::string& path) override {
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.requests.push_back(path);
    return !shared.fail;
  }
  Web::CResultDef RequestStatus(const std::string& path) override {
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.requests.push_back(path);
    return shared.fail ? Web::CResultDef{1, 2, "frame rate refused"} : Web::CResultDef{};
  }
  bool Usable() const override { return true; }
  bool OpenStream(const std::string&) override { return false; }
  size_t Read(std::span<uint8_t>) override { return 0; }
  void CloseStream() override {}
  void SetDeadlineIn(uint32_t) override {}
  void ClearDeadline() override {}
  void Abort() override {}
  void Rearm() override {}
  Shared& shared;
};

std::string Reply(int cseq, const std::string& headers, const std::string& body = "") {
  std::string r = "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) + "\r\n" + headers;
  if (!body.empty()) r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return r + "\r\n" + body;
}

// An RTP packet from `from` (127.0.0.x) to the channel's port.
void SendRtp(const char* from, uint16_t to_port, uint16_t seq, bool marker, const Bytes& payload) {
  Bytes packet = {0x80, uint8_t((marker ? 0x80 : 0) | 96), uint8_t(seq >> 8), uint8_t(seq)};
  packet.insert(packet.end(), {0, 0, 0x0e, 0x10, 1, 2, 3, 4});
  packet.insert(packet.end(), payload.begin(), payload.end());
  ASSERT_TRUE(testing::SendDatagramFrom(from, to_port, packet));
}

struct H264ChannelFixture : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(rtsp.ok());
    driver.device.user_name = "root";
    driver.device.password = "secret";
    driver.device.connect_timeout_ms = 2000;
    driver.device.receive_timeout_ms = 20000;
    driver.allocator = &allocator;
    driver.SetParameter(2, std::to_string(rtsp.port()));
    driver.SetParameter(3, "3");
  }
  std::unique_ptr<CH264ChannelRTSP> MakeChannel() {
    return std::make_unique<CH264ChannelRTSP>(
        &driver, 0, &receiver,
        [this](const DEVICE_INFO&) { return std::make_unique<FakeLink>(link); },
        platform::SystemClock(), RtpChannelTiming{.port_probe_ms = 100, .pass_ms = 50}, 20);
  }
  // Client RTP port announced in the SETUP request.
  uint16_t ClientPort() {
    for (const auto& r : rtsp.Requests()) {
      const size_t at = r.head.find("client_port=");
      if (r.head.starts_with("SETUP") && at != std::string::npos)
        return static_cast<uint16_t>(std::atoi(r.head.c_str() + at + 12));
    }
    return 0;
  }

  testing::ScriptedServer rtsp;
  FakeLink::Shared link;
  testing::FakeDriver driver;
  recorder::FrameAllocator allocator;
  recorder::FrameReceiver receiver;
};

TEST_F(H264ChannelFixture, RunsTheSessionAndDeliversFramesFromTheCameraOnly) {
  const std::string sdp =
      "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
      "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=" +
      std::string(kSprop) + "\r\na=control:trackID=1\r\n";
  rtsp.AddConnection({
      testing::HttpReply("RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
                         "WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\"\r\n\r\n"),
      testing::HttpReply(Reply(2, "Content-Type: application/sdp\r\n", sdp)),
      testing::HttpReply(Reply(3,
                               "Session: 12345678;timeout=60\r\n"
                               "Transport: RTP/AVP;unicast;client_port=1-2\r\n")),
      testing::HttpReply(Reply(4, "Session: 12345678\r\n")),
      testing::HttpReply(Reply(5, "Session: 12345678\r\n")),
  });
  auto channel = MakeChannel();
  ASSERT_TRUE(channel->Start({25, 50, 352, 240}));
  ASSERT_TRUE(rtsp.WaitForRequests(4, 10000));
  const uint16_t port = ClientPort();
  ASSERT_NE(port, 0);

  // An IDR slice from another host is ignored; the camera's arrives with the
  // parameter sets of the SDP in front.
  const Bytes idr = {0x65, 0x88, 0x84, 0x21};
  SendRtp("127.0.0.2", port, 7, true, idr);
  SendRtp("127.0.0.1", port, 8, true, idr);
  ASSERT_TRUE(receiver.WaitForFrames(1, 10s));
  const auto frame = receiver.Frames()[0];
  Bytes expected = {0, 0, 1};
  expected.insert(expected.end(), kSps.begin(), kSps.end());
  expected.insert(expected.end(), {0, 0, 1});
  expected.insert(expected.end(), kPps.begin(), kPps.end());
  expected.insert(expected.end(), {0, 0, 1, 0x65, 0x88, 0x84, 0x21, 0, 0, 0, 1, 9});
  EXPECT_EQ(frame.data, expected);
  EXPECT_EQ(frame.compression, ipcapture::kCompressionH264);
  EXPECT_EQ(frame.width, 640u);
  const auto online = [&] {
    return channel->GetState() == kChannelReceiving &&
           driver.log.Count("Camera 127.0.0.1 is online") == 1;
  };
  for (int i = 0; i < 500 && !online(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(online());
  channel->Stop();
  EXPECT_EQ(receiver.frame_count(), 1u);

  // The session ends with TEARDOWN even though the stop cuts its reply wait.
  ASSERT_TRUE(rtsp.WaitForRequests(5, 10000));
  const auto requests = rtsp.Requests();
  EXPECT_THAT(requests[4].head, ::testing::StartsWith("TEARDOWN "));
  EXPECT_THAT(requests[4].head, HasSubstr("Session: 12345678"));
  EXPECT_THAT(requests[0].head,
              HasSubstr("DESCRIBE rtsp://127.0.0.1:" + std::to_string(rtsp.port()) +
                        "/now.mp4?mm=v&res=low RTSP/1.0\r\n"));
  EXPECT_THAT(requests[0].head, ::testing::Not(HasSubstr("Authorization")));
  EXPECT_THAT(requests[1].head, HasSubstr("Authorization: Digest username=\"root\""));
  EXPECT_THAT(requests[2].head,
              HasSubstr("client_port=" + std::to_string(port) + "-" + std::to_string(port + 1)));
  EXPECT_THAT(requests[3].head, HasSubstr("Session: 12345678"));
  EXPECT_GE(port, RtpPortPair::kFirstRtpPort);
  EXPECT_EQ(port % 2, 0);
  // The encoder settings went out once, before the session; no keep-alive.
  EXPECT_THAT(link.requests,
              ElementsAre("/set.oid?OidTR1.17.2.6=mode10&OidTR1.17.2.4=45"
                          "&OidTR1.17.2.7=cbr&OidTR1.17.2.2=5500&OidTR1.17.2.10=45"));
  for (const auto& r : requests) EXPECT_FALSE(r.head.starts_with("OPTIONS"));
}

TEST_F(H264ChannelFixture, FrameRateChangeAndRefusedConfiguration) {
  auto channel = MakeChannel();
  EXPECT_TRUE(channel->ChangeSettings({30, 0, 0, 0}));
  link.fail = true;
  EXPECT_FALSE(channel->ChangeSettings({10, 0, 0, 0}));
  EXPECT_EQ(channel->GetSettings().frame_rate, 30u);
  EXPECT_FALSE(channel->ChangeSettings({30, 0, 640, 480}));  // no new size without a restart
  EXPECT_EQ(driver.log.Count("frame rate refused", 1), 1u);
  EXPECT_THAT(link.requests,
              ElementsAre("/set.oid?&OidTR1.17.2.4=30", "/set.oid?&OidTR1.17.2.4=105"));

  // A refused configuration starts no session.
  ASSERT_TRUE(channel->Start({25, 50, 352, 240}));
  std::this_thread::sleep_for(300ms);
  channel->Stop();
  EXPECT_TRUE(rtsp.Requests().empty());
  EXPECT_GE(link.requests.size(), 3u);
}

// A recorder out of descriptors: the stop event made then has none, and a
// channel whose waits could not be aborted must not start; one that runs out
// later logs why it has no session.
TEST_F(H264ChannelFixture, NoStopDescriptorRefusesTheStart) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "UBSan checks each object's vtable through a pipe, which needs descriptors";
#endif
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit none = saved;
  none.rlim_cur = 0;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
  auto channel = MakeChannel();
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);

  EXPECT_FALSE(channel->Start({25, 50, 352, 240}));
  EXPECT_EQ(channel->GetState(), CH264ChannelRTSP::kCameraFailed);
  EXPECT_EQ(driver.log.Count("not started: no descriptor for its stop event", 1), 1u);
  EXPECT_TRUE(rtsp.Requests().empty());

  // Running out later: the port search says why instead of failing silently
  // on every one of its ports.
  channel = MakeChannel();
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
  ASSERT_TRUE(channel->Start({25, 50, 352, 240}));
  for (int i = 0; i < 500 && driver.log.Count("no UDP socket on local port") == 0; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  channel->Stop();
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_GE(driver.log.Count("RtpPortPair::Start: no UDP socket on local port 3556: WSAEMFILE", 1),
            1u);
  EXPECT_TRUE(rtsp.Requests().empty());
}

}  // namespace
}  // namespace korvela
