#include "rtsp/rtcp_handler.h"

#include <string>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace korvela {
namespace {

using Bytes = std::vector<uint8_t>;
using platform::Endpoint;
using platform::UdpSocket;

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

TEST(RtpSequenceStatisticsTest, RfcAppendixA1) {
  const struct {
    std::vector<uint16_t> seqs;
    std::string accepted;
    uint32_t extended, received;
    int32_t lost;
    uint8_t fraction;
  } cases[] = {
      {{65534, 65535, 0, 1}, "++++", 65537, 4, 0, 0},    // wrap
      {{100, 5100, 5101, 5102}, "+-++", 5102, 2, 0, 0},  // jump rejected, then restart
      {{10, 8, 9, 10, 11}, "+++++", 11, 5, -3, 0},       // reordered and duplicates count
      {{1, 2, 5}, "+++", 5, 3, 2, 102},                  // two of five lost
  };
  for (const auto& c : cases) {
    RtpSequenceStatistics stats;
    std::string accepted;
    for (uint16_t seq : c.seqs) accepted += stats.Update(seq) ? '+' : '-';
    EXPECT_EQ(accepted, c.accepted);
    EXPECT_EQ(stats.ExtendedHighest(), c.extended);
    EXPECT_EQ(stats.received(), c.received);
    const auto loss = stats.TakeReportLoss();
    EXPECT_EQ(loss.cumulative, c.lost);
    EXPECT_EQ(loss.fraction, c.fraction);
  }
}

// A camera on 127.0.0.1 talking to a handler that expects it.
struct Fixture {
  explicit Fixture(const char* expected = "127.0.0.1") {
    EXPECT_EQ(camera.Bind(0), platform::SocketError::kNone);
    EXPECT_TRUE(handler.Start(inet_addr(expected), 0));
  }
  // An SR (or another packet of that length and `type`).
  void Send(uint8_t type) {
    Bytes sr = {0x80, type, 0,    6,    0x11, 0x22, 0x33, 0x44,   // header, sender SSRC
                0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0,    0x11};  // NTP time
    sr.resize(28, 1);  // RTP time, packet and octet counts
    ASSERT_TRUE(camera.SendTo(Endpoint::Loopback(handler.GetPort()), sr).ok());
  }
  // The next datagram to the camera, empty when none comes within `ms`.
  Bytes Receive(uint32_t ms = 2000) {
    Bytes b(100);
    const auto r = camera.ReceiveFrom(b, nullptr, ms);
    b.resize(r.ok() ? r.bytes : 0);
    return b;
  }
  platform::ManualClock clock{0, 1000};
  CRTCPHandler handler{nullptr, clock};
  UdpSocket camera;
};

TEST(CRTCPHandlerTest, AnswersSenderReportsWithReceiverReports) {
  Fixture f;
  f.Send(201);  // an RR first: the address is noted, nothing is sent
  EXPECT_TRUE(f.Receive(300).empty());
  for (uint16_t seq : {65534, 65535, 0, 1}) f.handler.UpdateSequence(seq);
  f.Send(200);
  Bytes rr = f.Receive();
  ASSERT_EQ(rr.size(), 32u);
  EXPECT_EQ(Be32(&rr[0]), 0x81C90007u);
  EXPECT_EQ(Be32(&rr[4]), f.handler.GetOwnSsrc());
  EXPECT_EQ(Be32(&rr[8]), 0x11223344u);
  EXPECT_EQ(Be32(&rr[12]), 0u);      // nothing lost
  EXPECT_EQ(Be32(&rr[16]), 65537u);  // cycles + highest
  EXPECT_EQ(Be32(&rr[24]), 0xCCDDEEFFu);
  EXPECT_EQ(Be32(&rr[28]), 0u);
  // 1500 ms after that SR the next report carries the delay in 1/65536 s.
  f.clock.AdvanceMs(1500);
  f.Send(202);
  rr = f.Receive();
  ASSERT_EQ(rr.size(), 32u);
  EXPECT_EQ(Be32(&rr[28]), 98304u);
  f.handler.Stop();
  const Bytes bye = f.Receive();
  ASSERT_EQ(bye.size(), 8u);
  EXPECT_EQ(Be32(&bye[0]), 0x81CB0001u);
  EXPECT_EQ(Be32(&bye[4]), f.handler.GetOwnSsrc());
}

TEST(CRTCPHandlerTest, IgnoresOtherHostsAndRefusesAddressZero) {
  Fixture f("127.0.0.2");
  f.Send(200);
  EXPECT_TRUE(f.Receive(300).empty());
  f.handler.Stop();
  EXPECT_TRUE(f.Receive(100).empty());  // no peer: no BYE
  CRTCPHandler unresolved(nullptr);
  EXPECT_FALSE(unresolved.Start(0, 0));
}

}  // namespace
}  // namespace korvela
