// CRTPMediaParser: base of the RTP video depacketisers. It owns what every
// one needs: the sequence check, the buffer of the frame being assembled with
// its size limit, the picture size, the RTP-to-wall-clock time conversion and
// the delivery of a finished frame as a recorder frame record to the
// channel's IMediaParserClient.
//
// Threading: driven by one thread, the channel's RTP queue thread
// (ProcessPacket); SetReceiver, Reset and the derived classes' set-up calls
// come from the channel while no packets flow. counters() may be read from
// any thread (atomics); everything else belongs to the feeding thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/idriver.h"
#include "media/media_parser_client.h"
#include "platform/clock.h"
#include "rtsp/rtp_packet.h"
#include "rtsp/time_stamp_converter.h"

namespace korvela {

// One RTP packet as a depacketiser reads it.
struct RtpPacketView {
  uint16_t sequence = 0;
  bool marker = false;
  uint32_t timestamp = 0;
  std::span<const uint8_t> payload;  // without RTP padding
};

// What a depacketiser did with its packets and frames.
struct RtpParserCounters {
  uint64_t packets = 0;        // packets taken (duplicates included)
  uint64_t duplicates = 0;     // repeated sequence numbers, dropped
  uint64_t gaps = 0;           // sequence breaks (each drops the frame in progress)
  uint64_t bad_payloads = 0;   // unsupported or malformed payloads
  uint64_t overflows = 0;      // frames dropped for exceeding kMaxFrameBytes
  uint64_t withheld = 0;       // complete frames dropped while waiting for a key frame
  uint64_t undeliverable = 0;  // no allocator, receiver, record or buffer
  uint64_t delivered = 0;      // handed to the channel
  uint64_t accepted = 0;       // ... and accepted
};

class CRTPMediaParser {
 public:
  // A frame under assembly is dropped once it grows beyond this (10 MiB).
  static constexpr size_t kMaxFrameBytes = 10485760;

  // `driver` is not owned and must outlive the parser; `name` is the source
  // name handed to the frame allocator; `clock` (which must outlive the
  // parser) stamps the frames.
  CRTPMediaParser(IDriver* driver, std::string name,
                  const platform::Clock& clock = platform::SystemClock());
  virtual ~CRTPMediaParser() = default;
  CRTPMediaParser(const CRTPMediaParser&) = delete;
  CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

  // Packets in arrival order.
  virtual void ProcessPacket(const RtpPacketView& packet) = 0;
  // Drops the frame in progress and starts over.
  virtual void Reset() = 0;

  // A received packet; its padding (RFC 3550 5.1) is not payload. A packet
  // whose padding count exceeds its payload is dropped.
  void ProcessPacket(const CRTPPacket& packet);

  // Not owned; set by the channel before packets flow.
  void SetReceiver(IMediaParserClient* receiver) { receiver_ = receiver; }

  RtpParserCounters counters() const;
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }

  // Record size asked of the frame allocator for a frame of `length` bytes:
  // 4 KiB, 16 KiB, 32 KiB or 128 KiB classes, the exact length above, so
  // that the recorder can reuse records.
  static uint32_t AllocationSize(size_t length);

 protected:
  enum class SequenceVerdict { kInOrder, kDuplicate, kGap };
  // The first packet is always in order; after it, only the next number
  // (65535 is followed by 0). Remembers the number.
  SequenceVerdict CheckSequence(uint16_t sequence);
  // False, logged, when the frame buffer exceeds kMaxFrameBytes.
  bool CheckBufferSize();
  // The base's part of Reset: empty buffer, no size, fresh time conversion.
  void ResetFrameState();
  // True when a finished frame could be delivered (allocator and receiver).
  bool CanDeliver() const;
  // Advances the time conversion with a finished frame's RTP timestamp.
  void UpdateTime(uint32_t timestamp) { converter_.Update(timestamp); }

  enum class Delivery { kAccepted, kRefused, kDropped };
  // Allocates a record, fills it with the frame buffer, the picture size and
  // the converted time, hands it to the receiver and releases it.
  Delivery DeliverFrameBuffer(uint32_t compression);

  std::vector<uint8_t>& frame() { return frame_; }
  void SetPictureSize(uint32_t width, uint32_t height) {
    width_ = width;
    height_ = height;
  }
  struct AtomicCounters {
    std::atomic<uint64_t> packets{0}, duplicates{0}, gaps{0}, bad_payloads{0}, overflows{0},
        withheld{0}, undeliverable{0}, delivered{0}, accepted{0};
  };
  AtomicCounters& stats() { return stats_; }

 private:
  uint16_t last_sequence_ = 0;
  bool first_packet_ = true;
  IDriver* const driver_;
  const std::string name_;
  IMediaParserClient* receiver_ = nullptr;
  const platform::Clock& clock_;
  CTimeStampConverter converter_;
  std::vector<uint8_t> frame_;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  AtomicCounters stats_;
  uint32_t overflow_log_counter_ = 0;  // log throttle of the overflow line
};

}  // namespace korvela
