// In-process tests of the simulator's servers and media pump over loopback,
// with a hand-written client, for what the real-client interop tests cannot
// provoke (limits, refused transports, faults on the RTP level).
#include <algorithm>

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "camera_context.h"
#include "camsim.h"
#include "media_pump.h"
#include "net.h"

#ifndef CAMSIM_TESTDATA_DIR
#define CAMSIM_TESTDATA_DIR "testdata"
#endif

namespace camsim {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

struct RtpPacket {
  uint16_t seq;
  uint32_t ts;
  bool marker;
  uint8_t pt;
  std::string from;
};

// A client UDP port pair that collects RTP and RTCP.
struct UdpClient {
  UdpClient() {
    for (int i = 0; i < 16 && !rtcp.valid(); ++i) {
      rtp = OpenUdp("127.0.0.1", 0, nullptr);
      if (LocalPort(rtp.get()) % 2 == 0)
        rtcp = OpenUdp("127.0.0.1", uint16_t(LocalPort(rtp.get()) + 1), nullptr);
    }
    EXPECT_TRUE(rtcp.valid());
  }
  sockaddr_in Address(int fd) const {
    sockaddr_in a;
    MakeAddress("127.0.0.1", LocalPort(fd), &a);
    return a;
  }
  // Receives RTP packets until n arrived or 3 s passed.
  std::vector<RtpPacket> Receive(size_t n) {
    std::vector<RtpPacket> out;
    char buf[2048];
    while (out.size() < n && WaitReadable(rtp.get(), 3000) > 0) {
      sockaddr_in from{};
      socklen_t len = sizeof(from);
      const ssize_t got =
          ::recvfrom(rtp.get(), buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (got < 12) continue;
      auto u8 = [&](int i) { return uint32_t(uint8_t(buf[i])); };
      out.push_back({uint16_t(u8(2) << 8 | u8(3)), u8(4) << 24 | u8(5) << 16 | u8(6) << 8 | u8(7),
                     bool(u8(1) & 0x80), uint8_t(u8(1) & 0x7f), AddressText(from)});
    }
    return out;
  }
  UniqueFd rtp;
  UniqueFd rtcp;
};

struct PumpFixture {
  PumpFixture() {
    std::string error;
    clip = H264Clip::Load(std::string(CAMSIM_TESTDATA_DIR) + "/h264_640x480.h264", &error);
    EXPECT_TRUE(clip) << error;
    EXPECT_TRUE(pump.Start(&error)) << error;
  }
  StreamPorts Add(MediaKind kind, std::chrono::milliseconds timeout = 60s) {
    StreamSetup s;
    s.kind = kind;
    s.clip = &*clip;
    s.audio = &audio;
    s.bind_host = "127.0.0.1";
    s.client_rtp = client.Address(client.rtp.get());
    s.client_rtcp = client.Address(client.rtcp.get());
    s.observations = &observations;
    s.faults = &faults;
    s.timeout = timeout;
    s.rtcp_interval = 100ms;
    std::string error;
    const auto ports = pump.AddStream(std::move(s), &error);
    EXPECT_TRUE(ports) << error;
    return ports.value_or(StreamPorts{});
  }
  std::optional<H264Clip> clip;
  std::string audio = std::string(400, '\x55');
  Observations observations;
  FaultSwitches faults;
  UdpClient client;
  MediaPump pump;  // last: stopped before anything it refers to goes away
};

// Dropping packets is the H.264 recording integration test's.
TEST(MediaPumpTest, FaultsReorderAndChangeTheSource) {
  PumpFixture f;
  const StreamPorts ports = f.Add(MediaKind::kAudio);
  f.faults.Set({Fault::Kind::kReorder, 0});
  f.pump.Play(ports.id);
  auto packets = f.client.Receive(10);
  ASSERT_EQ(packets.size(), 10u);
  for (size_t i = 0; i + 1 < packets.size(); i += 2) {
    EXPECT_EQ(packets[i].seq, uint16_t(packets[i + 1].seq + 1)) << "pair " << i;  // swapped
    EXPECT_EQ(packets[i].pt, 0);
    EXPECT_FALSE(packets[i].marker);
  }
  f.faults.ClearAll();
  f.faults.Set({Fault::Kind::kRtpAltSource, 0});
  packets = f.client.Receive(20);
  ASSERT_FALSE(packets.empty());
  const std::string server = "127.0.0.1:" + std::to_string(ports.server_rtp);
  EXPECT_NE(packets.back().from, server);
  f.faults.ClearAll();
  packets = f.client.Receive(20);
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(packets.back().from, server);
}

TEST(MediaPumpTest, ReceiverReportsAreRecordedAndKeepTheSessionAlive) {
  PumpFixture f;
  const StreamPorts ports = f.Add(MediaKind::kAudio, 600ms);
  f.pump.Play(ports.id);
  sockaddr_in server;
  MakeAddress("127.0.0.1", ports.server_rtcp, &server);
  const std::string rr_bye("\x80\xc9\x00\x01\x00\x00\x00\x01\x81\xcb\x00\x01\x00\x00\x00\x01", 16);
  // Reports more often than the time-out keep the stream for several time-outs.
  for (int i = 0; i < 8; ++i) {
    ::sendto(f.client.rtcp.get(), rr_bye.data(), rr_bye.size(), 0,
             reinterpret_cast<sockaddr*>(&server), sizeof(server));
    const size_t want = size_t(i + 1);
    ASSERT_TRUE(f.observations.WaitUntil(
        [&] { return f.observations.rtcp_received().size() >= want; }, 3s));
    f.client.Receive(10);  // 200 ms of audio
    EXPECT_TRUE(f.pump.Exists(ports.id)) << i;
  }
  const auto records = f.observations.rtcp_received();
  EXPECT_TRUE(records[0].has_receiver_report && records[0].has_bye);
  EXPECT_EQ(std::string(records[0].bytes.begin(), records[0].bytes.end()), rr_bye);
  // Without reports or requests the session times out.
  EXPECT_TRUE(f.observations.WaitUntil([&] { return !f.pump.Exists(ports.id); }, 5s));
}

// The push's framing is read by the driver and by ffprobe (integration and
// interop tests); here a client that reads nothing: at most the part in
// flight is held, the rest of the frames are skipped (no growing buffer).
TEST(MediaPumpTest, PushNeverQueuesForASlowClient) {
  PumpFixture f;
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  UniqueFd idle(fds[0]);
  const int small = 4096;
  ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
  static const std::vector<std::string> big = {std::string(1 << 20, 'j')};
  PushSetup slow;
  slow.fd.reset(fds[1]);
  slow.pictures = &big;
  slow.boundary = "b";
  slow.interval = 5ms;
  slow.observations = &f.observations;
  ASSERT_TRUE(f.pump.AddPush(std::move(slow), nullptr));
  EXPECT_FALSE(f.observations.WaitUntil(
      [&] { return f.observations.counters().jpeg_frames_sent >= 2; }, 300ms));
  EXPECT_EQ(f.observations.counters().jpeg_frames_sent, 1u);
}

// ---- HTTP and RTSP servers with a raw client ----

struct SimFixture {
  explicit SimFixture(std::string model = "IQ765", AuthMode auth = AuthMode::kNone) {
    SimulatorOptions o;
    o.camera.model = std::move(model);
    o.camera.auth = auth;
    Start(o);
  }
  explicit SimFixture(const SimulatorOptions& o) { Start(o); }
  void Start(const SimulatorOptions& o) {
    std::string error;
    sim = Simulator::Start(o, &error);
    EXPECT_TRUE(sim) << error;
  }
  UniqueFd Connect(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a;
    MakeAddress("127.0.0.1", port, &a);
    EXPECT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    return fd;
  }
  // Reads until the text holds `count` occurrences of `marker` or the peer closes.
  static std::string ReadUntil(int fd, const std::string& marker, size_t count = 1) {
    std::string text;
    char buf[8192];
    auto occurrences = [&] {
      size_t c = 0;
      for (size_t p = text.find(marker); p != std::string::npos; p = text.find(marker, p + 1)) ++c;
      return c;
    };
    while (occurrences() < count && WaitReadable(fd, 3000) > 0) {
      const ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
      if (n <= 0) break;
      text.append(buf, size_t(n));
    }
    return text;
  }
  Camera& cam() { return sim->camera(0); }
  std::unique_ptr<Simulator> sim;
};

// A talk-back POST with Expect: 100-continue and bytes recorded as they
// arrive are what the driver's talk-back integration test sends.
TEST(SimulatorHttpTest, OversizeHeadAndTalkBackWithoutAudioAreRefused) {
  SimFixture f;
  UniqueFd c = f.Connect(f.cam().http_port());
  SendAll(c.get(), "GET / HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n");
  EXPECT_THAT(SimFixture::ReadUntil(c.get(), "\r\n\r\n"), HasSubstr("431"));
  SimFixture without_audio("IQ765-noaudio");
  UniqueFd post = without_audio.Connect(without_audio.cam().http_port());
  SendAll(post.get(),
          "POST /audiorx.cgi HTTP/1.1\r\nContent-Type: audio/ulaw\r\nContent-Length: 1\r\n\r\nx");
  EXPECT_THAT(SimFixture::ReadUntil(post.get(), "\r\n\r\n"), HasSubstr("404"));
}

std::string Rtsp(int fd, const std::string& request) {
  SendAll(fd, request);
  return SimFixture::ReadUntil(fd, "\r\n\r\n");
}

// The happy path is ffprobe's and ffmpeg's (camsim_interop_test); here what
// they never send.
TEST(SimulatorRtspTest, RefusedRequestsAndTeardown) {
  SimFixture f;
  UniqueFd c = f.Connect(f.cam().rtsp_port());
  const std::string url = "rtsp://127.0.0.1/now.mp4?mm=v";
  EXPECT_THAT(Rtsp(c.get(), "OPTIONS " + url + " RTSP/1.0\r\n\r\n"),
              HasSubstr("RTSP/1.0 400"));  // no CSeq
  const std::string describe = Rtsp(c.get(), "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 1\r\n\r\n");
  const std::string sdp = describe.find("trackID=1\r\n") != std::string::npos
                              ? describe
                              : describe + SimFixture::ReadUntil(c.get(), "trackID=1\r\n");
  EXPECT_EQ(sdp.find("m=audio"), std::string::npos);  // mm=v: video only
  const std::string setup = "SETUP " + url + "/trackID=1 RTSP/1.0\r\nCSeq: 2\r\nTransport: ";
  EXPECT_THAT(Rtsp(c.get(), setup + "RTP/AVP/TCP;interleaved=0-1\r\n\r\n"), HasSubstr("461"));
  EXPECT_THAT(Rtsp(c.get(), "PLAY " + url + " RTSP/1.0\r\nCSeq: 3\r\nSession: 1234\r\n\r\n"),
              HasSubstr("454"));
  UdpClient udp;
  const uint16_t p = LocalPort(udp.rtp.get());
  const std::string reply =
      Rtsp(c.get(), setup + "RTP/AVP;unicast;client_port=" + std::to_string(p) + "-" +
                        std::to_string(p + 1) + "\r\n\r\n");
  ASSERT_NE(reply.find("RTSP/1.0 200"), std::string::npos) << reply;
  const size_t at = reply.find("Session: ") + 9;
  const std::string teardown = "TEARDOWN " + url + " RTSP/1.0\r\nCSeq: 5\r\nSession: " +
                               reply.substr(at, reply.find(';', at) - at) + "\r\n\r\n";
  EXPECT_THAT(Rtsp(c.get(), teardown), HasSubstr("RTSP/1.0 200"));
  EXPECT_THAT(Rtsp(c.get(), teardown), HasSubstr("454"));

  // A camera without H.264 has no video stream to describe.
  SimFixture mjpeg_only("IQ042");
  UniqueFd m = mjpeg_only.Connect(mjpeg_only.cam().rtsp_port());
  EXPECT_THAT(Rtsp(m.get(), "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 1\r\n\r\n"), HasSubstr("404"));
}

// A restart as clients see it is the recording integration tests'.
TEST(SimulatorFaultTest, SlowRepliesStillArriveWhole) {
  SimFixture f;
  f.cam().InjectFault({Fault::Kind::kSlowReplies, 100});
  UniqueFd c = f.Connect(f.cam().http_port());
  SendAll(c.get(), "GET /get.oid?2.8 HTTP/1.1\r\n\r\n");
  EXPECT_THAT(SimFixture::ReadUntil(c.get(), "</html>"), HasSubstr("<xmp>IQ765</xmp>"));
}

TEST(SimulatorLimitsTest, ConnectionsSessionsAndIgnoredBodiesAtTheLimitAndOnePast) {
  SimFixture f;
  {
    std::vector<UniqueFd> open;
    for (size_t i = 0; i < kMaxConnectionsPerCamera; ++i) {
      open.push_back(f.Connect(f.cam().http_port()));
      // Each one is served, so the acceptor has taken it before the next.
      ASSERT_TRUE(SendAll(open.back().get(), "GET /get.oid?2.8 HTTP/1.1\r\n\r\n"));
      ASSERT_NE(SimFixture::ReadUntil(open.back().get(), "</html>").find("IQ765"),
                std::string::npos)
          << i;
    }
    UniqueFd extra = f.Connect(f.cam().http_port());
    SendAll(extra.get(), "GET /get.oid?2.8 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(SimFixture::ReadUntil(extra.get(), "</html>"), "");  // closed unanswered
  }
  {
    UniqueFd c = f.Connect(f.cam().http_port());
    std::string body(kMaxIgnoredBody, 'b');
    SendAll(c.get(), "GET /get.oid?2.8 HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\n\r\n" + body);
    EXPECT_THAT(SimFixture::ReadUntil(c.get(), "</html>"), HasSubstr("200 OK"));
    SendAll(c.get(), "GET /get.oid?2.8 HTTP/1.1\r\nContent-Length: " +
                         std::to_string(body.size() + 1) + "\r\n\r\n");
    EXPECT_THAT(SimFixture::ReadUntil(c.get(), "</html>"), HasSubstr("413"));
  }
  UniqueFd r = f.Connect(f.cam().rtsp_port());
  const std::string url = "rtsp://127.0.0.1/now.mp4?mm=v/trackID=1";
  UdpClient udp;
  const std::string transport =
      "Transport: RTP/AVP;unicast;client_port=" + std::to_string(LocalPort(udp.rtp.get())) + "-" +
      std::to_string(LocalPort(udp.rtcp.get())) + "\r\n";
  for (size_t i = 0; i < CameraContext::kMaxSessions; ++i) {
    ASSERT_NE(Rtsp(r.get(), "SETUP " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(i + 1) +
                                "\r\n" + transport + "\r\n")
                  .find("RTSP/1.0 200"),
              std::string::npos)
        << i;
  }
  EXPECT_THAT(Rtsp(r.get(), "SETUP " + url + " RTSP/1.0\r\nCSeq: 999\r\n" + transport + "\r\n"),
              HasSubstr("RTSP/1.0 453"));
}

// A session that times out after its control connection closed still logs
// through the camera (the connection object is gone by then).
TEST(SimulatorRtspTest, SessionTimesOutAfterItsConnectionClosed) {
  struct Log {
    korvela::Mutex mu;
    std::vector<std::string> lines GUARDED_BY(mu);
    bool Has(const std::string& text) {
      korvela::MutexLock lock(mu);
      return std::any_of(lines.begin(), lines.end(),
                         [&](auto& l) { return l.find(text) != std::string::npos; });
    }
  };
  auto log = std::make_shared<Log>();
  SimulatorOptions o;
  o.camera.auth = AuthMode::kNone;
  o.camera.session_timeout_s = 1;
  o.log = [log](std::string_view line) {
    korvela::MutexLock lock(log->mu);
    log->lines.emplace_back(line);
  };
  SimFixture f(o);
  UdpClient udp;
  {
    UniqueFd r = f.Connect(f.cam().rtsp_port());
    const std::string reply =
        Rtsp(r.get(),
             "SETUP rtsp://127.0.0.1/now.mp4?mm=v/trackID=1 RTSP/1.0\r\nCSeq: 1\r\nTransport: "
             "RTP/AVP;unicast;client_port=" +
                 std::to_string(LocalPort(udp.rtp.get())) + "-" +
                 std::to_string(LocalPort(udp.rtcp.get())) + "\r\n\r\n");
    ASSERT_NE(reply.find(";timeout=1"), std::string::npos);
  }
  EXPECT_TRUE(f.cam().WaitUntil([&] { return log->Has("timed out"); }, 5s));
}

TEST(ObservationsTest, RecordsAndTalkBackBytesAreBounded) {
  Observations obs;
  for (size_t i = 0; i < Observations::kMaxRecords; ++i)
    obs.AddOidWrite({std::to_string(i), "v", true});
  EXPECT_EQ(obs.oid_writes().size(), Observations::kMaxRecords);
  EXPECT_EQ(obs.dropped_records(), 0u);
  obs.AddOidWrite({"last", "v", true});
  const auto writes = obs.oid_writes();
  ASSERT_EQ(writes.size(), Observations::kMaxRecords);
  EXPECT_EQ(writes.front().oid, "1");  // the oldest went
  EXPECT_EQ(writes.back().oid, "last");
  EXPECT_EQ(obs.dropped_records(), 1u);

  const size_t first_post = obs.BeginAudioPost();
  const size_t second_post = obs.BeginAudioPost();
  obs.AddAudio(second_post, "y", 1);  // the later POST's thread records first
  obs.AddAudio(first_post, "x", 1);
  EXPECT_EQ(obs.audio_received(), (std::vector<uint8_t>{'x', 'y'}));
  obs.Clear();

  const std::string block(Observations::kMaxAudioBytes - 1, 'a');
  obs.AddAudio(block.data(), block.size());
  obs.AddAudio("bc", 2);
  EXPECT_EQ(obs.audio_received().size(), Observations::kMaxAudioBytes);
  EXPECT_EQ(obs.audio_received().back(), 'b');
  EXPECT_EQ(obs.audio_bytes_total(), Observations::kMaxAudioBytes + 1);
  EXPECT_EQ(RedactHeaders(
                {{"authorization", "Digest username=\"root\", response=\"abc\""}, {"CSeq", "1"}}),
            (HeaderList{{"authorization", "Digest"}, {"CSeq", "1"}}));
}

}  // namespace
}  // namespace camsim
