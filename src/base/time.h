// CTime: a time stamp taken from an injectable clock, and the time elapsed
// since it.
//
// The stamp is wall-clock FILETIME (what Get returns), but ElapsedMs measures
// on the clock's monotonic time line, so that setting the system clock back or
// forward neither hides nor fakes a time-out (signal loss, reconnection).
//
// Threading: any thread; lock_ guards both stamps.
#pragma once

#include <cstdint>

#include "base/sync_lock.h"
#include "platform/clock.h"
#include "util/thread_annotations.h"

namespace korvela {

class CTime {
 public:
  // Stamps the current time. `clock` must outlive the object.
  explicit CTime(const platform::Clock& clock = platform::SystemClock());
  virtual ~CTime() = default;
  CTime(const CTime&) = delete;
  CTime& operator=(const CTime&) = delete;

  // Stamps the current time.
  void Reset();
  // The stamp as FILETIME (100-ns units since 1601 UTC).
  uint64_t Get() const;
  // Milliseconds since the stamp; 0 if the clock reads earlier.
  uint64_t ElapsedMs() const;

 private:
  const platform::Clock& clock_;
  mutable CSyncLock lock_;
  uint64_t file_time_ GUARDED_BY(lock_) = 0;
  uint64_t steady_ms_ GUARDED_BY(lock_) = 0;
};

}  // namespace korvela
