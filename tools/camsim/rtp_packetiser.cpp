#include "rtp_packetiser.h"

#include <algorithm>

namespace camsim {
namespace {

void Put16(std::string& s, uint16_t v) {
  s += char(v >> 8);
  s += char(v & 0xff);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, uint16_t(v >> 16));
  Put16(s, uint16_t(v & 0xffff));
}
bool IsParameterSet(std::string_view nal) {
  const uint8_t type = nal.empty() ? 0 : uint8_t(nal[0]) & 0x1f;
  return type == 7 || type == 8;
}

}  // namespace

RtpPacketiser::RtpPacketiser(uint8_t payload_type, uint32_t ssrc, uint16_t first_sequence,
                             size_t max_payload)
    : payload_type_(payload_type),
      ssrc_(ssrc),
      max_payload_(max_payload),
      sequence_(first_sequence) {}

std::string RtpPacketiser::Packet(std::string_view payload, uint32_t timestamp, bool marker) {
  std::string p;
  p.reserve(kRtpHeaderSize + payload.size());
  p += char(0x80);  // V=2, no padding, no extension, no CSRC
  p += char((marker ? 0x80 : 0) | (payload_type_ & 0x7f));
  Put16(p, sequence_++);
  Put32(p, timestamp);
  Put32(p, ssrc_);
  p.append(payload);
  return p;
}

void RtpPacketiser::AddFuA(std::string_view nal, uint32_t timestamp,
                           std::vector<std::string>* out) {
  const uint8_t header = uint8_t(nal[0]);
  const char indicator = char((header & 0xe0) | 28);  // F and NRI kept, type FU-A
  std::string_view rest = nal.substr(1);
  bool first = true;
  const size_t room = max_payload_ - 2;
  while (!rest.empty()) {
    const size_t n = rest.size() < room ? rest.size() : room;
    const bool last = n == rest.size();
    std::string payload;
    payload += indicator;
    payload += char((first ? 0x80 : 0) | (last ? 0x40 : 0) | (header & 0x1f));
    payload.append(rest.substr(0, n));
    out->push_back(Packet(payload, timestamp, false));
    rest.remove_prefix(n);
    first = false;
  }
}

std::vector<std::string> RtpPacketiser::PacketiseH264(const AccessUnit& unit, uint32_t timestamp) {
  std::vector<std::string> out;
  const auto& nals = unit.nal_units;
  size_t i = 0;
  while (i < nals.size()) {
    // Consecutive parameter sets travel together in one STAP-A.
    if (IsParameterSet(nals[i]) && i + 1 < nals.size() && IsParameterSet(nals[i + 1])) {
      std::string payload;
      uint8_t nri = 0;
      size_t j = i;
      while (j < nals.size() && IsParameterSet(nals[j]) &&
             payload.size() + 1 + 2 + nals[j].size() <= max_payload_) {
        nri = std::max<uint8_t>(nri, uint8_t(nals[j][0]) & 0x60);
        Put16(payload, uint16_t(nals[j].size()));
        payload += nals[j];
        ++j;
      }
      if (j - i >= 2) {
        payload.insert(payload.begin(), char(nri | 24));
        out.push_back(Packet(payload, timestamp, false));
        i = j;
        continue;
      }
    }
    if (nals[i].size() <= max_payload_) {
      out.push_back(Packet(nals[i], timestamp, false));
    } else {
      AddFuA(nals[i], timestamp, &out);
    }
    ++i;
  }
  if (!out.empty()) out.back()[1] = char(uint8_t(out.back()[1]) | 0x80);
  return out;
}

uint64_t NtpFromUnixMicros(int64_t unix_micros) {
  constexpr uint64_t kUnixToNtpSeconds = 2208988800ull;
  const uint64_t seconds = uint64_t(unix_micros / 1000000) + kUnixToNtpSeconds;
  const uint64_t micros = uint64_t(unix_micros % 1000000);
  return (seconds << 32) | ((micros << 32) / 1000000);
}

std::string BuildSenderReport(const SenderReportInfo& info) {
  std::string p;
  p += char(0x80);  // V=2, RC=0
  p += char(200);
  Put16(p, 6);  // length in 32-bit words minus one
  Put32(p, info.ssrc);
  Put32(p, uint32_t(info.ntp >> 32));
  Put32(p, uint32_t(info.ntp & 0xffffffff));
  Put32(p, info.rtp_timestamp);
  Put32(p, info.packet_count);
  Put32(p, info.octet_count);
  // SDES with one chunk: SSRC, CNAME item, end, padded to 32 bits.
  std::string chunk;
  Put32(chunk, info.ssrc);
  const size_t cname_len = info.cname.size() > 255 ? 255 : info.cname.size();
  chunk += char(1);
  chunk += char(cname_len);
  chunk.append(info.cname, 0, cname_len);
  chunk += char(0);
  while (chunk.size() % 4) chunk += char(0);
  p += char(0x81);  // V=2, SC=1
  p += char(202);
  Put16(p, uint16_t(chunk.size() / 4));
  p += chunk;
  return p;
}

RtcpSummary InspectRtcp(std::string_view packet) {
  RtcpSummary s;
  if (packet.size() < 4) return s;
  while (!packet.empty()) {
    if (packet.size() < 4 || (uint8_t(packet[0]) >> 6) != 2) return RtcpSummary{};
    const uint8_t type = uint8_t(packet[1]);
    const size_t len = (size_t(uint8_t(packet[2])) << 8 | uint8_t(packet[3])) * 4 + 4;
    if (len > packet.size()) return RtcpSummary{};
    if (type == 200) s.has_sender_report = true;
    if (type == 201) s.has_receiver_report = true;
    if (type == 203) s.has_bye = true;
    packet.remove_prefix(len);
  }
  s.valid = true;
  return s;
}

}  // namespace camsim
