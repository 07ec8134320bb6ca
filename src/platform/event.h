// Win32-style events on Linux, one eventfd each.
//
// The eventfd is readable exactly while the event is set, so a worker can poll
// its stop event together with a socket and every blocking wait stays
// abortable. An auto-reset event is consumed by a successful non-blocking read
// of the eventfd; that read is atomic, so exactly one waiter wins a signal.
//
// Threading: every method may be called from any thread at any time (the
// object itself holds no mutable state beside the kernel counter). The object
// must outlive every thread that waits on it.
#pragma once

#include <cstdint>

namespace korvela::platform {

constexpr uint32_t kInfinite = 0xFFFFFFFF;

class Event {
 public:
  enum class Mode { kAutoReset, kManualReset };

  explicit Event(Mode mode, bool initially_set = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // False when the eventfd could not be created; then every wait fails.
  bool valid() const { return fd_ >= 0; }

  void Set();
  void Reset();
  // Zero-time check; does not consume an auto-reset signal.
  bool IsSet() const;
  // True when signalled within `timeout_ms` (kInfinite: no limit). Consumes the
  // signal of an auto-reset event.
  bool Wait(uint32_t timeout_ms);

  int fd() const { return fd_; }
  Mode mode() const { return mode_; }

  // Takes the signal of an auto-reset event if it is set (true), or reports
  // whether a manual-reset event is set. Never blocks.
  bool TryAcquire();

 private:
  const Mode mode_;
  int fd_ = -1;
};

// Waits until `a` or `b` is signalled: 0 or 1 for the one that was (the first
// one wins when both are), -1 on time-out or error. Consumes an auto-reset
// signal of the event returned only.
int WaitForAny(Event& a, Event& b, uint32_t timeout_ms);

// Waits for the event or for `fd` to report `poll_events` (POLLERR, POLLHUP and
// POLLNVAL always count). Returns 0 for the event (it has priority, so a stop
// request wins over pending data), 1 for the fd, -1 on time-out or error.
int WaitEventOrFd(Event& e, int fd, short poll_events, uint32_t timeout_ms);

}  // namespace korvela::platform
