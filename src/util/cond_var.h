// CondVar: a condition variable for the annotated Mutex. The waits require
// the mutex held (through a MutexLock) and hold it again when they return,
// so the caller tests its condition in a loop the thread-safety analysis can
// follow:
//
//   MutexLock lock(mutex_);
//   while (!ready_) {
//     if (!changed_.WaitUntil(mutex_, deadline)) break;
//   }
//
// Threading: any thread; Notify* need not hold the mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "util/mutex.h"

namespace korvela {

class CondVar {
 public:
  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  void Wait(Mutex& mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> native(mutex.native(), std::adopt_lock);
    cv_.wait(native);
    native.release();  // the caller's MutexLock still owns the hold
  }

  // False once `deadline` has passed (the condition may still have come true).
  template <typename Clock, typename Duration>
  bool WaitUntil(Mutex& mutex, std::chrono::time_point<Clock, Duration> deadline) REQUIRES(mutex) {
    std::unique_lock<std::mutex> native(mutex.native(), std::adopt_lock);
    const bool woken = cv_.wait_until(native, deadline) == std::cv_status::no_timeout;
    native.release();
    return woken;
  }

  void NotifyOne() { cv_.notify_one(); }
  void NotifyAll() { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

}  // namespace korvela
