// The recorder's digital I/O callback: keeps every input change and device
// error with the time it arrived, for the CLI and the tests to take.
//
// Threading: the driver's "Digital Input thread" and "Digital Output thread"
// call OnInputChanged/OnDeviceError; any other thread calls Take/WaitFor.
// mutex_ guards events_ and dropped_; changed_ signals a new event.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "korvela/ipcapture.h"

#include "util/cond_var.h"
#include "util/mutex.h"

namespace korvela::recorder {

struct IoEvent {
  enum class Kind { kInputChanged, kDeviceError };
  Kind kind = Kind::kDeviceError;
  uint32_t input = 0;  // kInputChanged only
  uint32_t state = 0;  // kInputChanged only: an ipcapture::DigitalInputState
  std::chrono::system_clock::time_point when;
};

class IoHost : public ipcapture::ICaptureIOCallback {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // Events not taken yet are kept up to this many; older ones are dropped
  // (and counted) so a device failing every poll cannot grow memory.
  static constexpr size_t kMaxIoEvents = 1024;

  IoHost();
  explicit IoHost(Clock clock);

  void OnInputChanged(uint32_t input, uint32_t state) override;
  void OnDeviceError() override;

  // Removes and returns the events received so far, oldest first.
  std::vector<IoEvent> Take();

  // Waits until at least `count` events are waiting to be taken, or until
  // `timeout` has passed; true when they are there.
  bool WaitFor(size_t count, std::chrono::milliseconds timeout);

  // Events dropped because kMaxIoEvents were waiting.
  uint64_t Dropped() const;

 private:
  void Push(IoEvent event) EXCLUDES(mutex_);

  Clock clock_;
  mutable Mutex mutex_;
  CondVar changed_;
  std::deque<IoEvent> events_ GUARDED_BY(mutex_);
  uint64_t dropped_ GUARDED_BY(mutex_) = 0;
};

// "2026-12-06T14:40:29.123Z input 0 open" / "... device error" (UTC, so a
// log taken on site lines up with the camera's and the recorder's).
std::string FormatIoEvent(const IoEvent& event);

}  // namespace korvela::recorder
