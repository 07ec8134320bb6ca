#include "platform/thread.h"

#include <system_error>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace korvela::platform {

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

Thread::Thread() = default;

Thread::~Thread() {
  // Destroyed by its own body: the thread cannot wait for itself; let it end
  // on its own rather than abort the process.
  if (IsHeld() && IsCurrentThread()) {
    worker_.detach();
    held_.store(false, std::memory_order_release);
    return;
  }
  Join(kInfinite);
}

bool Thread::Start(std::string_view name, std::function<void()> body) {
  if (IsHeld()) {
    if (!done_.IsSet()) return false;
    worker_.join();
    id_.store(0, std::memory_order_release);
    held_.store(false, std::memory_order_release);
  }
  done_.Reset();
  started_.Reset();
  go_.Reset();
  std::string os_name(name.substr(0, kMaxOsNameLength));
  try {
    worker_ = std::thread([this, os_name = std::move(os_name), body = std::move(body)] {
      ::pthread_setname_np(::pthread_self(), os_name.c_str());
      id_.store(CurrentThreadId(), std::memory_order_release);
      started_.Set();
      go_.Wait(kInfinite);
      try {
        if (body) body();
      } catch (...) {
        // An exception must not take the host process down (std::terminate);
        // the thread ends as if its body had returned.
      }
      done_.Set();
    });
  } catch (const std::system_error&) {
    return false;
  }
  held_.store(true, std::memory_order_release);
  started_.Wait(kInfinite);
  go_.Set();
  return true;
}

bool Thread::Join(uint32_t timeout_ms) {
  if (!IsHeld()) return true;
  if (IsCurrentThread()) return false;
  if (!done_.Wait(timeout_ms)) return false;
  worker_.join();
  id_.store(0, std::memory_order_release);
  held_.store(false, std::memory_order_release);
  return true;
}

bool Thread::IsCurrentThread() const {
  uint32_t id = id_.load(std::memory_order_acquire);
  return id != 0 && id == CurrentThreadId();
}

}  // namespace korvela::platform
