// CSyncLock: the recursive lock for the driver's short critical sections, and
// CSyncLockGuard, its scoped holder.
//
// A std::recursive_mutex does what the users rely on: recursion by the owner,
// a non-blocking try, and a blocked Lock woken when the owner's last level is
// released. (Its implementation spins briefly before sleeping, like the
// original's spin-then-block design.)
//
// Threading: any thread; the lock must be released by the thread that took it.
#pragma once

#include <mutex>

#include "util/thread_annotations.h"

namespace korvela {

class CAPABILITY("mutex") CSyncLock {
 public:
  CSyncLock() = default;
  CSyncLock(const CSyncLock&) = delete;
  CSyncLock& operator=(const CSyncLock&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  // True when the lock was taken (also when the caller already owns it).
  bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

class SCOPED_CAPABILITY CSyncLockGuard {
 public:
  explicit CSyncLockGuard(CSyncLock& lock) ACQUIRE(lock) : lock_(lock) { lock_.Lock(); }
  ~CSyncLockGuard() RELEASE() { lock_.Unlock(); }
  CSyncLockGuard(const CSyncLockGuard&) = delete;
  CSyncLockGuard& operator=(const CSyncLockGuard&) = delete;

 private:
  CSyncLock& lock_;
};

}  // namespace korvela
