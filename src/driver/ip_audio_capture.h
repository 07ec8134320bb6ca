// CIPAudioCapture: the recorder's handle on the device's audio inputs; and
// CIPAudioSender: its handle on the talk-back outputs. Both are thin tables of
// open channels made by the driver's IAudioChannelCreator.
//
// Threading: any recorder thread; see TAudioChannelTable for the lock and the
// life of a channel found under it.
#pragma once

#include <cstdint>

#include "korvela/ipcapture.h"

#include "core/idriver.h"
#include "driver/audio_channel_table.h"

namespace korvela {

class CIPAudioCapture final : public ipcapture::IIPAudioCapture2 {
 public:
  CIPAudioCapture(IAudioChannelCreator* creator, uint32_t limit)
      : creator_(creator), table_(limit) {}

  uint32_t GetChannelCount() override { return table_.Count(); }
  bool OpenChannel(uint32_t key, uint32_t input, ipcapture::IAudioCallback* callback,
                   ipcapture::IAudioFormatList* formats) override;
  bool CloseChannel(uint32_t key) override { return table_.Close(key); }
  uint32_t GetChannelState(uint32_t key, void*, void*) override;
  bool Reserved5(uint32_t, void*, void*) override { return false; }
  bool Reserved6(uint32_t, void*, void*) override { return false; }

 private:
  IAudioChannelCreator* const creator_;
  TAudioChannelTable<IAudioInputChannel> table_;
};

class CIPAudioSender final : public ipcapture::IIPAudioSender {
 public:
  CIPAudioSender(IAudioChannelCreator* creator, uint32_t limit)
      : creator_(creator), table_(limit) {}

  uint32_t GetChannelCount() override { return table_.Count(); }
  bool OpenChannel(uint32_t key, uint32_t value, ipcapture::IAudioSenderCallback* callback,
                   ipcapture::IAudioOutputFormatList* formats) override;
  bool CloseChannel(uint32_t key) override { return table_.Close(key); }
  bool SendAudioFrame(ipcapture::IAudioFrame* frame) override;
  bool GetAudioFormat(uint32_t key, ipcapture::IAudioFormat* format) override;
  uint32_t GetChannelState(uint32_t key, void*, void*) override;
  bool Reserved7(uint32_t, void*, void*) override { return false; }
  bool Reserved8(uint32_t, void*, void*) override { return false; }

 private:
  IAudioChannelCreator* const creator_;
  TAudioChannelTable<IAudioOutputChannel> table_;
};

}  // namespace korvela
