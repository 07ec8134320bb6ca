// Event wrappers used by the driver's threads: CEvent is an auto-reset event,
// CManualEvent a manual-reset one, both initially not signalled.
//
// Threading: Set/Reset/IsSet/Wait may be called from any thread; the wrapped
// eventfd is the only state. The owner keeps the event alive until every
// waiter has returned.
#pragma once

#include <cstdint>

#include "platform/event.h"

namespace korvela {

class CEvent {
 public:
  CEvent() : CEvent(platform::Event::Mode::kAutoReset) {}
  virtual ~CEvent() = default;
  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;

  // False when the event could not be created; every wait on it then fails.
  bool IsValid() const { return event_.valid(); }
  void Set() { event_.Set(); }
  void Reset() { event_.Reset(); }
  // Zero-time check that does not consume an auto-reset signal.
  bool IsSet() const { return event_.IsSet(); }
  // True when signalled within `timeout_ms` (platform::kInfinite: no limit).
  bool Wait(uint32_t timeout_ms) { return event_.Wait(timeout_ms); }

  // The underlying event, to wait on it together with a socket
  // (platform::WaitEventOrFd).
  platform::Event& Raw() { return event_; }

 protected:
  explicit CEvent(platform::Event::Mode mode) : event_(mode) {}

 private:
  platform::Event event_;
};

class CManualEvent : public CEvent {
 public:
  CManualEvent() : CEvent(platform::Event::Mode::kManualReset) {}
};

// Waits for either event: 0 or 1 for the one signalled, -1 on time-out or
// error (also when either event is invalid).
inline int WaitForAny(CEvent& first, CEvent& second, uint32_t timeout_ms) {
  return platform::WaitForAny(first.Raw(), second.Raw(), timeout_ms);
}

}  // namespace korvela
