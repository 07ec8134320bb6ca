// FakeCameraChannel: an ICameraChannel for tests of the video capture object
// and the driver. It records what it is asked, answers with settable results
// and can hold GetState until released, to test that a channel found under a
// table lock outlives a concurrent stop.
//
// Threading: every field is guarded by mutex_; `alive` (shared with the test)
// tells whether the object still exists.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/camera_channel_iface.h"

namespace korvela::testing {

struct FakeChannelProbe {
  std::mutex mutex;
  std::condition_variable changed;
  bool alive = true;
  int starts = 0;
  int stops = 0;
  std::vector<StreamSettings> started_with;
  std::vector<StreamSettings> changed_to;
  // GetState blocks while `hold_state` is set; `in_get_state` tells the test
  // the call has begun.
  bool hold_state = false;
  bool in_get_state = false;
};

class FakeCameraChannel final : public ICameraChannel {
 public:
  explicit FakeCameraChannel(std::shared_ptr<FakeChannelProbe> probe, bool start_result = true,
                             uint32_t state = kChannelReceiving, bool change_result = true)
      : probe_(std::move(probe)),
        start_result_(start_result),
        state_(state),
        change_result_(change_result) {}

  ~FakeCameraChannel() override {
    std::lock_guard<std::mutex> lock(probe_->mutex);
    probe_->alive = false;
    probe_->changed.notify_all();
  }

  bool Start(const StreamSettings& settings) override {
    std::lock_guard<std::mutex> lock(probe_->mutex);
    ++probe_->starts;
    probe_->started_with.push_back(settings);
    return start_result_;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(probe_->mutex);
    ++probe_->stops;
    state_ = kChannelStopped;
  }
  bool ChangeSettings(const StreamSettings& settings) override {
    std::lock_guard<std::mutex> lock(probe_->mutex);
    probe_->changed_to.push_back(settings);
    return change_result_;
  }
  uint32_t GetState() override {
    std::unique_lock<std::mutex> lock(probe_->mutex);
    probe_->in_get_state = true;
    probe_->changed.notify_all();
    probe_->changed.wait(lock, [&] { return !probe_->hold_state; });
    return state_;
  }

 private:
  std::shared_ptr<FakeChannelProbe> probe_;
  const bool start_result_;
  uint32_t state_;  // guarded by probe_->mutex
  const bool change_result_;
};

}  // namespace korvela::testing
