#include "driver/ip_audio_capture.h"

namespace korvela {

bool CIPAudioCapture::OpenChannel(uint32_t key, uint32_t input, ipcapture::IAudioCallback* callback,
                                  ipcapture::IAudioFormatList* formats) {
  return table_.Open(key, [&] {
    return creator_ != nullptr ? creator_->CreateAudioInputChannel(key, input, callback, formats)
                               : nullptr;
  });
}

uint32_t CIPAudioCapture::GetChannelState(uint32_t key, void*, void*) {
  auto channel = table_.Find(key);
  if (!channel) return ipcapture::kAudioInputStopped;
  return channel->GetState();
}

bool CIPAudioSender::OpenChannel(uint32_t key, uint32_t value,
                                 ipcapture::IAudioSenderCallback* callback,
                                 ipcapture::IAudioOutputFormatList* formats) {
  return table_.Open(key, [&] {
    return creator_ != nullptr ? creator_->CreateAudioOutputChannel(key, value, callback, formats)
                               : nullptr;
  });
}

bool CIPAudioSender::SendAudioFrame(ipcapture::IAudioFrame* frame) {
  if (frame == nullptr) return false;
  const uint32_t key = frame->GetChannel() & 0xFFu;
  auto channel = table_.Find(key);
  return channel ? channel->SendFrame(frame) : false;
}

bool CIPAudioSender::GetAudioFormat(uint32_t key, ipcapture::IAudioFormat* format) {
  if (format == nullptr) return false;
  return table_.WithLocked(
      key, false, [&](IAudioOutputChannel& channel) { return channel.GetAudioFormat(format); });
}

uint32_t CIPAudioSender::GetChannelState(uint32_t key, void*, void*) {
  auto channel = table_.Find(key);
  if (!channel) return ipcapture::kAudioOutputStopped;
  return channel->GetState();
}

}  // namespace korvela
