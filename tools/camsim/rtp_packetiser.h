// RTP packets for the simulator's media: H.264 (RFC 6184, packetization-mode
// 1: single NAL units, STAP-A for parameter sets, FU-A for large NAL units),
// G.711 (RFC 3551) and RTCP sender reports (RFC 3550 6.4.1).
//
// Threading: an RtpPacketiser is owned by one stream and used by the media
// pump thread only. The free functions are pure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "h264_clip.h"

namespace camsim {

constexpr size_t kRtpHeaderSize = 12;
// Largest RTP payload, so packets stay below a 1500-byte Ethernet MTU.
constexpr size_t kMaxRtpPayload = 1400;

class RtpPacketiser {
 public:
  RtpPacketiser(uint8_t payload_type, uint32_t ssrc, uint16_t first_sequence,
                size_t max_payload = kMaxRtpPayload);

  // The packets of one access unit; the last carries the marker bit.
  std::vector<std::string> PacketiseH264(const AccessUnit& unit, uint32_t timestamp);
  // One packet with the given payload (audio: marker off).
  std::string Packet(std::string_view payload, uint32_t timestamp, bool marker);

  uint16_t next_sequence() const { return sequence_; }
  uint32_t ssrc() const { return ssrc_; }

 private:
  void AddFuA(std::string_view nal, uint32_t timestamp, std::vector<std::string>* out);

  const uint8_t payload_type_;
  const uint32_t ssrc_;
  const size_t max_payload_;
  uint16_t sequence_;
};

struct SenderReportInfo {
  uint32_t ssrc = 0;
  uint64_t ntp = 0;  // 32.32 fixed point seconds since 1900
  uint32_t rtp_timestamp = 0;
  uint32_t packet_count = 0;
  uint32_t octet_count = 0;  // payload octets
  std::string cname;
};

// SR followed by an SDES packet with the CNAME (a compound RTCP packet).
std::string BuildSenderReport(const SenderReportInfo& info);

// NTP time for a system_clock time point.
uint64_t NtpFromUnixMicros(int64_t unix_micros);

struct RtcpSummary {
  bool valid = false;
  bool has_receiver_report = false;
  bool has_bye = false;
  bool has_sender_report = false;
};
// Walks a compound RTCP packet; valid only when every length adds up.
RtcpSummary InspectRtcp(std::string_view packet);

}  // namespace camsim
