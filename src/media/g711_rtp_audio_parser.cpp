#include "media/g711_rtp_audio_parser.h"

#include "korvela/debug_message.h"

#include "base/log_throttle.h"

namespace korvela {
namespace {

constexpr const char* kOrigin = "korvela::CG711RTPAudioParser::ProcessAudioFrame";

}  // namespace

CG711RTPAudioParser::CG711RTPAudioParser(IDriver* driver, uint32_t audio_input)
    : CBaseRTPAudioParser(driver, audio_input),
      name_(driver != nullptr ? driver->GetName() : std::string()) {}

bool CG711RTPAudioParser::AppendPayload(const uint8_t* data, size_t length) {
  if (data == nullptr || length < 2) return false;
  buffer().insert(buffer().end(), data, data + length);
  return true;
}

void CG711RTPAudioParser::ProcessAudioFrame() {
  ipcapture::IFrameAllocator* allocator =
      driver() != nullptr ? driver()->GetFrameAllocator() : nullptr;
  if (allocator == nullptr || buffer().empty()) return;
  const auto length = static_cast<uint32_t>(buffer().size());
  ipcapture::IAudioFrame* frame =
      allocator->AllocateAudioFrame(format_code(), length, name_.c_str());
  if (frame == nullptr) {
    CountFrame(false);
    // The recorder refusing records repeats at the packet rate: thinned.
    if (LogThrottle(allocation_log_counter_))
      driver()->Message(kLogFailure, "%s: Unable to allocate  memory for audio frame!", kOrigin);
    return;
  }
  frame->SetFormatCode(format_code());
  frame->SetData(buffer().data(), length);
  frame->SetSampleFormat(sample_rate(), bits_per_sample(), stereo());
  frame->SetBitRate(bit_rate());
  frame->SetChannel(static_cast<uint8_t>(audio_input()));
  frame->SetTimeNow();
  const bool delivered = client() != nullptr && client()->DeliverAudioFrame(frame);
  CountFrame(delivered);
  if (!delivered) {
    if (LogThrottle(delivery_log_counter_)) {
      const DEVICE_INFO* device = driver()->GetDeviceInfo();
      driver()->Message(kLogFailure, "%s: Audio-frame processing error, camera %s:%u", kOrigin,
                        device != nullptr ? device->address.c_str() : "",
                        device != nullptr ? unsigned{device->port} : 0u);
    }
    Reset();
  }
  allocator->ReleaseAudioFrame(frame);
}

}  // namespace korvela
