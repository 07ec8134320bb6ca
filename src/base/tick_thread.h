// CTickThread: a worker that calls Tick() once per period until stopped;
// TTickThread<T> forwards each tick to a member function of an owner.
//
// Threading: Tick runs on the worker. The period may be changed from any
// thread (atomic) and applies from the next wait. StartTicking/StopTicking
// follow CBaseThread's rules; a TTickThread's handler is set before the
// thread starts and not changed while it runs.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/base_thread.h"

namespace korvela {

class CTickThread : public CBaseThread {
 public:
  static constexpr uint32_t kDefaultPeriodMs = 2000;

  explicit CTickThread(IDebugMessage* log) : CBaseThread(log) {}

  // Ticks at once, then once per period.
  bool StartTicking(const char* name);
  // StopThread(5000).
  bool StopTicking();

  void SetPeriod(uint32_t period_ms) { period_ms_.store(period_ms); }
  uint32_t GetPeriod() const { return period_ms_.load(); }

 protected:
  // Waits one period, ticks, and so on; ticks first when started with
  // StartTicking. Leaves as soon as the stop event is signalled.
  void Run() override;
  virtual void Tick() = 0;

 private:
  std::atomic<uint32_t> period_ms_{kDefaultPeriodMs};
  std::atomic<bool> tick_first_{false};
};

template <class T>
class TTickThread : public CTickThread {
 public:
  using Handler = void (T::*)();

  explicit TTickThread(IDebugMessage* log, T* owner = nullptr, Handler handler = nullptr)
      : CTickThread(log), owner_(owner), handler_(handler) {}
  // The worker calls Tick on this object: it must end before we are gone.
  ~TTickThread() override { StopThread(5000); }

  void SetHandler(T* owner, Handler handler) {
    owner_ = owner;
    handler_ = handler;
  }

 protected:
  void Tick() override {
    if (owner_ != nullptr && handler_ != nullptr) (owner_->*handler_)();
  }

 private:
  T* owner_;
  Handler handler_;
};

}  // namespace korvela
