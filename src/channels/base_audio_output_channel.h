// CBaseAudioOutputChannel: a talk-back channel. The recorder hands it audio
// frames; a worker takes them from a queue and sends them to the device,
// preparing the device first and again after every failure. The device
// specifics (preparation, accepted formats, the transfer) are the derived
// class's.
//
// States (reported to the recorder at every change): 0 stopped, 1 starting,
// 2 sending, 3 stopping, 4 no usable format offered, 5 device unreachable.
//
// Ownership: a frame that SendFrame accepts belongs to the channel and is
// released through the frame allocator once sent or dropped (also when the
// channel stops with it still queued); a frame it refuses stays the caller's.
//
// Threading: Start, Stop, GetState, GetAudioFormat and SendFrame come from the
// recorder's threads; Start and Stop hold lifecycle_lock_. The worker ("Base
// Audio Output Channel") runs ProcessItem and so every device step. state_mu_
// guards the state; the report to the recorder is made after it is released.
// Once the stop is signalled the worker changes the state no more, and Stop
// reports 0 only after the worker has ended, so 0 is the last report.
#pragma once

#include <cstdint>

#include "korvela/ipcapture.h"

#include "base/queue_thread.h"
#include "base/sync_lock.h"
#include "channels/audio_item.h"
#include "core/idriver.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace korvela {

class CBaseAudioOutputChannel : public CQueueThread<CAudioItem>, public IAudioOutputChannel {
 public:
  static constexpr const char* kThreadName = "Base Audio Output Channel";

  // The recorder's talk-back states, by shorter names.
  enum State : uint32_t {
    kStopped = ipcapture::kAudioOutputStopped,
    kStarting = ipcapture::kAudioOutputStarting,
    kSending = ipcapture::kAudioOutputSending,
    kStopping = ipcapture::kAudioOutputStopping,
    kNoFormat = ipcapture::kAudioOutputNoFormat,
    kUnreachable = ipcapture::kAudioOutputUnreachable,
  };

  // `value` is the recorder's second OpenChannel value, kept and not used.
  CBaseAudioOutputChannel(IDriver* driver, uint32_t key, uint32_t value,
                          ipcapture::IAudioSenderCallback* callback,
                          ipcapture::IAudioOutputFormatList* formats);
  ~CBaseAudioOutputChannel() override;

  // IAudioOutputChannel. Stop also stands for CQueueThread::Stop.
  bool Start() override;
  bool Stop() override;
  uint32_t GetState() override;
  bool SendFrame(ipcapture::IAudioFrame* frame) override;

 protected:
  using CQueueThread<CAudioItem>::Start;

  void ProcessItem(CAudioItem* item) override;

  // Device preparation before sending (worker thread).
  virtual bool PrepareDevice() = 0;                                               // 8
  virtual bool IsFormatSupported(ipcapture::IAudioOutputFormatEntry* entry) = 0;  // 9
  // Called on the recorder's thread by SendFrame.
  virtual bool IsFrameAcceptable(ipcapture::IAudioFrame* frame) = 0;       // 10
  virtual bool SendAudioFrameToDevice(ipcapture::IAudioFrame* frame) = 0;  // 11
  // Stop calls this after signalling the stop event and before waiting for
  // the worker: end every blocking device call.
  virtual void OnStopping() {}  // 12

  // Stop without state reports: the destructor's stop of a channel that the
  // recorder has stopped already, or never started.
  bool StopWorker();
  // Stores the state and reports a change to the recorder.
  void SetState(uint32_t state);
  IDriver* driver() const { return driver_; }
  uint32_t key() const { return key_; }

 private:
  void SetWorkerState(uint32_t state);
  void PrepareCommand();
  void DataStep(ipcapture::IAudioFrame* frame);

  [[maybe_unused]] const uint32_t value_;
  IDriver* const driver_;
  const uint32_t key_;
  ipcapture::IAudioSenderCallback* const callback_;
  ipcapture::IAudioOutputFormatList* const formats_;
  CSyncLock lifecycle_lock_;
  mutable Mutex state_mu_;
  uint32_t state_ GUARDED_BY(state_mu_) = kStopped;
};

}  // namespace korvela
