#include "rtp_packetiser.h"

#include <gtest/gtest.h>

namespace camsim {
namespace {

struct Header {
  bool marker;
  uint8_t pt;
  uint16_t seq;
  uint32_t ts;
  uint32_t ssrc;
};

Header ReadHeader(const std::string& p) {
  EXPECT_GE(p.size(), kRtpHeaderSize);
  EXPECT_EQ(uint8_t(p[0]), 0x80);  // version 2, no padding/extension/CSRC
  auto u8 = [&](size_t i) { return uint32_t(uint8_t(p[i])); };
  return {bool(u8(1) & 0x80), uint8_t(u8(1) & 0x7f), uint16_t(u8(2) << 8 | u8(3)),
          u8(4) << 24 | u8(5) << 16 | u8(6) << 8 | u8(7),
          u8(8) << 24 | u8(9) << 16 | u8(10) << 8 | u8(11)};
}

std::string Nal(uint8_t header, size_t size, char fill = 'x') {
  std::string n(size, fill);
  n[0] = char(header);
  for (size_t i = 1; i < size; ++i) n[i] = char((i * 7) & 0xff);
  return n;
}

// Reassembles the NAL units of a sequence of H.264 payloads (RFC 6184) so a
// test can compare them with what was packetised.
std::vector<std::string> Depacketise(const std::vector<std::string>& packets) {
  std::vector<std::string> nals;
  std::string fu;
  for (const auto& p : packets) {
    const std::string payload = p.substr(kRtpHeaderSize);
    const uint8_t type = uint8_t(payload[0]) & 0x1f;
    if (type == 24) {
      size_t i = 1;
      while (i + 2 <= payload.size()) {
        const size_t len = size_t(uint8_t(payload[i])) << 8 | uint8_t(payload[i + 1]);
        nals.push_back(payload.substr(i + 2, len));
        i += 2 + len;
      }
      EXPECT_EQ(i, payload.size());
    } else if (type == 28) {
      const uint8_t fu_header = uint8_t(payload[1]);
      if (fu_header & 0x80)
        fu = std::string(1, char((uint8_t(payload[0]) & 0xe0) | (fu_header & 0x1f)));
      fu += payload.substr(2);
      if (fu_header & 0x40) nals.push_back(fu);
    } else {
      nals.push_back(payload);
    }
  }
  return nals;
}

// STAP-A and FU-A streams as a real client takes them are ffmpeg's decode
// (camsim_interop_test); here the limits and header fields exactly.
TEST(RtpPacketiserTest, SingleNalUpToTheLimitAndFuAOnePast) {
  RtpPacketiser packetiser(96, 1, 0, 100);
  AccessUnit at_limit{{Nal(0x41, 100)}, false};
  const auto one = packetiser.PacketiseH264(at_limit, 0);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_TRUE(ReadHeader(one[0]).marker);
  EXPECT_EQ(one[0].substr(kRtpHeaderSize), at_limit.nal_units[0]);
  AccessUnit past{{Nal(0x41, 101)}, false};
  const auto two = packetiser.PacketiseH264(past, 0);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(uint8_t(two[0][kRtpHeaderSize]), 0x40 | 28);     // NRI kept, FU-A
  EXPECT_EQ(uint8_t(two[0][kRtpHeaderSize + 1]), 0x80 | 1);  // start bit, type of the slice
  EXPECT_EQ(uint8_t(two[1][kRtpHeaderSize + 1]), 0x40 | 1);  // end bit
  EXPECT_FALSE(ReadHeader(two[0]).marker);
  EXPECT_EQ(Depacketise(two), past.nal_units);
  // A lone parameter set is sent as a single NAL unit, not a one-unit STAP-A.
  AccessUnit lone{{Nal(0x67, 10), Nal(0x65, 10)}, true};
  const auto packets = packetiser.PacketiseH264(lone, 0);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(uint8_t(packets[0][kRtpHeaderSize]) & 0x1f, 7);
}

TEST(RtpPacketiserTest, AudioPacketsKeepMarkerOffAndTheSequenceWraps) {
  RtpPacketiser packetiser(0, 7, 65535);
  const auto p = packetiser.Packet(std::string(160, '\x7f'), 320, false);
  const Header h = ReadHeader(p);
  EXPECT_EQ(h.pt, 0);
  EXPECT_FALSE(h.marker);
  EXPECT_EQ(h.seq, 65535);
  EXPECT_EQ(h.ts, 320u);
  EXPECT_EQ(h.ssrc, 7u);
  EXPECT_EQ(p.size(), kRtpHeaderSize + 160);
  EXPECT_EQ(ReadHeader(packetiser.Packet("x", 480, false)).seq, 0);
}

TEST(RtcpTest, SenderReportIsAValidCompoundWithSdes) {
  SenderReportInfo info{0xdeadbeef, (uint64_t(3900000000u) << 32) | 0x80000000u, 12345, 10, 1000,
                        "camsim@x"};
  const std::string sr = BuildSenderReport(info);
  ASSERT_EQ(sr.size() % 4, 0u);
  EXPECT_EQ(uint8_t(sr[1]), 200);
  EXPECT_EQ(uint8_t(sr[3]), 6);
  EXPECT_EQ(sr.substr(4, 4), std::string("\xde\xad\xbe\xef"));
  EXPECT_EQ(uint8_t(sr[28]), 0x81);
  EXPECT_EQ(uint8_t(sr[29]), 202);
  const RtcpSummary s = InspectRtcp(sr);
  EXPECT_TRUE(s.valid && s.has_sender_report && !s.has_receiver_report && !s.has_bye);
  // RR + BYE compound from a client; lengths that overrun are invalid.
  const std::string rr_bye("\x80\xc9\x00\x01\x00\x00\x00\x01\x81\xcb\x00\x01\x00\x00\x00\x01", 16);
  const RtcpSummary c = InspectRtcp(rr_bye);
  EXPECT_TRUE(c.valid && c.has_receiver_report && c.has_bye);
  EXPECT_FALSE(InspectRtcp(rr_bye.substr(0, 12)).valid);
  EXPECT_FALSE(InspectRtcp(std::string("\x40\xc9\x00\x00", 4)).valid);  // version 1
  EXPECT_EQ(NtpFromUnixMicros(0) >> 32, 2208988800ull);
  EXPECT_EQ(NtpFromUnixMicros(500000) & 0xffffffff, 0x80000000ull);
}

}  // namespace
}  // namespace camsim
