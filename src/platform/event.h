// Win32-style events on Linux, in two kinds. An Event holds an eventfd, which
// is readable exactly while the event is set, so a worker can poll it
// together with a socket and every blocking wait stays abortable; use it only
// for that, since a recorder runs out of descriptors long before anything
// else. A CondEvent, for every wait that involves no socket, is a mutex and a
// condition variable and costs no descriptor.
//
// An Event keeps its state in an atomic flag beside the eventfd, so that
// IsSet() (which workers ask before every read) costs no system call; the
// eventfd only wakes poll(). Set() writes the eventfd only when the event was
// not set, Reset() reads it only when it was. An auto-reset Event's signal is
// taken under its mutex, which clears the flag and drains the eventfd
// together, so exactly one waiter wins a signal. A CondEvent's signal is taken
// under its mutex, with the same outcome.
//
// Threading: every method of both kinds may be called from any thread at any
// time. An Event's `mu_` orders every change of `set_` with the matching
// change of the eventfd's counter (readable exactly while `set_` is true);
// `set_` is read without it. The object must outlive every thread that waits
// on it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "util/mutex.h"

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

  void Set() EXCLUDES(mu_);
  void Reset() EXCLUDES(mu_);
  // Zero-time check without a system call; does not consume an auto-reset
  // signal.
  bool IsSet() const { return set_.load(std::memory_order_acquire); }
  // True when signalled within `timeout_ms` (kInfinite: no limit). Consumes the
  // signal of an auto-reset event.
  bool Wait(uint32_t timeout_ms);

  int fd() const { return fd_; }
  Mode mode() const { return mode_; }

  // Takes the signal of an auto-reset event if it is set (true), or reports
  // whether a manual-reset event is set. Never blocks.
  bool TryAcquire() EXCLUDES(mu_);

 private:
  // Clears a set event and drains the eventfd; false when it was not set.
  bool ClearLocked() REQUIRES(mu_);

  const Mode mode_;
  int fd_ = -1;
  Mutex mu_;
  // Written under mu_ together with the eventfd; read anywhere.
  std::atomic<bool> set_{false};
};

// Waits until `a` or `b` is signalled: 0 or 1 for the one that was (the first
// one wins when both are), -1 on time-out or error. Consumes an auto-reset
// signal of the event returned only.
int WaitForAny(Event& a, Event& b, uint32_t timeout_ms);

class CondEvent {
 public:
  using Mode = Event::Mode;

  explicit CondEvent(Mode mode, bool initially_set = false);
  ~CondEvent();
  CondEvent(const CondEvent&) = delete;
  CondEvent& operator=(const CondEvent&) = delete;

  void Set();
  void Reset();
  // Zero-time check; does not consume an auto-reset signal.
  bool IsSet() const;
  // True when signalled within `timeout_ms` (kInfinite: no limit). Consumes the
  // signal of an auto-reset event.
  bool Wait(uint32_t timeout_ms);
  Mode mode() const { return mode_; }

 private:
  // A WaitForAny in progress: woken by a Set of either event.
  struct Watcher {
    std::mutex mu;
    std::condition_variable cv;
    bool woken = false;  // guarded by mu
  };
  friend int WaitForAny(CondEvent& a, CondEvent& b, uint32_t timeout_ms);
  // Takes the signal when set (consuming it in auto-reset mode); mu_ held.
  bool TakeLocked();
  bool TryTake();
  void Watch(Watcher* watcher);
  void Unwatch(Watcher* watcher);

  const Mode mode_;
  mutable std::mutex mu_;  // guards set_ and watchers_; taken before a watcher's
  std::condition_variable cv_;
  bool set_ = false;
  std::vector<Watcher*> watchers_;
};

// As WaitForAny for Events.
int WaitForAny(CondEvent& a, CondEvent& b, uint32_t timeout_ms);

// Waits for the event or for `fd` to report `poll_events` (POLLERR, POLLHUP and
// POLLNVAL always count). Returns 0 for the event (it has priority, so a stop
// request wins over pending data), 1 for the fd, -1 on time-out or error.
int WaitEventOrFd(Event& e, int fd, short poll_events, uint32_t timeout_ms);

}  // namespace korvela::platform
