// Sequence-number statistics of one RTP source (RFC 3550 A.1) and the loss
// figures of a receiver report built from them (A.3).
//
// The first packet starts the statistics at once (no probation), since the
// source is the one camera the session asked for.
//
// Threading: a value; the RTCP handler guards it with its lock.
#pragma once

#include <cstdint>

namespace korvela {

class RtpSequenceStatistics {
 public:
  static constexpr uint32_t kMaxDropout = 3000;
  static constexpr uint32_t kMaxMisorder = 100;

  // Counts one packet; false when it was rejected as a jump (the next packet
  // that follows the jump in sequence restarts the statistics).
  bool Update(uint16_t seq);

  bool started() const { return started_; }
  uint32_t cycles() const { return cycles_; }
  uint16_t highest() const { return maxSeq_; }
  uint32_t ExtendedHighest() const { return cycles_ + maxSeq_; }
  uint32_t received() const { return received_; }

  // Cumulative packets lost (24-bit signed, clamped) and the fraction lost
  // since the last call, in 1/256 (RFC 3550 A.3); each call starts a new
  // report interval.
  struct Loss {
    int32_t cumulative = 0;
    uint8_t fraction = 0;
  };
  Loss TakeReportLoss();

 private:
  void Restart(uint16_t seq);

  bool started_ = false;
  uint16_t maxSeq_ = 0;
  uint32_t cycles_ = 0;
  uint32_t baseSeq_ = 0;
  uint32_t badSeq_ = 0;
  uint32_t received_ = 0;
  uint32_t expectedPrior_ = 0;
  uint32_t receivedPrior_ = 0;
};

}  // namespace korvela
