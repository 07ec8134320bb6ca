// Test double for the recorder's digital I/O callback: records every call and
// lets the test wait (bounded) for a number of them.
//
// Threading: the driver's I/O threads call the callback; the test thread
// waits and reads. mu_ guards events_ (std::mutex: no capability annotation).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "korvela/ipcapture.h"

namespace korvela::testing {

class IoCallbackRecorder : public ipcapture::ICaptureIOCallback {
 public:
  // "in0=1" for OnInputChanged(0, 1), "error" for OnDeviceError().
  void OnInputChanged(uint32_t input, uint32_t state) override {
    Push("in" + std::to_string(input) + "=" + std::to_string(state));
  }
  void OnDeviceError() override { Push("error"); }

  // Waits until at least `count` events arrived; generous bound so a slow
  // machine never fails a correct build.
  bool WaitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
  }

  std::vector<std::string> Events() const {
    std::lock_guard lock(mu_);
    return events_;
  }

 private:
  void Push(std::string event) {
    {
      std::lock_guard lock(mu_);
      events_.push_back(std::move(event));
    }
    changed_.notify_all();
  }

  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
};

}  // namespace korvela::testing
