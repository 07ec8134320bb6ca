#include "rtsp/rtp_packet.h"

#include <new>

namespace korvela {
namespace {

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

void CRTPPacket::Clear() {
  data_.clear();
  csrcCount_ = marker_ = padding_ = payloadType_ = 0;
  sequenceNumber_ = extensionProfile_ = extensionLength_ = 0;
  timestamp_ = ssrc_ = payloadOffset_ = payloadLength_ = 0;
}

bool CRTPPacket::Parse(std::span<const uint8_t> datagram) {
  Clear();
  const uint8_t* d = datagram.data();
  const size_t length = datagram.size();
  // V=2 in the top two bits of the first byte.
  if (length <= kFixedHeaderBytes || (d[0] & 0xC0) != 0x80) return false;
  size_t offset = kFixedHeaderBytes;
  const uint8_t csrc_count = d[0] & 0x0F;
  if (csrc_count * 4u >= length - offset) return false;
  offset += csrc_count * 4u;
  uint16_t profile = 0, words = 0;
  if (d[0] & 0x10) {
    // Extension header: 16-bit profile, 16-bit length in 32-bit words, data.
    const size_t remaining = length - offset;
    if (remaining <= 4) return false;
    profile = Be16(d + offset);
    words = Be16(d + offset + 2);
    if ((words + 1u) * 4u >= remaining) return false;
    offset += (words + 1u) * 4u;
  }
  try {
    data_.assign(datagram.begin(), datagram.end());
  } catch (const std::bad_alloc&) {
    return false;
  }
  csrcCount_ = csrc_count;
  extensionProfile_ = profile;
  extensionLength_ = words;
  padding_ = (d[0] >> 5) & 1;
  marker_ = d[1] >> 7;
  payloadType_ = d[1] & 0x7F;
  sequenceNumber_ = Be16(d + 2);
  timestamp_ = Be32(d + 4);
  ssrc_ = Be32(d + 8);
  payloadOffset_ = static_cast<uint32_t>(offset);
  payloadLength_ = static_cast<uint32_t>(length - offset);
  return true;
}

uint32_t CRTPPacket::GetCsrc(size_t index) const {
  return index < csrcCount_ ? Be32(data_.data() + kFixedHeaderBytes + index * 4) : 0;
}

std::span<const uint8_t> CRTPPacket::GetExtensionData() const {
  if (extensionLength_ == 0) return {};
  return {data_.data() + kFixedHeaderBytes + csrcCount_ * 4u + 4, extensionLength_ * 4u};
}

const uint8_t* CRTPPacket::GetPayload() const {
  return payloadLength_ == 0 ? nullptr : data_.data() + payloadOffset_;
}

}  // namespace korvela
