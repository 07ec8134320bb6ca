// Event wrappers used by the driver's threads: CEvent is an auto-reset event,
// CManualEvent a manual-reset one, both initially not signalled. Neither is
// ever waited on together with a socket, so neither holds a descriptor (a
// mutex and a condition variable; creation cannot fail). A wait that must
// also end on a socket uses platform::Event.
//
// Threading: Set/Reset/IsSet/Wait may be called from any thread. The owner
// keeps the event alive until every waiter has returned.
#pragma once

#include <cstdint>

#include "platform/event.h"

namespace korvela {

class CEvent {
 public:
  CEvent() : CEvent(platform::Event::Mode::kAutoReset) {}
  // Shares `partner`'s condition variable, so that WaitForAny can wait for
  // both.
  explicit CEvent(CEvent& partner) : event_(platform::Event::Mode::kAutoReset, partner.event_) {}
  virtual ~CEvent() = default;
  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;

  void Set() { event_.Set(); }
  void Reset() { event_.Reset(); }
  // Zero-time check that does not consume an auto-reset signal.
  bool IsSet() const { return event_.IsSet(); }
  // True when signalled within `timeout_ms` (platform::kInfinite: no limit).
  bool Wait(uint32_t timeout_ms) { return event_.Wait(timeout_ms); }

 protected:
  explicit CEvent(platform::Event::Mode mode) : event_(mode) {}

 private:
  friend int WaitForAny(CEvent& first, CEvent& second, uint32_t timeout_ms);
  platform::CondEvent event_;
};

class CManualEvent : public CEvent {
 public:
  CManualEvent() : CEvent(platform::Event::Mode::kManualReset) {}
};

// Waits for either event: 0 or 1 for the one signalled, -1 on time-out, and
// at once when the two are not partners.
inline int WaitForAny(CEvent& first, CEvent& second, uint32_t timeout_ms) {
  return platform::WaitForAny(first.event_, second.event_, timeout_ms);
}

}  // namespace korvela
