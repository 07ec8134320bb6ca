// The six capability-query exports: one process-wide module, or modules the
// recorder creates and deletes itself.
//
// Threading: the recorder may call these from any thread; the process-wide
// module pointer is guarded by its own lock, held across its creation and
// deletion so that no call sees a module half made or half gone.

#include <new>

#include "korvela/ipcapture.h"

#include "device/capability_query.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace {

using korvela::CIQEyeCapabilityQueryModule;
using korvela::ipcapture::ICapabilityQueryCallback;
using korvela::ipcapture::ICapabilityResultSink;
using korvela::ipcapture::IIPCapabilityQuery;

// Constant-initialised, so it is ready before any export can be called.
korvela::Mutex g_module_mu;
IIPCapabilityQuery* g_module GUARDED_BY(g_module_mu) = nullptr;

}  // namespace

extern "C" {

KORVELA_EXPORT IIPCapabilityQuery* CreateCapabilityQueryModule(ICapabilityQueryCallback* callback,
                                                               bool video_standard) {
  return new (std::nothrow) CIQEyeCapabilityQueryModule(callback, video_standard);
}

KORVELA_EXPORT void DeleteCapabilityQueryModule(IIPCapabilityQuery* module) { delete module; }

KORVELA_EXPORT int32_t InitCapabilityQuery(ICapabilityQueryCallback* callback,
                                           bool video_standard) {
  korvela::MutexLock guard(g_module_mu);
  if (g_module != nullptr) return 0;
  // A failed allocation still answers 1 and leaves no module: the next Start
  // then fails.
  g_module = new (std::nothrow) CIQEyeCapabilityQueryModule(callback, video_standard);
  return 1;
}

KORVELA_EXPORT int32_t StartCapabilityQuery(const char* address, uint16_t port, const char* user,
                                            const char* password, ICapabilityResultSink* sink) {
  if (address == nullptr || user == nullptr || password == nullptr) return 0;
  korvela::MutexLock guard(g_module_mu);
  if (g_module == nullptr) return 0;
  return g_module->Start(address, port, user, password, sink) ? 1 : 0;
}

KORVELA_EXPORT int32_t TerminateCapabilityQuery(void) {
  korvela::MutexLock guard(g_module_mu);
  if (g_module != nullptr) g_module->Terminate();
  return 1;
}

KORVELA_EXPORT int32_t UninitCapabilityQuery(void) {
  IIPCapabilityQuery* module = nullptr;
  {
    korvela::MutexLock guard(g_module_mu);
    module = g_module;
    g_module = nullptr;
  }
  // Deleted outside the lock: the shutdown waits for the worker, whose
  // callback may call Terminate.
  delete module;
  return 1;
}

}  // extern "C"
