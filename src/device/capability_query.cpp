#include "device/capability_query.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace korvela {
namespace {

// Characters no host name or dotted address contains.
constexpr std::string_view kForbiddenAddressChars = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";

constexpr char kWorkerName[] = "Capability query";

// Threads of modules deleted from their own callback: such a thread cannot
// join itself, so it is adopted here and joined once it has ended (by the
// next adoption, or when the library is unloaded).
class OrphanedThreads {
 public:
  ~OrphanedThreads() {
    MutexLock guard(mutex_);
    for (auto& thread : threads_) thread->Join(platform::kInfinite);
  }
  void Adopt(std::unique_ptr<platform::Thread> thread) {
    MutexLock guard(mutex_);
    std::erase_if(threads_, [](const std::unique_ptr<platform::Thread>& t) { return t->Join(0); });
    threads_.push_back(std::move(thread));
  }

 private:
  Mutex mutex_;
  std::vector<std::unique_ptr<platform::Thread>> threads_ GUARDED_BY(mutex_);
};

OrphanedThreads& Orphans() {
  static OrphanedThreads orphans;
  return orphans;
}

}  // namespace

bool IsValidDeviceAddress(std::string_view address) {
  return address.find_first_of(kForbiddenAddressChars) == std::string_view::npos;
}

CCapabilityQueryModule::CCapabilityQueryModule(ipcapture::ICapabilityQueryCallback* callback,
                                               bool video_standard)
    : video_standard_(video_standard ? 1 : 0), callback_(callback) {
  device_.connect_timeout_ms = kHttpTimeoutMs;
  device_.receive_timeout_ms = kHttpTimeoutMs;
}

CCapabilityQueryModule::~CCapabilityQueryModule() { Shutdown(); }

bool CCapabilityQueryModule::Start(const char* address, uint16_t port, const char* user,
                                   const char* password, ipcapture::ICapabilityResultSink* sink) {
  CSyncLockGuard guard(lock_);
  // One query per module in its life: the recorder makes a module per device.
  if (started_) return false;
  sink_ = sink;
  if (address == nullptr || user == nullptr || password == nullptr) return false;
  device_.connect_timeout_ms = http_timeout_ms_;
  device_.address = address;
  device_.port = port;
  device_.user_name = user;
  device_.password = password;
  properties_ = CreateProperties();
  if (!properties_) return false;
  auto worker = std::unique_ptr<platform::Thread>(new (std::nothrow) platform::Thread());
  if (!worker) return false;
  if (!worker->Start(kWorkerName, [this] { Run(); })) return false;
  worker_ = std::move(worker);
  started_ = true;
  return true;
}

std::shared_ptr<CBaseCameraProperties> CCapabilityQueryModule::properties() {
  CSyncLockGuard guard(lock_);
  return properties_;
}

void CCapabilityQueryModule::Terminate() {
  if (std::shared_ptr<CBaseCameraProperties> props = properties()) {
    props->SignalAbort();
    props->Abort();
  }
}

void CCapabilityQueryModule::Run() {
  uint32_t status = ipcapture::kCapabilityOtherFailure;
  std::string message;
  bool succeeded = false;

  if (!IsValidDeviceAddress(device_.address)) {
    status = ipcapture::kCapabilityInvalidAddress;
    message = kQueryInvalidAddressMessage;
  } else {
    std::shared_ptr<CBaseCameraProperties> props;
    ipcapture::ICapabilityResultSink* sink = nullptr;
    {
      CSyncLockGuard guard(lock_);
      props = properties_;
      sink = sink_;
    }
    if (!props || sink == nullptr) {
      message = kQueryInternalErrorMessage;
    } else if (!props->Query(status)) {
      message = kQueryPropertiesFailedMessage;
      if (status == ipcapture::kCapabilityLoginFailed) message += kQueryLoginFailedSuffix;
      if (status == ipcapture::kCapabilityOffline) message += kQueryOfflineSuffix;
    } else if (!props->SaveResults(sink)) {
      status = ipcapture::kCapabilityOtherFailure;
      message = kQuerySaveFailedMessage;
    } else {
      succeeded = true;
    }
  }

  // Last act of the worker: the recorder may delete the module from here.
  if (callback_ == nullptr) return;
  if (succeeded) {
    callback_->OnCompleted();
  } else {
    callback_->OnFailed(status, message.c_str());
  }
}

void CCapabilityQueryModule::Shutdown() {
  Terminate();
  std::unique_ptr<platform::Thread> worker;
  {
    CSyncLockGuard guard(lock_);
    worker = std::move(worker_);
  }
  if (!worker) return;
  if (worker->IsCurrentThread()) {
    // Deleted from its own callback: the thread still runs its last
    // instructions after this returns, so its thread object must outlive them.
    Orphans().Adopt(std::move(worker));
    return;
  }
  // The abort closed the blocked request, so the worker ends within one step.
  // No thread is ever killed: past the bound the wait goes on, and the worker
  // still makes its one report.
  if (!worker->Join(2 * http_timeout_ms_)) {
    if (overrun_hook_) overrun_hook_();
    worker->Join(platform::kInfinite);
  }
}

CIQEyeCapabilityQueryModule::~CIQEyeCapabilityQueryModule() { Shutdown(); }

std::shared_ptr<CBaseCameraProperties> CIQEyeCapabilityQueryModule::CreateProperties() {
  auto props = std::shared_ptr<CQuarnoCameraProperties>(
      new (std::nothrow) CQuarnoCameraProperties(device(), video_standard()));
  if (props) props->set_settings_folder(settings_folder_);
  return props;
}

}  // namespace korvela
