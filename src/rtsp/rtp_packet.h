// CRTPPacket: one RTP datagram (RFC 3550 5.1) with its fixed header read out:
// CSRC list, header extension, payload. The packet owns one copy of the
// datagram; the CSRC list, extension data and payload are views into it, so a
// packet parses without allocating once its buffer has grown to the size of
// the datagrams (packets are recycled by the receiver's queue).
//
// Padding (the P bit) is recorded, not removed: padding bytes stay at the end
// of the payload.
//
// Threading: a value; filled on the UDP thread, then read by the queue
// thread after the hand-over through the queue's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace korvela {

class CRTPPacket {
 public:
  static constexpr size_t kFixedHeaderBytes = 12;

  CRTPPacket() = default;
  virtual ~CRTPPacket() = default;

  // Copies and parses one datagram. False (the packet is then empty) when it
  // is not RTP version 2, when the CSRC list or the extension runs past its
  // end, or when no payload byte is left.
  bool Parse(std::span<const uint8_t> datagram);
  void Clear();

  uint8_t GetCsrcCount() const { return csrcCount_; }
  // CSRC `index` (< GetCsrcCount()) in host byte order.
  uint32_t GetCsrc(size_t index) const;
  uint32_t GetSsrc() const { return ssrc_; }  // host byte order
  uint8_t GetMarker() const { return marker_; }
  uint8_t GetPadding() const { return padding_; }
  uint8_t GetPayloadType() const { return payloadType_; }
  uint16_t GetSequenceNumber() const { return sequenceNumber_; }
  uint32_t GetTimestamp() const { return timestamp_; }
  uint16_t GetExtensionProfile() const { return extensionProfile_; }  // host byte order
  uint16_t GetExtensionLength() const { return extensionLength_; }    // 32-bit words
  std::span<const uint8_t> GetExtensionData() const;
  uint32_t GetPayloadLength() const { return payloadLength_; }
  const uint8_t* GetPayload() const;
  std::span<const uint8_t> Payload() const { return {GetPayload(), payloadLength_}; }
  // Size of the datagram the packet was parsed from.
  size_t GetDatagramLength() const { return data_.size(); }
  // Memory the packet holds (its buffer may be larger than the datagram).
  size_t MemoryBytes() const { return sizeof(*this) + data_.capacity(); }

 private:
  std::vector<uint8_t> data_;
  uint8_t csrcCount_ = 0;
  uint8_t marker_ = 0;
  uint8_t padding_ = 0;
  uint8_t payloadType_ = 0;
  uint16_t sequenceNumber_ = 0;
  uint16_t extensionProfile_ = 0;
  uint16_t extensionLength_ = 0;
  uint32_t timestamp_ = 0;
  uint32_t ssrc_ = 0;
  uint32_t payloadOffset_ = 0;
  uint32_t payloadLength_ = 0;
};

}  // namespace korvela
