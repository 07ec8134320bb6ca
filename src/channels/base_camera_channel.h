// CBaseCameraChannel: common base of every video channel (one per video input
// of a device). Owns the channel's worker thread, its status, the time of the
// last accepted frame and the current stream settings, and reports online and
// offline transitions to the log.
//
// Derived classes implement Run (the worker body: loop until the stop event
// is signalled, keeping the status current), SetFrameRate and SetResolution,
// and override OnStopping to unblock a worker stuck in a read (close the
// request or socket) so that a stop returns at once, and OnStarting to undo
// that before a worker starts. A stopped channel stays stopped: only Start
// runs it again (a new frame rate on a stopped channel restarts nothing). There is no forced
// termination: a worker that does not end within twice the connect time-out
// is logged and waited for. A derived class whose Run may still be running
// must call Stop() in its own destructor (its parts are gone by the time this
// destructor runs).
//
// Threading: the recorder's threads call Start, Stop, ChangeSettings and
// GetState, possibly at the same time; the worker calls SetStatus,
// SetCameraState and ForwardFrame, and frame callbacks may come from further
// threads. lifecycle_mu_ serialises Start, Stop and RestartWorker and guards
// started_ (it is held while a stop waits for the worker, never by the
// worker); status_lock_ guards the status, worker_lock_ the worker thread,
// settings_lock_ the settings, state_lock_ the online flag. No lock but
// lifecycle_mu_ is held while the recorder or the log is called.
#pragma once

#include <cstdint>
#include <string>

#include "korvela/ipcapture.h"

#include "base/event.h"
#include "base/sync_lock.h"
#include "base/time.h"
#include "core/camera_channel_iface.h"
#include "core/device_info.h"
#include "core/idriver.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace korvela {

class CBaseCameraChannel : public ICameraChannel {
 public:
  // `driver` and `receiver` are not owned; the receiver may be null. The
  // device description is copied from the driver; `clock` (which must outlive
  // the channel) times the last accepted frame.
  CBaseCameraChannel(uint32_t input_index, IDriver* driver, ipcapture::IFrameReceiver* receiver,
                     const platform::Clock& clock = platform::SystemClock());
  ~CBaseCameraChannel() override;
  CBaseCameraChannel(const CBaseCameraChannel&) = delete;
  CBaseCameraChannel& operator=(const CBaseCameraChannel&) = delete;

  bool Start(const StreamSettings& settings) override EXCLUDES(lifecycle_mu_);
  void Stop() override EXCLUDES(lifecycle_mu_);
  bool ChangeSettings(const StreamSettings& settings) override;
  uint32_t GetState() override;

  StreamSettings GetSettings() const;

 protected:
  // The worker thread body; its result is the thread's exit value.
  virtual uint32_t Run() = 0;
  virtual bool SetFrameRate(uint32_t fps) = 0;
  virtual bool SetResolution(uint32_t width, uint32_t height) = 0;
  // Called by StopWorker after the stop event is set and before the worker is
  // awaited (also when no worker runs). Called on the stopping thread,
  // concurrently with Run.
  virtual void OnStopping() {}
  // Called before a worker starts, with no worker running; false: the
  // channel cannot run (the derived class has logged why), nothing starts.
  virtual bool OnStarting() { return true; }

  // False when there is no receiver, else the receiver's verdict.
  bool ForwardFrame(ipcapture::IVideoFrame* frame);
  void SetStatus(uint32_t status);
  // Logs the transition to `online` (nothing when it is no change).
  void SetCameraState(bool online);
  bool StartWorker();
  void StopWorker();
  void StoreFrameRate(uint32_t fps);
  // Between Start and Stop.
  bool IsStarted() EXCLUDES(lifecycle_mu_);
  // For SetFrameRate: on a started channel stops the worker, runs `apply`
  // and starts the worker again; false, doing nothing, on a stopped one.
  template <typename Apply>
  bool RestartWorker(Apply apply) EXCLUDES(lifecycle_mu_) {
    MutexLock lock(lifecycle_mu_);
    if (!started_) return false;
    SetStatus(kChannelStopped);
    StopWorker();
    apply();
    started_ = OnStarting() && StartWorker();
    return started_;
  }

  CManualEvent& stop_event() { return stop_event_; }
  CTime& last_frame_time() { return last_frame_time_; }
  const CTime& last_frame_time() const { return last_frame_time_; }
  const DEVICE_INFO& device() const { return device_; }
  IDriver* driver() const { return driver_; }
  ipcapture::IFrameReceiver* receiver() const { return receiver_; }
  uint32_t input_index() const { return input_index_; }
  const platform::Clock& clock() const { return clock_; }

 private:
  // "Camera <address>", or "Video-server <address> (channel <index>)" on a
  // device with several video inputs.
  std::string DeviceName() const;
  // Whether the caller is the worker; the thread id is atomic, so no lock.
  bool OnWorkerThread() const NO_THREAD_SAFETY_ANALYSIS;
  void StopLocked() REQUIRES(lifecycle_mu_);

  const uint32_t input_index_;
  IDriver* const driver_;
  ipcapture::IFrameReceiver* const receiver_;
  const DEVICE_INFO device_;
  const platform::Clock& clock_;

  Mutex lifecycle_mu_;
  bool started_ GUARDED_BY(lifecycle_mu_) = false;

  CSyncLock state_lock_;
  bool online_ GUARDED_BY(state_lock_) = false;

  mutable CSyncLock status_lock_;
  uint32_t status_ GUARDED_BY(status_lock_) = kChannelStopped;

  CSyncLock worker_lock_;
  platform::Thread worker_ GUARDED_BY(worker_lock_);

  mutable CSyncLock settings_lock_;
  StreamSettings settings_ GUARDED_BY(settings_lock_);

  CManualEvent stop_event_;
  CTime last_frame_time_;
};

}  // namespace korvela
