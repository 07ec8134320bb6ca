#include "rtsp/rtp_sequence_statistics.h"

namespace korvela {
namespace {

constexpr uint32_t kSeqMod = 1u << 16;

}  // namespace

void RtpSequenceStatistics::Restart(uint16_t seq) {
  baseSeq_ = seq;
  maxSeq_ = seq;
  badSeq_ = kSeqMod + 1;  // so that seq == badSeq_ is false
  cycles_ = 0;
  received_ = 0;
  expectedPrior_ = 0;
  receivedPrior_ = 0;
}

bool RtpSequenceStatistics::Update(uint16_t seq) {
  if (!started_) {
    started_ = true;
    Restart(seq);
  }
  const uint16_t udelta = static_cast<uint16_t>(seq - maxSeq_);
  if (udelta < kMaxDropout) {
    if (seq < maxSeq_) cycles_ += kSeqMod;  // wrapped
    maxSeq_ = seq;
  } else if (udelta <= kSeqMod - kMaxMisorder) {
    // A very large jump: accepted only when the next packet follows it.
    if (seq == badSeq_) {
      Restart(seq);
    } else {
      badSeq_ = (seq + 1u) & (kSeqMod - 1);
      return false;
    }
  }
  // Duplicate and reordered packets count as received as well.
  ++received_;
  return true;
}

RtpSequenceStatistics::Loss RtpSequenceStatistics::TakeReportLoss() {
  Loss loss;
  if (!started_) return loss;
  const uint32_t expected = ExtendedHighest() - baseSeq_ + 1;
  const int64_t lost = int64_t{expected} - received_;
  loss.cumulative = static_cast<int32_t>(lost > 0x7FFFFF    ? 0x7FFFFF
                                         : lost < -0x800000 ? -0x800000
                                                            : lost);
  const uint32_t expected_interval = expected - expectedPrior_;
  const uint32_t received_interval = received_ - receivedPrior_;
  expectedPrior_ = expected;
  receivedPrior_ = received_;
  if (expected_interval != 0 && expected_interval > received_interval) {
    loss.fraction = static_cast<uint8_t>((uint64_t{expected_interval - received_interval} << 8) /
                                         expected_interval);
  }
  return loss;
}

}  // namespace korvela
