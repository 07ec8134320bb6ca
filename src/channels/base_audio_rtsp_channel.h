// CBaseAudioRTSPChannel: an audio input channel that receives its audio over
// its own RTSP session (DESCRIBE, SETUP, PLAY on the path and medium the
// derived class names), keeps the session alive with OPTIONS at half the
// session time-out, and reports its state to the recorder and its signal to
// the log. The device preparation (PrepareAudio) and the stream's name
// (PrepareSettings) are the derived class's.
//
// States, each change reported at once to the recorder (input index, state):
// 0 stopped, 1 connecting, 2 running, 3 session being stopped, 4 error, 5
// audio lost. Allowed: 0->1; 1->2, 3 or 5; 2->3 or 5; 3->0; 4->0; 5->1 or 3.
// Any other change asked for is ignored (no change, no report).
//
// Threading: Start and Stop come from the recorder's thread and hold
// lifecycle_lock_; GetState from any thread (state_ is atomic). The state
// changes only on the channel's thread (Run and the session hooks); the RTSP
// client is used by that thread alone. Audio arrives on the RTP receiver's
// queue thread (ProcessRTPPacket, DeliverAudio), which reads the state, calls
// the recorder and sets the signal; signal_mu_ guards the signal flag, and no
// lock is held while the recorder or the log is called.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>

#include "korvela/ipcapture.h"

#include "base/sync_lock.h"
#include "base/time.h"
#include "channels/base_rtp_data_channel.h"
#include "core/idriver.h"
#include "rtsp/base_rtsp_client.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace korvela {

// The audio input channel's state and its allowed changes (table above).
//
// Threading: Move on one thread (the channel's); Get from any.
class AudioInputStateMachine {
 public:
  // Called after every change with the new state.
  using Report = std::function<void(uint32_t state)>;

  explicit AudioInputStateMachine(Report report, uint32_t initial = 0)
      : report_(std::move(report)), state_(initial) {}

  static bool IsAllowed(uint32_t from, uint32_t to);
  // Changes the state and reports it when the change is allowed; false (no
  // change, no report) otherwise.
  bool Move(uint32_t to);
  uint32_t Get() const { return state_.load(); }

 private:
  const Report report_;
  std::atomic<uint32_t> state_;
};

class CBaseAudioRTSPChannel : public CBaseRTPDataChannel, public IAudioInputChannel {
 public:
  static constexpr const char* kThreadName = "Audio RTSP Channel";

  // The recorder's audio input states, by shorter names.
  enum State : uint32_t {
    kStopped = ipcapture::kAudioInputStopped,
    kConnecting = ipcapture::kAudioInputConnecting,
    kRunning = ipcapture::kAudioInputRunning,
    kStopping = ipcapture::kAudioInputStopping,
    kError = ipcapture::kAudioInputError,
    kAudioLost = ipcapture::kAudioInputLost,
  };

  // `key` is the recorder's channel number (the audio input index of the
  // reports); `input` the device input (the data channel's input index).
  CBaseAudioRTSPChannel(IDriver* driver, uint32_t key, uint32_t input,
                        ipcapture::IAudioCallback* callback, ipcapture::IAudioFormatList* formats,
                        const platform::Clock& clock = platform::SystemClock(),
                        RtpDataChannelTiming timing = {});
  ~CBaseAudioRTSPChannel() override;

  // IAudioInputChannel.
  bool Start() override;
  bool Stop() override;
  uint32_t GetState() override { return state_.Get(); }

 protected:
  // CBaseRTPDataChannel (channel thread).
  bool PrepareDevice() override;
  bool StartSession() override;
  void StopSession() override;
  void OnIdle() override;
  void OnSignalLost() override;
  void OnSessionReset() override;
  void OnStopped() override;

  // Sets port, path and medium of the stream; `settings.port` is 554.
  virtual void PrepareSettings(RtspClientSettings& settings) = 0;
  // Makes the device send audio and the parser ready; false: no session.
  virtual bool PrepareAudio() = 0;

  // Hands a finished frame to the recorder while the channel runs (queue
  // thread); true when it went to the recorder.
  bool DeliverAudio(ipcapture::IAudioFrame* frame);
  // Changes the state when the change is allowed, and reports it.
  void MoveTo(uint32_t state) { state_.Move(state); }
  // Logs when the audio signal comes or goes.
  void SetDeviceState(bool present);

  uint32_t key() const { return key_; }
  ipcapture::IAudioFormatList* formats() const { return formats_; }

 private:
  AudioInputStateMachine state_;
  CSyncLock lifecycle_lock_;
  const uint32_t key_;
  CBaseRTSPClient client_;  // channel thread only
  CTime last_keep_alive_;   // channel thread only
  ipcapture::IAudioCallback* const callback_;
  ipcapture::IAudioFormatList* const formats_;
  Mutex signal_mu_;
  bool signal_present_ GUARDED_BY(signal_mu_) = false;
};

}  // namespace korvela
