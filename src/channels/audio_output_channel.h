// CQuarnoAudioOutputChannel: talk-back to an IQeye camera. Preparation reads
// the audio OIDs, enables the loudspeaker output and full duplex, and tells
// the camera the talk-back password; the frames then go into one long POST
// to "/audiorx.cgi" (Content-Type audio/ulaw, declared length 999,999
// bytes), re-opened with the failing frame whenever a write fails.
//
// The talk-back user is "audio". Its password starts as the camera's default
// "plume" and is replaced at the first preparation, on a camera that has a
// talk-back password (1.9.10), by a random one from the cryptographic source;
// every preparation writes the password in use, so the camera always knows it.
//
// Threading: as CBaseAudioOutputChannel. Both senders are used on the worker
// only; OnStopping (recorder's thread) stops them, which ends a blocked call
// at once, and Start allows them again. error_counter_ is the worker's;
// bit_rate_ is written by the worker and read by the recorder's threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "channels/audio_options.h"
#include "channels/base_audio_output_channel.h"
#include "device/http_sender.h"

namespace korvela {

class CQuarnoAudioOutputChannel : public CBaseAudioOutputChannel {
 public:
  static constexpr const char* kPostUser = "audio";
  static constexpr const char* kDefaultPostPassword = "plume";
  static constexpr const char* kPostPath = "/audiorx.cgi";
  static constexpr const char* kPostContentType = "Content-Type: audio/ulaw";
  // Declared body length of one POST: about 125 s of audio at 8000 bytes/s.
  static constexpr uint32_t kPostDeclaredLength = 999999;
  // Talk-back password length (the camera takes 5 to 10 characters; the
  // longest is the hardest to guess).
  static constexpr size_t kPasswordLength = 10;
  static constexpr uint32_t kSampleRate = 8000;
  // A POST answered with this status or above was refused.
  static constexpr uint32_t kFirstRefusalStatus = 400;
  // Below this, camera parameter 8 is no usable bit rate.
  static constexpr int32_t kMinParameterBitRate = 1000;

  CQuarnoAudioOutputChannel(IDriver* driver, uint32_t key, uint32_t value,
                            ipcapture::IAudioSenderCallback* callback,
                            ipcapture::IAudioOutputFormatList* formats);
  ~CQuarnoAudioOutputChannel() override;

  bool Start() override;
  bool GetAudioFormat(ipcapture::IAudioFormat* format) override;

  // The talk-back password in use (tests).
  std::string GetPostPassword() const { return post_sender_.GetPassword(); }

 protected:
  bool PrepareDevice() override;
  bool IsFormatSupported(ipcapture::IAudioOutputFormatEntry* entry) override;
  bool IsFrameAcceptable(ipcapture::IAudioFrame* frame) override;
  bool SendAudioFrameToDevice(ipcapture::IAudioFrame* frame) override;
  void OnStopping() override;

 private:
  Web::CResultDef GetAudioOptions(AudioOutputOptions& options);
  bool OpenPost(const std::vector<uint8_t>& bytes);
  void LogResult(const Web::CResultDef& result);

  Web::CHttpSender oid_sender_;
  Web::CHttpSender post_sender_;
  uint32_t error_counter_ = 0;
  std::atomic<uint32_t> bit_rate_{0};
};

}  // namespace korvela
