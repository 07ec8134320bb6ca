#include "channels/base_camera_channel.h"

#include <cctype>

#include "util/ascii.h"
#include "util/str_format.h"

namespace korvela {

namespace {

constexpr char kSetCameraStateOrigin[] = "korvela::CBaseCameraChannel::SetCameraState";
constexpr char kStopWorkerOrigin[] = "korvela::CBaseCameraChannel::StopWorker";

}  // namespace

CBaseCameraChannel::CBaseCameraChannel(uint32_t input_index, IDriver* driver,
                                       ipcapture::IFrameReceiver* receiver,
                                       const platform::Clock& clock)
    : input_index_(input_index),
      driver_(driver),
      receiver_(receiver),
      device_(driver != nullptr && driver->GetDeviceInfo() != nullptr ? *driver->GetDeviceInfo()
                                                                      : DEVICE_INFO()),
      clock_(clock),
      last_frame_time_(clock) {}

CBaseCameraChannel::~CBaseCameraChannel() {
  // Derived classes stop first (their Run needs their parts); this is for a
  // channel that was never started or already stopped.
  MutexLock lock(lifecycle_mu_);
  StopLocked();
}

bool CBaseCameraChannel::Start(const StreamSettings& settings) {
  MutexLock lock(lifecycle_mu_);
  StopLocked();
  {
    CSyncLockGuard guard(settings_lock_);
    settings_ = settings;
  }
  started_ = OnStarting() && StartWorker();
  return started_;
}

void CBaseCameraChannel::Stop() {
  if (OnWorkerThread()) {
    // The worker only asks itself to end: a stopping thread may hold the
    // lifecycle lock while it waits for the worker.
    SetStatus(kChannelStopped);
    SetCameraState(false);
    StopWorker();
    return;
  }
  MutexLock lock(lifecycle_mu_);
  StopLocked();
}

void CBaseCameraChannel::StopLocked() {
  started_ = false;
  SetStatus(kChannelStopped);
  SetCameraState(false);
  StopWorker();
}

bool CBaseCameraChannel::IsStarted() {
  MutexLock lock(lifecycle_mu_);
  return started_;
}

bool CBaseCameraChannel::ChangeSettings(const StreamSettings& settings) {
  const StreamSettings current = GetSettings();
  bool ok = true;
  if (settings.frame_rate != current.frame_rate) {
    ok = SetFrameRate(settings.frame_rate);
    if (ok) StoreFrameRate(settings.frame_rate);
  }
  if (ok && (settings.width != current.width || settings.height != current.height)) {
    ok = SetResolution(settings.width, settings.height);
    if (ok) {
      CSyncLockGuard guard(settings_lock_);
      settings_.width = settings.width;
      settings_.height = settings.height;
    }
  }
  // The quality is neither compared nor stored: it takes effect at the next Start.
  return ok;
}

uint32_t CBaseCameraChannel::GetState() {
  CSyncLockGuard guard(status_lock_);
  return status_;
}

StreamSettings CBaseCameraChannel::GetSettings() const {
  CSyncLockGuard guard(settings_lock_);
  return settings_;
}

void CBaseCameraChannel::StoreFrameRate(uint32_t fps) {
  CSyncLockGuard guard(settings_lock_);
  settings_.frame_rate = fps;
}

bool CBaseCameraChannel::ForwardFrame(ipcapture::IVideoFrame* frame) {
  return receiver_ != nullptr && receiver_->OnFrame(frame);
}

void CBaseCameraChannel::SetStatus(uint32_t status) {
  CSyncLockGuard guard(status_lock_);
  status_ = status;
}

std::string CBaseCameraChannel::DeviceName() const {
  if (driver_ != nullptr && driver_->GetChannelCount() > 1)
    return StrFormat("Video-server %s (channel %u)", device_.address.c_str(), input_index_);
  return StrFormat("Camera %s", device_.address.c_str());
}

void CBaseCameraChannel::SetCameraState(bool online) {
  {
    CSyncLockGuard guard(state_lock_);
    if (online_ == online) return;
    online_ = online;
  }
  if (driver_ == nullptr) return;
  std::string name = DeviceName();
  if (online) {
    driver_->Message(3, "%s: %s is online", kSetCameraStateOrigin, name.c_str());
    return;
  }
  switch (GetState()) {
    case kChannelSignalLost:
      if (!name.empty()) name[0] = AsciiToLower(name[0]);
      driver_->Message(1, "%s: Signal was lost for %s", kSetCameraStateOrigin, name.c_str());
      break;
    case kChannelStopped:
      driver_->Message(3, "%s: %s is offline. Channel was stopped", kSetCameraStateOrigin,
                       name.c_str());
      break;
    default:
      driver_->Message(1, "%s: %s is offline or failed", kSetCameraStateOrigin, name.c_str());
      break;
  }
}

bool CBaseCameraChannel::StartWorker() {
  if (!worker_lock_.TryLock()) return false;
  bool started = false;
  if (!worker_.IsHeld() || worker_.HasEnded()) {
    stop_event_.Reset();
    started = worker_.Start(StrFormat("Video input %u", input_index_), [this] { Run(); });
  }
  worker_lock_.Unlock();
  return started;
}

bool CBaseCameraChannel::OnWorkerThread() const { return worker_.IsCurrentThread(); }

void CBaseCameraChannel::StopWorker() {
  stop_event_.Set();
  // The worker only asks itself to end: it must not wait for the lock that a
  // stopping thread holds while it waits for the worker.
  if (OnWorkerThread()) return;
  CSyncLockGuard guard(worker_lock_);
  OnStopping();
  if (!worker_.IsHeld()) return;
  const uint32_t timeout_ms = 2 * device_.connect_timeout_ms;
  if (worker_.Join(timeout_ms)) return;
  // No forced termination (it would leave locks held and memory leaked):
  // OnStopping has unblocked the worker's reads, so waiting on is bounded by
  // the worker's own network time-outs.
  const uint32_t id = worker_.id();
  const std::string name = StrFormat("Video input %u", input_index_);
  if (driver_ != nullptr) {
    driver_->Message(2, "%s: Thread (id=%u, name=\"%s\") was not stopped during %lu milliseconds",
                     kStopWorkerOrigin, id, name.c_str(), static_cast<unsigned long>(timeout_ms));
  }
  worker_.Join(platform::kInfinite);
  if (driver_ != nullptr) {
    driver_->Message(3, "%s: Thread (id=%u, name=\"%s\") was stopped correctly", kStopWorkerOrigin,
                     id, name.c_str());
  }
}

}  // namespace korvela
