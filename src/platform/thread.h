// A named OS thread that can be joined with a time-out.
//
// There is no safe way to terminate a thread from outside on POSIX (locks stay
// held, memory leaks), so this class offers none: a caller that gives up
// waiting must make the body return (stop event, shut sockets) and wait again.
//
// Threading: Start and Join are called by one controlling thread at a time.
// id() and IsCurrentThread() may be called from any thread (the id is atomic).
// The body runs on the new thread and must not touch this object except for
// id()/IsCurrentThread().
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/event.h"

namespace korvela::platform {

// Kernel id of the calling thread (as `top -H` shows it).
uint32_t CurrentThreadId();

class Thread {
 public:
  // pthread_setname_np limit: 15 characters plus the terminator.
  static constexpr size_t kMaxOsNameLength = 15;

  Thread();
  // Waits without limit for a thread that still runs: an OS thread must never
  // outlive the object that started it.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body` on a new thread named `name` (cut to 15 characters for the
  // OS). An exception escaping `body` ends the thread, not the process. False when a started thread
  // still runs or the OS refuses. A thread that has ended is reaped first. Returns once the new
  // thread knows its id.
  bool Start(std::string_view name, std::function<void()> body);

  // True when no thread is held or it ended within `timeout_ms` and was
  // reaped; false on time-out or when called from the thread itself.
  bool Join(uint32_t timeout_ms);

  // A thread was started and not yet reaped by Join.
  bool IsHeld() const { return held_.load(std::memory_order_acquire); }
  // The held thread's body has returned (true as well when none is held).
  bool HasEnded() const { return !IsHeld() || done_.IsSet(); }
  bool IsCurrentThread() const;
  // Kernel id of the held thread, 0 when none.
  uint32_t id() const { return id_.load(std::memory_order_acquire); }

 private:
  std::thread worker_;  // touched by the controlling thread only
  std::atomic<bool> held_{false};
  std::atomic<uint32_t> id_{0};
  // No descriptors: nothing here is waited on together with a socket.
  CondEvent started_{CondEvent::Mode::kAutoReset};
  // Holds the body back until Start has stored worker_, so that the body may
  // ask IsHeld()/IsCurrentThread() from its first instruction.
  CondEvent go_{CondEvent::Mode::kAutoReset};
  CondEvent done_{CondEvent::Mode::kManualReset};
};

}  // namespace korvela::platform
