// CQuarnoAudioCaptureChannel: the microphone of an IQeye camera. Before each
// session it checks that the recorder takes G.711 mu-law ("711M"), switches
// the camera's audio input on and to full duplex (1.9.5, 1.9.7), reads the
// audio bit rate (1.17.1.2) and makes a fresh G.711 parser; the session is
// "now.mp4?mm=a" on the camera's RTSP port (camera parameter 2), audio
// medium.
//
// Threading: as CBaseAudioRTSPChannel. The OID sender is used on the
// channel's thread; OnStopping (recorder's thread) stops it, which ends a
// blocked request at once, and each preparation allows it again. parser_mu_ guards the
// parser pointer: the channel's thread replaces it while the queue thread
// may still hold the previous one (each holds its own reference).
// option_errors_ is the channel thread's.
#pragma once

#include <cstdint>
#include <memory>

#include "channels/base_audio_rtsp_channel.h"
#include "device/http_sender.h"
#include "media/base_rtp_audio_parser.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace korvela {

class CQuarnoAudioCaptureChannel : public CBaseAudioRTSPChannel, public IAudioParserClient {
 public:
  static constexpr const char* kAudioPath = "now.mp4?mm=a";
  static constexpr uint32_t kSampleRate = 8000;
  static constexpr uint8_t kBitsPerSample = 8;

  CQuarnoAudioCaptureChannel(IDriver* driver, uint32_t key, uint32_t input,
                             ipcapture::IAudioCallback* callback,
                             ipcapture::IAudioFormatList* formats,
                             const platform::Clock& clock = platform::SystemClock(),
                             RtpDataChannelTiming timing = {});
  ~CQuarnoAudioCaptureChannel() override;

  // IAudioParserClient (queue thread).
  bool DeliverAudioFrame(ipcapture::IAudioFrame* frame) override;

 protected:
  void ProcessRTPPacket(const CRTPPacket& packet) override;
  void OnStopping() override;
  void PrepareSettings(RtspClientSettings& settings) override;
  bool PrepareAudio() override;

 private:
  bool UpdateIQEyeAudioOptions();
  // The camera's audio bit rate in bits per second; 0 when unknown.
  uint32_t ReadBitRate();
  bool CreateParser();

  Web::CHttpSender sender_;
  uint32_t option_errors_ = 0;
  Mutex parser_mu_;
  std::shared_ptr<CBaseRTPAudioParser> parser_ GUARDED_BY(parser_mu_);
};

}  // namespace korvela
