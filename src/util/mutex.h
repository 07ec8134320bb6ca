// Mutex and MutexLock: a plain (non-recursive) mutex that clang's
// thread-safety analysis can check, and its scoped holder.
//
// std::mutex carries no capability annotation, so fields it guards cannot be
// marked GUARDED_BY. This wrapper adds the annotation and nothing else; waits
// on a std::condition_variable use native() through a std::unique_lock adopted
// from a held MutexLock.
//
// Threading: any thread; the lock must be released by the thread that took it.
#pragma once

#include <mutex>

#include "util/thread_annotations.h"

namespace korvela {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

  // For condition-variable waits only; the analysis does not see through it.
  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

// Holds the mutex from construction to destruction; Unlock() / Lock() let a
// caller drop it around a blocking step and take it back.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() RELEASE() {
    if (held_) mutex_.Unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void Unlock() RELEASE() {
    mutex_.Unlock();
    held_ = false;
  }
  void Lock() ACQUIRE() {
    mutex_.Lock();
    held_ = true;
  }

 private:
  Mutex& mutex_;
  bool held_ = true;
};

}  // namespace korvela
