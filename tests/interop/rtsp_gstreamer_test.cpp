// The RTSP client, RTP receiver and RTCP handler against a real RTSP server:
// GStreamer's gst-rtsp-server (tests/interop/gst_rtsp_server.py) without
// authentication, with Basic and with Digest. A machine without the server's
// Python bindings fails these tests.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "gst_rtsp_peer.h"
#include "rtsp/base_rtsp_client.h"
#include "rtsp/rtcp_handler.h"
#include "rtsp/rtp_receiver.h"

namespace korvela {
namespace {

// Counts the session's RTP packets and feeds their numbers to RTCP.
struct Channel : IRTPReceiverUser {
  explicit Channel(CRTCPHandler* rtcp) : rtcp(rtcp) {}
  void OnRTPPacket(CRTPPacket*) override {}
  void OnRTPPacketFrom(const platform::Endpoint& from, CRTPPacket* p) override {
    if (from.address_be != htonl(INADDR_LOOPBACK) || p->GetPayloadType() != 96) return;
    rtcp->UpdateSequence(p->GetSequenceNumber());
    ++packets;
  }
  void OnReceiveTimeout() override {}
  void OnReceiveError() override {}
  CRTCPHandler* rtcp;
  std::atomic<int> packets{0};
};

bool WaitFor(const std::atomic<int>& n, int at_least, int ms) {
  for (int i = 0; i < ms / 10 && n < at_least; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return n >= at_least;
}

class RtspGStreamerTest : public ::testing::TestWithParam<const char*> {};

TEST_P(RtspGStreamerTest, SessionWithRtpAndReceiverReports) {
  testing::GstRtspPeer server;
  ASSERT_TRUE(server.Start(GetParam())) << server.error();

  CRTPReceiver receiver(nullptr);
  CRTCPHandler rtcp(nullptr);
  Channel channel(&rtcp);
  receiver.SetUser(&channel);
  uint16_t port = 40000;  // an even port with its odd neighbour free
  while (!(receiver.Start(port) && rtcp.Start(htonl(INADDR_LOOPBACK), port + 1))) {
    receiver.Stop();
    ASSERT_LT(port += 2, 41000);
  }

  RtspClientSettings settings;
  settings.host = "127.0.0.1";
  settings.port = server.port();
  settings.userName = "user";
  settings.password = "pw";
  settings.path = "now.mp4?mm=v";
  settings.clientRtpPort = receiver.GetPort();
  settings.clientRtcpPort = rtcp.GetPort();
  CBaseRTSPClient client;
  ASSERT_TRUE(client.Connect(settings));
  ASSERT_TRUE(client.Execute(kRtspDescribe)) << client.GetStatusCode() << server.Output();
  EXPECT_FALSE(client.GetSps().empty());  // sprop-parameter-sets
  EXPECT_FALSE(client.GetPps().empty());
  ASSERT_TRUE(client.Execute(kRtspSetup)) << client.GetStatusCode() << server.Output();
  EXPECT_FALSE(client.GetSessionId().empty());
  ASSERT_TRUE(client.Execute(kRtspPlay)) << client.GetStatusCode();
  EXPECT_EQ(client.GetSessionTimeoutMs(), 60000u);

  EXPECT_TRUE(WaitFor(channel.packets, 25, 5000)) << channel.packets;
  // The server sends a sender report within a few seconds; our answer makes
  // our SSRC active in its session.
  EXPECT_TRUE(server.WaitForLine("RTCP " + std::to_string(rtcp.GetOwnSsrc()), 15000))
      << server.Output();
  EXPECT_TRUE(client.Transact(kRtspOptions));

  EXPECT_TRUE(client.Transact(kRtspTeardown));
  EXPECT_EQ(client.GetStatusCode(), 200u);
  EXPECT_TRUE(server.WaitForLine("REQUEST TEARDOWN", 2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int after_teardown = channel.packets;
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_EQ(channel.packets, after_teardown) << "RTP still flows after TEARDOWN";
  client.Disconnect();
  rtcp.Stop();
  receiver.Stop();
}

INSTANTIATE_TEST_SUITE_P(Auth, RtspGStreamerTest, ::testing::Values("none", "basic", "digest"));

}  // namespace
}  // namespace korvela
