#include "base/time.h"

namespace korvela {

CTime::CTime(const platform::Clock& clock) : clock_(clock) { Reset(); }

void CTime::Reset() {
  const uint64_t now_ft = clock_.NowFileTime();
  const uint64_t now_ms = clock_.SteadyMs();
  CSyncLockGuard guard(lock_);
  file_time_ = now_ft;
  steady_ms_ = now_ms;
}

uint64_t CTime::Get() const {
  CSyncLockGuard guard(lock_);
  return file_time_;
}

uint64_t CTime::ElapsedMs() const {
  const uint64_t now = clock_.SteadyMs();
  CSyncLockGuard guard(lock_);
  return now > steady_ms_ ? now - steady_ms_ : 0;
}

}  // namespace korvela
