// A std::mutex that clang's thread-safety analysis understands, and its
// scoped lock.
//
// Threading: a Mutex is shared by the threads it serialises; a MutexLock
// belongs to the scope that holds it.
#pragma once

#include <mutex>

#include "util/thread_annotations.h"

namespace camsim {

class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mu_.lock(); }
  void unlock() RELEASE() { mu_.unlock(); }

 private:
  std::mutex mu_;
};

class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mu) ACQUIRE(mu) : mu_(mu) { mu_.lock(); }
  ~MutexLock() RELEASE() { mu_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mu_;
};

}  // namespace camsim
