#include "channels/http_media_parser.h"

#include <algorithm>
#include <utility>

#include "base/log_throttle.h"
#include "core/resolution_class.h"

namespace korvela {

CHttpMediaParser::CHttpMediaParser(IDriver* driver, std::string name)
    : driver_(driver), name_(std::move(name)) {}

std::span<uint8_t> CHttpMediaParser::ReceiveArea() {
  if (receive_area_.empty()) receive_area_.resize(kMinReceiveBytes);
  return receive_area_;
}

void CHttpMediaParser::Received(size_t n) {
  ProcessData(std::span<const uint8_t>(receive_area_).first(std::min(n, receive_area_.size())));
}

MediaParserCounters CHttpMediaParser::counters() const {
  return {delivered_.load(), accepted_.load(), dropped_.load(), overflows_.load()};
}

void CHttpMediaParser::DeliverPicture(uint32_t compression, std::span<const uint8_t> picture,
                                      uint32_t width, uint32_t height) {
  ipcapture::IFrameAllocator* allocator =
      driver_ != nullptr ? driver_->GetFrameAllocator() : nullptr;
  if (receiver_ == nullptr || allocator == nullptr || picture.empty() || width == 0 ||
      height == 0 || picture.size() > UINT32_MAX) {
    ++dropped_;
    return;
  }
  const auto length = static_cast<uint32_t>(picture.size());
  ipcapture::IVideoFrame* frame = allocator->AllocateVideoFrame(compression, length, name_.c_str());
  if (frame == nullptr) {
    ++dropped_;
    return;
  }
  frame->SetWidth(width);
  frame->SetHeight(height);
  frame->SetResolutionClass(ResolutionClass(width, height));
  frame->SetDataLength(length);
  frame->SetCompression(compression);
  frame->SetTimeNow();
  // The record's buffer holds exactly `length` bytes (its allocated size).
  uint8_t* buffer = frame->GetBuffer();
  if (buffer == nullptr) {
    ++dropped_;
  } else {
    std::copy_n(picture.data(), length, buffer);
    ++delivered_;
    if (receiver_->ReceiveFrame(frame)) ++accepted_;
  }
  allocator->ReleaseVideoFrame(frame);
}

void CHttpMediaParser::ReportBufferOverflow() {
  ++overflows_;
  // A device that never ends its pictures overflows once per 10 MiB: thin
  // the line out, the counter keeps the full count.
  if (driver_ == nullptr || !LogThrottle(overflow_log_counter_)) return;
  const DEVICE_INFO* device = driver_->GetDeviceInfo();
  driver_->Message(1, "%s: Frame buffer overflow detected, device %s:%u",
                   "korvela::CHttpMediaParser::CheckBufferSize",
                   device != nullptr ? device->address.c_str() : "",
                   device != nullptr ? unsigned{device->port} : 0u);
}

}  // namespace korvela
