// Capability query module: identifies a device on a worker thread of its own
// and reports the result through the recorder's sink and callback.
//
// Threading: Start, Terminate and the destructor run on recorder threads; Run
// runs on the module's worker ("Capability query"). `lock_` serialises Start
// against the shutdown and guards the sink, the properties holder and the
// thread. Terminate reaches the running query only through the properties'
// abort event and Abort, both safe while the worker uses the object; the
// properties are shared so that they live until both sides let go. The
// worker calls the callback exactly once per started query and touches
// nothing of the module after that call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "korvela/capability_query.h"

#include "base/sync_lock.h"
#include "core/device_info.h"
#include "device/camera_properties.h"
#include "platform/thread.h"
#include "util/thread_annotations.h"

namespace korvela {

// Messages passed to OnFailed.
inline constexpr char kQueryInvalidAddressMessage[] =
    "Failed to start capability fetching thread. Device address is invalid!";
inline constexpr char kQueryInternalErrorMessage[] =
    "Failed to start capability fetching thread. Internal error occurs";
inline constexpr char kQueryPropertiesFailedMessage[] = "Failed to get camera properties";
inline constexpr char kQueryLoginFailedSuffix[] = ", login failed (invalid credentials)";
inline constexpr char kQueryOfflineSuffix[] =
    ", device is offline or is located in unaccessible subnet";
inline constexpr char kQuerySaveFailedMessage[] = "Failed to save capability query results";

// False when the address holds a character no host name or dotted address
// has (the colon included: "host:port" is refused).
bool IsValidDeviceAddress(std::string_view address);

class CCapabilityQueryModule : public ipcapture::IIPCapabilityQuery {
 public:
  // The HTTP time-out of a query, and half the bound on the shutdown wait.
  static constexpr uint32_t kHttpTimeoutMs = 5000;

  CCapabilityQueryModule(ipcapture::ICapabilityQueryCallback* callback, bool video_standard);
  // Shuts down (derived classes must call Shutdown first in their own
  // destructor, while their CreateProperties still exists).
  ~CCapabilityQueryModule() override;
  CCapabilityQueryModule(const CCapabilityQueryModule&) = delete;
  CCapabilityQueryModule& operator=(const CCapabilityQueryModule&) = delete;

  bool Start(const char* address, uint16_t port, const char* user, const char* password,
             ipcapture::ICapabilityResultSink* sink) override;
  void Terminate() override;

  // Test seams: the HTTP time-out of the device description (the shutdown
  // waits twice this before it reports a stuck worker), and the folder the
  // properties read their settings file from.
  void set_http_timeout_ms(uint32_t timeout_ms) { http_timeout_ms_ = timeout_ms; }
  // Called (on the deleting thread) when a shutdown has waited past its bound
  // for the worker and goes on waiting.
  void set_shutdown_overrun_hook(std::function<void()> hook) { overrun_hook_ = std::move(hook); }

 protected:
  virtual std::shared_ptr<CBaseCameraProperties> CreateProperties() = 0;
  virtual void Run();

  // Terminate, then wait for the worker. Idempotent.
  void Shutdown() EXCLUDES(lock_);

  uint32_t video_standard() const { return video_standard_; }
  const DEVICE_INFO& device() const { return device_; }

 private:
  std::shared_ptr<CBaseCameraProperties> properties() EXCLUDES(lock_);

  const uint32_t video_standard_;
  DEVICE_INFO device_;  // written by Start before the worker starts, then read-only
  ipcapture::ICapabilityQueryCallback* const callback_;
  CSyncLock lock_;
  ipcapture::ICapabilityResultSink* sink_ GUARDED_BY(lock_) = nullptr;
  std::shared_ptr<CBaseCameraProperties> properties_ GUARDED_BY(lock_);
  bool started_ GUARDED_BY(lock_) = false;
  std::unique_ptr<platform::Thread> worker_ GUARDED_BY(lock_);
  uint32_t http_timeout_ms_ = kHttpTimeoutMs;
  std::function<void()> overrun_hook_;
};

class CIQEyeCapabilityQueryModule : public CCapabilityQueryModule {
 public:
  using CCapabilityQueryModule::CCapabilityQueryModule;
  ~CIQEyeCapabilityQueryModule() override;

  // Folder of the settings file the properties read; empty: the executable's.
  void set_settings_folder(std::string folder) { settings_folder_ = std::move(folder); }

 protected:
  std::shared_ptr<CBaseCameraProperties> CreateProperties() override;

 private:
  std::string settings_folder_;
};

}  // namespace korvela
