#include "platform/event.h"

#include <cerrno>
#include <chrono>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace korvela::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Remaining time of a bounded wait, in the form poll() takes.
class Deadline {
 public:
  explicit Deadline(uint32_t timeout_ms)
      : infinite_(timeout_ms == kInfinite),
        end_(SteadyClock::now() + std::chrono::milliseconds(timeout_ms)) {}

  // -1 for no limit, else the whole milliseconds left rounded up (so a wait
  // never ends a fraction early), 0 once passed.
  int PollTimeout() const {
    if (infinite_) return -1;
    auto left = end_ - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
  }

 private:
  bool infinite_;
  SteadyClock::time_point end_;
};

// poll() that retries on EINTR; returns the poll result (-1 on a real error).
int PollRetry(pollfd* fds, nfds_t count, const Deadline& deadline) {
  for (;;) {
    int rc = ::poll(fds, count, deadline.PollTimeout());
    if (rc >= 0 || errno != EINTR) return rc;
  }
}

}  // namespace

Event::Event(Mode mode, bool initially_set) : mode_(mode) {
  fd_ = ::eventfd(initially_set ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
  set_.store(fd_ >= 0 && initially_set, std::memory_order_release);
}

Event::~Event() {
  if (fd_ >= 0) ::close(fd_);
}

void Event::Set() {
  if (fd_ < 0) return;
  MutexLock lock(mu_);
  if (set_.load(std::memory_order_relaxed)) return;  // already readable
  // The flag before the descriptor, and back in the reverse order: a thread
  // that poll() wakes always finds the flag set.
  set_.store(true, std::memory_order_release);
  uint64_t one = 1;
  while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

bool Event::ClearLocked() {
  if (!set_.load(std::memory_order_relaxed)) return false;
  uint64_t value = 0;
  // Non-semaphore eventfd: one read takes the whole counter.
  while (::read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
  set_.store(false, std::memory_order_release);
  return true;
}

void Event::Reset() {
  if (fd_ < 0) return;
  MutexLock lock(mu_);
  ClearLocked();
}

bool Event::TryAcquire() {
  if (mode_ == Mode::kManualReset) return IsSet();
  if (!IsSet()) return false;  // the common look, without the lock
  MutexLock lock(mu_);
  return ClearLocked();  // false when another waiter took it first
}

bool Event::Wait(uint32_t timeout_ms) {
  if (fd_ < 0) return false;
  if (TryAcquire()) return true;
  Deadline deadline(timeout_ms);
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    int rc = PollRetry(&p, 1, deadline);
    if (rc < 0) return false;
    if (rc == 0) return false;
    if (TryAcquire()) return true;
    // Lost the race for an auto-reset signal: wait on for the rest of the time.
    if (deadline.PollTimeout() == 0) return false;
  }
}

int WaitForAny(Event& a, Event& b, uint32_t timeout_ms) {
  if (!a.valid() || !b.valid()) return -1;
  Deadline deadline(timeout_ms);
  for (;;) {
    pollfd p[2] = {{a.fd(), POLLIN, 0}, {b.fd(), POLLIN, 0}};
    int rc = PollRetry(p, 2, deadline);
    if (rc < 0) return -1;
    if (rc > 0) {
      if ((p[0].revents & POLLIN) && a.TryAcquire()) return 0;
      if ((p[1].revents & POLLIN) && b.TryAcquire()) return 1;
    }
    if (rc == 0 || deadline.PollTimeout() == 0) return -1;
  }
}

int WaitEventOrFd(Event& e, int fd, short poll_events, uint32_t timeout_ms) {
  if (!e.valid() || fd < 0) return -1;
  Deadline deadline(timeout_ms);
  for (;;) {
    pollfd p[2] = {{e.fd(), POLLIN, 0}, {fd, poll_events, 0}};
    int rc = PollRetry(p, 2, deadline);
    if (rc < 0) return -1;
    if (rc > 0) {
      if ((p[0].revents & POLLIN) && e.TryAcquire()) return 0;
      // POLLNVAL too: the caller's next call on the fd then reports the error.
      if (p[1].revents & (poll_events | POLLERR | POLLHUP | POLLNVAL)) return 1;
    }
    if (rc == 0 || deadline.PollTimeout() == 0) return -1;
  }
}

CondEvent::CondEvent(Mode mode, bool initially_set) : mode_(mode), set_(initially_set) {}

CondEvent::~CondEvent() = default;

void CondEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    set_ = true;
    // Under mu_, so that a watcher cannot go away meanwhile (it unwatches
    // under mu_ before it ends).
    for (Watcher* watcher : watchers_) {
      {
        std::lock_guard<std::mutex> watcher_lock(watcher->mu);
        watcher->woken = true;
      }
      // Outside the watcher's lock: woken under it, the waiter would find the
      // lock held and sleep a second time.
      watcher->cv.notify_all();
    }
  }
  cv_.notify_all();
}

void CondEvent::Reset() {
  std::lock_guard<std::mutex> lock(mu_);
  set_ = false;
}

bool CondEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mu_);
  return set_;
}

bool CondEvent::TakeLocked() {
  if (!set_) return false;
  if (mode_ == Mode::kAutoReset) set_ = false;
  return true;
}

bool CondEvent::TryTake() {
  std::lock_guard<std::mutex> lock(mu_);
  return TakeLocked();
}

void CondEvent::Watch(Watcher* watcher) {
  std::lock_guard<std::mutex> lock(mu_);
  watchers_.push_back(watcher);
}

void CondEvent::Unwatch(Watcher* watcher) {
  std::lock_guard<std::mutex> lock(mu_);
  std::erase(watchers_, watcher);
}

namespace {

// Waits on `cv` until `ready()` (called with the lock held) or `end`.
template <typename Ready>
bool WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, bool infinite,
               SteadyClock::time_point end, Ready ready) {
  if (infinite) {
    cv.wait(lock, ready);
    return true;
  }
  return cv.wait_until(lock, end, ready);
}

SteadyClock::time_point EndOf(uint32_t timeout_ms) {
  return SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
}

}  // namespace

bool CondEvent::Wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  return WaitUntil(cv_, lock, timeout_ms == kInfinite, EndOf(timeout_ms),
                   [this] { return set_; }) &&
         TakeLocked();
}

int WaitForAny(CondEvent& a, CondEvent& b, uint32_t timeout_ms) {
  const bool infinite = timeout_ms == kInfinite;
  const SteadyClock::time_point end = EndOf(timeout_ms);
  CondEvent::Watcher watcher;
  // Watching before looking: a Set between the look and the wait is not lost.
  a.Watch(&watcher);
  b.Watch(&watcher);
  int result = -1;
  for (;;) {
    if (a.TryTake()) {
      result = 0;
      break;
    }
    if (b.TryTake()) {
      result = 1;
      break;
    }
    std::unique_lock<std::mutex> lock(watcher.mu);
    if (!WaitUntil(watcher.cv, lock, infinite, end, [&] { return watcher.woken; })) break;
    watcher.woken = false;
  }
  a.Unwatch(&watcher);
  b.Unwatch(&watcher);
  return result;
}

}  // namespace korvela::platform
