#include "media/h264_rtp_media_parser.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "media/h264_sps_parser.h"

namespace korvela {

namespace {

// RTP payload structures (RFC 6184 5.2).
constexpr uint8_t kStapA = 24;
constexpr uint8_t kFuA = 28;
// FU header bits (RFC 6184 5.8).
constexpr uint8_t kFuStart = 0x80;
constexpr uint8_t kFuEnd = 0x40;

constexpr std::array<uint8_t, 3> kStartCode = {0, 0, 1};
// Appended to every access unit: a start code and an access-unit-delimiter
// header without its payload byte.
constexpr std::array<uint8_t, 5> kUnitTrailer = {0, 0, 0, 1, 9};

bool IsParameterSet(uint8_t type) { return type == kNalSps || type == kNalPps; }

}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver, std::string name,
                                         const platform::Clock& clock)
    : CRTPMediaParser(driver, std::move(name), clock) {}

void CH264RTPMediaParser::SetParameterSets(std::span<const uint8_t> sps,
                                           std::span<const uint8_t> pps) {
  if (sps.empty() || pps.empty() || sps.size() > kMaxParameterSetBytes ||
      pps.size() > kMaxParameterSetBytes || NalType(pps[0]) != kNalPps) {
    return;
  }
  const std::optional<H264PictureSize> size = ParseSpsPictureSize(sps);
  if (!size) return;
  SetPictureSize(size->width, size->height);
  stored_sps_.assign(sps.begin(), sps.end());
  stored_pps_.assign(pps.begin(), pps.end());
}

void CH264RTPMediaParser::Reset() {
  waiting_for_key_frame_ = true;
  ClearUnit();
  ResetFrameState();
}

void CH264RTPMediaParser::ClearUnit() {
  frame().clear();
  key_sps_offset_ = kNone;
  unit_has_sps_ = false;
  unit_has_slice_ = false;
  in_fragment_ = false;
}

void CH264RTPMediaParser::ProcessPacket(const RtpPacketView& packet) {
  switch (CheckSequence(packet.sequence)) {
    case SequenceVerdict::kDuplicate:
      return;
    case SequenceVerdict::kGap:
      Reset();
      break;
    case SequenceVerdict::kInOrder:
      break;
  }
  if (!ProcessPayload(packet.payload)) {
    ++stats().bad_payloads;
    Reset();
    return;
  }
  if (!CheckBufferSize()) {
    Reset();
    return;
  }
  if (packet.marker && access_unit_may_end_) {
    EmitAccessUnit(packet.timestamp);
    ClearUnit();
  }
}

bool CH264RTPMediaParser::ProcessPayload(std::span<const uint8_t> payload) {
  access_unit_may_end_ = true;
  if (payload.empty()) return false;
  const uint8_t type = NalType(payload[0]);
  if (type >= 1 && type <= 23) {
    in_fragment_ = false;
    if (IsParameterSet(type)) access_unit_may_end_ = false;
    AppendNal(payload);
    return true;
  }
  if (type == kStapA) return ProcessStapA(payload);
  if (type == kFuA) return ProcessFuA(payload);
  return false;  // STAP-B, MTAP, FU-B and reserved types are not supported
}

bool CH264RTPMediaParser::ProcessStapA(std::span<const uint8_t> payload) {
  if (payload.size() < 4) return false;
  in_fragment_ = false;
  std::span<const uint8_t> rest = payload.subspan(1);
  bool first = true;
  bool only_parameter_sets = true;
  while (rest.size() >= 2) {
    const size_t size = (size_t{rest[0]} << 8) | rest[1];
    rest = rest.subspan(2);
    if (size > rest.size()) return false;
    const std::span<const uint8_t> nal = rest.first(size);
    rest = rest.subspan(size);
    if (nal.empty()) continue;
    const uint8_t type = NalType(nal[0]);
    const bool leading_delimiter = first && type == kNalAccessUnitDelimiter;
    first = false;
    if (leading_delimiter) continue;
    only_parameter_sets = only_parameter_sets && IsParameterSet(type);
    AppendNal(nal);
  }
  if (!first && only_parameter_sets) access_unit_may_end_ = false;
  return true;
}

bool CH264RTPMediaParser::ProcessFuA(std::span<const uint8_t> payload) {
  if (payload.size() < 3) return false;
  const uint8_t indicator = payload[0];
  const uint8_t fu_header = payload[1];
  const uint8_t type = NalType(fu_header);
  if ((fu_header & kFuStart) != 0) {
    BeginNal(static_cast<uint8_t>((indicator & 0xE0) | type));
    in_fragment_ = true;
    fragment_type_ = type;
  } else if (!in_fragment_ || type != fragment_type_) {
    return false;  // its start was lost: the unit would be corrupt
  }
  frame().insert(frame().end(), payload.begin() + 2, payload.end());
  if ((fu_header & kFuEnd) != 0) in_fragment_ = false;
  return true;
}

void CH264RTPMediaParser::BeginNal(uint8_t header) {
  const uint8_t type = NalType(header);
  if (type == kNalIdrSlice && !unit_has_sps_ && !stored_sps_.empty() && !stored_pps_.empty()) {
    AppendNal(stored_sps_);
    AppendNal(stored_pps_);
  }
  std::vector<uint8_t>& buffer = frame();
  if (type == kNalSps) {
    if (!unit_has_slice_ && key_sps_offset_ == kNone) {
      key_sps_offset_ = buffer.size() + kStartCode.size();
    }
    unit_has_sps_ = true;
  }
  if (IsSliceNal(type)) unit_has_slice_ = true;
  buffer.insert(buffer.end(), kStartCode.begin(), kStartCode.end());
  buffer.push_back(header);
}

void CH264RTPMediaParser::AppendNal(std::span<const uint8_t> nal) {
  BeginNal(nal[0]);
  frame().insert(frame().end(), nal.begin() + 1, nal.end());
}

void CH264RTPMediaParser::EmitAccessUnit(uint32_t timestamp) {
  std::vector<uint8_t>& buffer = frame();
  if (buffer.empty()) return;
  if (!CanDeliver()) {
    ++stats().undeliverable;
    return;
  }
  UpdateTime(timestamp);
  buffer.insert(buffer.end(), kUnitTrailer.begin(), kUnitTrailer.end());

  std::optional<H264PictureSize> size;
  if (key_sps_offset_ != kNone) {
    // The SPS ends at the next start code (emulation prevention keeps
    // 00 00 01 out of its body).
    const auto begin = buffer.begin() + static_cast<std::ptrdiff_t>(key_sps_offset_);
    const auto end = std::search(begin, buffer.end(), kStartCode.begin(), kStartCode.end());
    size = ParseSpsPictureSize(std::span<const uint8_t>(begin, end));
  }
  uint32_t compression = ipcapture::kCompressionI264;
  if (size) {
    SetPictureSize(size->width, size->height);
    compression = ipcapture::kCompressionH264;
    waiting_for_key_frame_ = false;
  } else if (waiting_for_key_frame_) {
    ++stats().withheld;
    return;
  }
  if (DeliverFrameBuffer(compression) == Delivery::kRefused) Reset();
}

}  // namespace korvela
