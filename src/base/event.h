// Event wrappers used by the driver's threads: CEvent is an auto-reset event,
// CManualEvent a manual-reset one, both initially not signalled. They hold no
// descriptor (a mutex and a condition variable; creation cannot fail), except
// a manual event that a worker waits on together with a socket: Raw() gives
// it an eventfd at its first call.
//
// Threading: every method may be called from any thread. The owner keeps the
// event alive until every waiter has returned.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/event.h"

namespace korvela {

class CEvent {
 public:
  CEvent() : CEvent(platform::Event::Mode::kAutoReset) {}
  virtual ~CEvent() = default;
  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;

  // Always true: creation cannot fail (kept for callers that check).
  bool IsValid() const { return true; }
  virtual void Set() { event_.Set(); }
  virtual void Reset() { event_.Reset(); }
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

  void Set() override;
  void Reset() override;
  // The event as an eventfd, to wait on it together with a socket
  // (platform::Socket waits). Made at the first call, from then on set and
  // reset with this event; check valid() (the descriptor may be refused).
  platform::Event& Raw();

 private:
  std::mutex pollable_mu_;  // guards pollable_; held across Set/Reset of both
  std::unique_ptr<platform::Event> pollable_;
};

inline void CManualEvent::Set() {
  std::lock_guard<std::mutex> lock(pollable_mu_);
  CEvent::Set();
  if (pollable_) pollable_->Set();
}

inline void CManualEvent::Reset() {
  std::lock_guard<std::mutex> lock(pollable_mu_);
  CEvent::Reset();
  if (pollable_) pollable_->Reset();
}

inline platform::Event& CManualEvent::Raw() {
  std::lock_guard<std::mutex> lock(pollable_mu_);
  if (!pollable_) {
    pollable_ = std::make_unique<platform::Event>(platform::Event::Mode::kManualReset, IsSet());
  }
  return *pollable_;
}

// Waits for either event: 0 or 1 for the one signalled, -1 on time-out.
inline int WaitForAny(CEvent& first, CEvent& second, uint32_t timeout_ms) {
  return platform::WaitForAny(first.event_, second.event_, timeout_ms);
}

}  // namespace korvela
