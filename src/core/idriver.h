// The driver as the rest of the library sees it.
//
// IDriver is the link of every channel, parser and device-control object back
// to the driver and the recorder: logging, the device description, the frame
// allocator, camera parameters and the video-channel factory.
// IAudioChannelCreator makes audio channels for the audio capture and sender
// objects; IAudioInputChannel/IAudioOutputChannel are what those tables hold.
//
// Threading: IDriver operations are called from any thread (channel workers,
// the recorder's threads). They only read values fixed by Open; Message may
// run concurrently on several threads.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "korvela/debug_message.h"
#include "korvela/ipcapture.h"

#include "core/camera_channel_iface.h"
#include "core/device_info.h"

namespace korvela {

// "Veltrano": the driver's name, also the source name of every frame.
inline constexpr const char kDriverName[] = "Veltrano";

// Parameter value that reads as empty.
inline constexpr const char kParameterNone[] = "(none)";
// GetParameterInt result for a missing or non-numeric parameter.
inline constexpr int32_t kParameterNotANumber = INT32_MIN;

class IDriver : public IDebugMessage {
 public:
  // 1: Message (IDebugMessage).
  virtual std::string GetName() = 0;               // 2
  virtual const DEVICE_INFO* GetDeviceInfo() = 0;  // 3
  // Number of digital inputs (first) and outputs (second).
  virtual std::pair<uint32_t, uint32_t> GetIOCount() = 0;       // 4
  virtual ipcapture::IFrameAllocator* GetFrameAllocator() = 0;  // 5
  virtual uint32_t GetChannelParameter() = 0;                   // 6: parameter 1
  virtual uint32_t GetStreamType() = 0;                         // 7: 1 MJPEG, 3 H.264
  virtual uint32_t GetChannelCount() = 0;                       // 8: video inputs
  virtual ipcapture::IPrivacyZones* GetPrivacyZones() = 0;      // 9: may be null
  // Camera parameter text; empty when missing or "(none)".
  virtual std::string GetParameter(uint32_t index) = 0;  // 10
  // Camera parameter as a number; kParameterNotANumber when missing or not
  // a number.
  virtual int32_t GetParameterInt(uint32_t index) = 0;  // 11
  // A new, not yet started video channel owned by the caller; null for an
  // unknown stream type or when allocation fails.
  virtual ICameraChannel* CreateVideoChannel(uint32_t input,
                                             ipcapture::IFrameReceiver* receiver) = 0;  // 12
};

// The audio input channel as the audio capture object holds it.
class IAudioInputChannel {
 public:
  virtual ~IAudioInputChannel() = default;  // 0
  virtual bool Start() = 0;                 // 1
  virtual bool Stop() = 0;                  // 2
  virtual uint32_t GetState() = 0;          // 3
};

// The talk-back channel as the audio sender object holds it.
class IAudioOutputChannel {
 public:
  virtual ~IAudioOutputChannel() = default;                          // 0
  virtual bool Start() = 0;                                          // 1
  virtual bool Stop() = 0;                                           // 2
  virtual uint32_t GetState() = 0;                                   // 3
  virtual bool GetAudioFormat(ipcapture::IAudioFormat* format) = 0;  // 4
  // True when the frame was queued: from then on the channel owns it and
  // releases it through the frame allocator. False leaves it the caller's.
  virtual bool SendFrame(ipcapture::IAudioFrame* frame) = 0;  // 5
};

// Audio channel factory (the driver). The three values after the key come
// unchanged from the recorder's OpenChannel. Null when no channel can be made.
class IAudioChannelCreator {
 public:
  virtual ~IAudioChannelCreator() = default;  // 0
  virtual IAudioInputChannel* CreateAudioInputChannel(
      uint32_t key, uint32_t input, ipcapture::IAudioCallback* callback,
      ipcapture::IAudioFormatList* formats) = 0;  // 1
  virtual IAudioOutputChannel* CreateAudioOutputChannel(
      uint32_t key, uint32_t value, ipcapture::IAudioSenderCallback* callback,
      ipcapture::IAudioOutputFormatList* formats) = 0;  // 2
};

}  // namespace korvela
