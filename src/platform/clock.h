// Injectable source of "now": wall-clock time as FILETIME and a monotonic
// millisecond count. Code whose behaviour depends on time takes a Clock so
// that tests drive it with ManualClock instead of sleeping.
//
// Threading: every method of both implementations may be called from any
// thread; ManualClock keeps its values in atomics.
#pragma once

#include <atomic>
#include <cstdint>

namespace korvela::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // UTC wall-clock time in 100-ns units since 1601 (FILETIME).
  virtual uint64_t NowFileTime() const = 0;
  // Monotonic milliseconds from an arbitrary origin; never goes back.
  virtual uint64_t SteadyMs() const = 0;
  // Millisecond tick that wraps at 2^32, like the multimedia timer.
  uint32_t TickMs() const { return static_cast<uint32_t>(SteadyMs()); }
};

// The process-wide clock backed by CLOCK_REALTIME and CLOCK_MONOTONIC.
const Clock& SystemClock();

// Shorthands for SystemClock().
uint64_t NowFileTime();
uint32_t TickCountMs();

// A clock that moves only when told to.
class ManualClock : public Clock {
 public:
  explicit ManualClock(uint64_t file_time = 0, uint64_t steady_ms = 0)
      : file_time_(file_time), steady_ms_(steady_ms) {}

  uint64_t NowFileTime() const override { return file_time_.load(); }
  uint64_t SteadyMs() const override { return steady_ms_.load(); }

  void SetFileTime(uint64_t file_time) { file_time_.store(file_time); }
  // Moves both time lines forward by `ms`.
  void AdvanceMs(uint64_t ms) {
    file_time_.fetch_add(ms * 10000);
    steady_ms_.fetch_add(ms);
  }

 private:
  std::atomic<uint64_t> file_time_;
  std::atomic<uint64_t> steady_ms_;
};

}  // namespace korvela::platform
