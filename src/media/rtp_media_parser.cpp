#include "media/rtp_media_parser.h"

#include <algorithm>
#include <utility>

#include "korvela/debug_message.h"

#include "base/log_throttle.h"
#include "core/resolution_class.h"

namespace korvela {

CRTPMediaParser::CRTPMediaParser(IDriver* driver, std::string name, const platform::Clock& clock)
    : driver_(driver), name_(std::move(name)), clock_(clock), converter_(clock) {}

void CRTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
  std::span<const uint8_t> payload = packet.Payload();
  if (packet.GetPadding() != 0) {
    // The last byte counts the padding bytes, itself included.
    const size_t padding = payload.empty() ? 0 : payload.back();
    if (padding == 0 || padding > payload.size()) {
      ++stats_.bad_payloads;
      return;
    }
    payload = payload.first(payload.size() - padding);
  }
  ProcessPacket(RtpPacketView{packet.GetSequenceNumber(), packet.GetMarker() != 0,
                              packet.GetTimestamp(), payload});
}

RtpParserCounters CRTPMediaParser::counters() const {
  RtpParserCounters c;
  c.packets = stats_.packets.load();
  c.duplicates = stats_.duplicates.load();
  c.gaps = stats_.gaps.load();
  c.bad_payloads = stats_.bad_payloads.load();
  c.overflows = stats_.overflows.load();
  c.withheld = stats_.withheld.load();
  c.undeliverable = stats_.undeliverable.load();
  c.delivered = stats_.delivered.load();
  c.accepted = stats_.accepted.load();
  return c;
}

uint32_t CRTPMediaParser::AllocationSize(size_t length) {
  for (const uint32_t size_class : {4096u, 16384u, 32768u, 131072u}) {
    if (length <= size_class) return size_class;
  }
  return static_cast<uint32_t>(length);  // callers keep frames below kMaxFrameBytes
}

CRTPMediaParser::SequenceVerdict CRTPMediaParser::CheckSequence(uint16_t sequence) {
  ++stats_.packets;
  SequenceVerdict verdict = SequenceVerdict::kInOrder;
  if (!first_packet_) {
    if (sequence == last_sequence_) {
      // Networks duplicate packets; a repeat is no loss.
      ++stats_.duplicates;
      return SequenceVerdict::kDuplicate;
    }
    if (sequence != static_cast<uint16_t>(last_sequence_ + 1)) {
      ++stats_.gaps;
      verdict = SequenceVerdict::kGap;
    }
  }
  first_packet_ = false;
  last_sequence_ = sequence;
  return verdict;
}

bool CRTPMediaParser::CheckBufferSize() {
  if (frame_.size() <= kMaxFrameBytes) return true;
  ++stats_.overflows;
  // A stream without markers overflows once per 10 MiB: thin the line out,
  // the counter keeps the full count.
  if (driver_ != nullptr && LogThrottle(overflow_log_counter_)) {
    const DEVICE_INFO* device = driver_->GetDeviceInfo();
    driver_->Message(kLogFailure, "%s: Frame buffer overflow detected, device %s:%u",
                     "korvela::CRTPMediaParser::CheckBufferSize",
                     device != nullptr ? device->address.c_str() : "",
                     device != nullptr ? unsigned{device->port} : 0u);
  }
  return false;
}

void CRTPMediaParser::ResetFrameState() {
  frame_.clear();  // keeps its capacity: no allocation per frame
  width_ = 0;
  height_ = 0;
  converter_.Reset();
}

bool CRTPMediaParser::CanDeliver() const {
  return driver_ != nullptr && receiver_ != nullptr && driver_->GetFrameAllocator() != nullptr;
}

CRTPMediaParser::Delivery CRTPMediaParser::DeliverFrameBuffer(uint32_t compression) {
  ipcapture::IFrameAllocator* allocator =
      driver_ != nullptr ? driver_->GetFrameAllocator() : nullptr;
  if (allocator == nullptr || receiver_ == nullptr || frame_.empty()) {
    ++stats_.undeliverable;
    return Delivery::kDropped;
  }
  const auto length = static_cast<uint32_t>(frame_.size());
  ipcapture::IVideoFrame* record =
      allocator->AllocateVideoFrame(compression, AllocationSize(length), name_.c_str());
  if (record == nullptr) {
    ++stats_.undeliverable;
    return Delivery::kDropped;
  }
  uint8_t* buffer = record->GetBuffer();
  if (buffer == nullptr) {
    ++stats_.undeliverable;
    allocator->ReleaseVideoFrame(record);
    return Delivery::kRefused;  // the caller starts over, as after a refusal
  }
  // The record holds AllocationSize(length) >= length bytes.
  std::copy(frame_.begin(), frame_.end(), buffer);
  record->SetWidth(width_);
  record->SetHeight(height_);
  record->SetResolutionClass(ResolutionClass(width_, height_));
  record->SetDataLength(length);
  record->SetCompression(compression);
  // The converter has no time only for an RTP timestamp of 0.
  const uint64_t converted = converter_.GetFileTime();
  const ipcapture::FrameTime time = converted != 0 ? converted : clock_.NowFileTime();
  record->SetTime(&time);
  ++stats_.delivered;
  const bool accepted = receiver_->DeliverFrame(record);
  if (accepted) ++stats_.accepted;
  allocator->ReleaseVideoFrame(record);
  return accepted ? Delivery::kAccepted : Delivery::kRefused;
}

}  // namespace korvela
