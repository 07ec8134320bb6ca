// CIOBase: the device-independent part of the digital I/O object. The input
// is polled on the "Digital Input thread" (every 2000 ms, first poll at once);
// output commands are queued by SetOutput and applied one by one on the
// "Digital Output thread". Changes and device failures go to the recorder's
// callback.
//
// Threading: SetCallback, Start, Stop, SetOutput and the counts are called on
// recorder threads (SetOutput only queues). PollInputs runs on the input
// thread, ApplyOutput and WriteOutput on the output thread. states_ has its
// own lock (shared by both maps, so a reset never overlaps the other thread's
// use of its map); callback_lock_ guards callback_, which is copied out and
// called without any lock held. Subclasses stop both threads in their
// destructor (PollInputs/WriteOutput are theirs).
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "korvela/ipcapture.h"

#include "base/output_handler.h"
#include "base/sync_lock.h"
#include "base/tick_thread.h"
#include "core/idriver.h"
#include "device/io_base_states.h"
#include "util/thread_annotations.h"

namespace korvela {

class CIOBase : public ipcapture::ICaptureIOApi {
 public:
  static constexpr uint32_t kInputPollPeriodMs = 2000;
  static constexpr uint32_t kStopTimeoutMs = 5000;

  explicit CIOBase(IDriver* driver);
  ~CIOBase() override;
  CIOBase(const CIOBase&) = delete;
  CIOBase& operator=(const CIOBase&) = delete;

  bool SetCallback(ipcapture::ICaptureIOCallback* callback) override;  // 1
  // 2: resets the states; starts the output thread (outputs taken as open)
  // and the input thread (first poll at once) when there are any. True when
  // every thread needed runs.
  bool Start() override;
  // 3: drops queued commands, stops both threads, resets the states. True
  // when both threads stopped.
  bool Stop() override;
  uint32_t GetInputCount() override;   // 4
  uint32_t GetOutputCount() override;  // 5
  // 6: queues the command; false when the output thread does not run.
  bool SetOutput(uint32_t output, uint32_t state) override;

  // 7: on the output thread. Writes a command whose state differs from the
  // stored one; a failed write resets the states and reports a device error.
  virtual void ApplyOutput(uint32_t output, uint32_t state);
  // 8: writes one output to the device; true when the device took it.
  virtual bool WriteOutput(uint32_t output, uint32_t state) = 0;
  // 9: reads the inputs; false when the device gave no valid answer.
  virtual bool PollInputs(uint32_t count) = 0;

  // The poll period (2000 ms); tests shorten it.
  void SetPollPeriod(uint32_t period_ms) { input_thread_.SetPeriod(period_ms); }

  std::optional<uint32_t> InputState(uint32_t input) const { return states_.Input(input); }
  std::optional<uint32_t> OutputState(uint32_t output) const { return states_.Output(output); }

 protected:
  // For PollInputs: stores a new input state and reports it when it differs
  // from the stored one (inputs outside the table are ignored).
  void UpdateInput(uint32_t input, uint32_t state);

  // Called by Stop before it waits for the threads, on the stopping thread:
  // a subclass cuts the device request a worker may be blocked in.
  // The abort holds (a request a worker starts afterwards fails too) until
  // AllowRequests, which Start calls before it starts the threads.
  virtual void AbortRequests() {}
  virtual void AllowRequests() {}

  // Stops both threads; subclasses call it first in their destructor.
  bool StopThreads();

  IDriver* driver() const { return driver_; }

 private:
  void OnPollTick();
  void ResetStates();
  ipcapture::ICaptureIOCallback* Callback();
  void ReportDeviceError();

  IDriver* const driver_;
  CIOStateTable states_;
  // Set while the output thread takes commands: SetOutput before Start,
  // after Stop or without outputs fails instead of queueing into nothing.
  std::atomic<bool> accepting_outputs_{false};
  // Set by Stop before it aborts the requests in progress: a request that
  // fails because of the stop is neither a device error nor an input change.
  std::atomic<bool> stopping_{false};
  CSyncLock callback_lock_;
  ipcapture::ICaptureIOCallback* callback_ GUARDED_BY(callback_lock_) = nullptr;
  TOutputHandler<CIOBase> output_thread_;
  TTickThread<CIOBase> input_thread_;
};

}  // namespace korvela
