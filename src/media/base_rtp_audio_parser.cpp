#include "media/base_rtp_audio_parser.h"

namespace korvela {

CBaseRTPAudioParser::CBaseRTPAudioParser(IDriver* driver, uint32_t audio_input)
    : driver_(driver), audio_input_(audio_input) {}

AudioParserCounters CBaseRTPAudioParser::counters() const {
  return {packets_.load(), duplicates_.load(), gaps_.load(), frames_.load(), failures_.load()};
}

CBaseRTPAudioParser::Sequence CBaseRTPAudioParser::CheckSequence(uint16_t sequence) {
  ++packets_;
  Sequence verdict = Sequence::kInOrder;
  if (!first_packet_) {
    // Networks duplicate packets; a repeat is no loss.
    if (sequence == last_sequence_) return Sequence::kDuplicate;
    if (sequence != static_cast<uint16_t>(last_sequence_ + 1)) verdict = Sequence::kGap;
  }
  first_packet_ = false;
  last_sequence_ = sequence;
  return verdict;
}

void CBaseRTPAudioParser::ProcessPacket(const CRTPPacket& packet) {
  try {
    Handle(packet);
  } catch (...) {
    // A packet that cannot be handled (no memory) is lost, nothing more.
  }
}

void CBaseRTPAudioParser::Handle(const CRTPPacket& packet) {
  switch (CheckSequence(packet.GetSequenceNumber())) {
    case Sequence::kDuplicate:
      ++duplicates_;
      return;
    case Sequence::kGap:
      ++gaps_;
      Reset();
      break;
    case Sequence::kInOrder:
      break;
  }
  std::span<const uint8_t> payload = packet.Payload();
  if (packet.GetPadding() != 0) {
    // RFC 3550 5.1: the last byte counts the padding bytes, itself
    // included; they are not audio.
    const size_t padding = payload.empty() ? 0 : payload.back();
    if (padding == 0 || padding > payload.size()) return;
    payload = payload.first(payload.size() - padding);
  }
  if (!AppendPayload(payload.data(), payload.size())) return;
  if (packet.GetMarker() != 0 || buffer_.size() >= kMaxFrameBytes) {
    ProcessAudioFrame();
    buffer_.clear();
  }
}

}  // namespace korvela
