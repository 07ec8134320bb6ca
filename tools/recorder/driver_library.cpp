#include "recorder/driver_library.h"

#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

namespace korvela::recorder {
namespace {

#ifndef KORVELA_BUILD_LIBRARY_PATH
#define KORVELA_BUILD_LIBRARY_PATH ""
#endif

std::string ExecutableFolder() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<size_t>(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool FileExists(const std::string& path) {
  return !path.empty() && ::access(path.c_str(), R_OK) == 0;
}

template <typename Fn>
bool Resolve(void* handle, const char* name, Fn& out, std::string& error) {
  void* address = ::dlsym(handle, name);
  if (address == nullptr) {
    if (!error.empty()) error += ", ";
    error += name;
    return false;
  }
  out = reinterpret_cast<Fn>(address);
  return true;
}

}  // namespace

const std::vector<std::string>& DriverLibrary::ExportNames() {
  static const std::vector<std::string> names = {
      "CreateIPCapture",      "CreateIPCaptureEx",           "CreateIPCaptureEx2",
      "CreateIPCaptureEx3",   "CreateIPCaptureEx4",          "DeleteIPCapture",
      "DeleteIPCaptureEx",    "DeleteIPCaptureEx2",          "DeleteIPCaptureEx3",
      "DeleteIPCaptureEx4",   "CreateCapabilityQueryModule", "DeleteCapabilityQueryModule",
      "InitCapabilityQuery",  "StartCapabilityQuery",        "TerminateCapabilityQuery",
      "UninitCapabilityQuery"};
  return names;
}

std::string DriverLibrary::DefaultPath() {
  if (const char* env = std::getenv("VELTRANO_LIBRARY"); env != nullptr && *env != '\0') return env;
  const std::string beside = ExecutableFolder() + "libveltrano.so";
  if (FileExists(beside)) return beside;
  return KORVELA_BUILD_LIBRARY_PATH;
}

DriverLibrary::~DriverLibrary() { Unload(); }

bool DriverLibrary::Load() { return Load(DefaultPath()); }

bool DriverLibrary::Load(const std::string& path) {
  Unload();
  error_.clear();
  path_ = path;
  if (path.empty()) {
    error_ = "no library path (set VELTRANO_LIBRARY)";
    return false;
  }
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = ::dlerror();
    error_ = why != nullptr ? why : "dlopen failed";
    return false;
  }
  std::string missing;
  DriverExports e;
  bool ok = true;
  ok &= Resolve(handle_, "CreateIPCapture", e.CreateIPCapture, missing);
  ok &= Resolve(handle_, "CreateIPCaptureEx", e.CreateIPCaptureEx, missing);
  ok &= Resolve(handle_, "CreateIPCaptureEx2", e.CreateIPCaptureEx2, missing);
  ok &= Resolve(handle_, "CreateIPCaptureEx3", e.CreateIPCaptureEx3, missing);
  ok &= Resolve(handle_, "CreateIPCaptureEx4", e.CreateIPCaptureEx4, missing);
  ok &= Resolve(handle_, "DeleteIPCapture", e.DeleteIPCapture, missing);
  ok &= Resolve(handle_, "DeleteIPCaptureEx", e.DeleteIPCaptureEx, missing);
  ok &= Resolve(handle_, "DeleteIPCaptureEx2", e.DeleteIPCaptureEx2, missing);
  ok &= Resolve(handle_, "DeleteIPCaptureEx3", e.DeleteIPCaptureEx3, missing);
  ok &= Resolve(handle_, "DeleteIPCaptureEx4", e.DeleteIPCaptureEx4, missing);
  ok &= Resolve(handle_, "CreateCapabilityQueryModule", e.CreateCapabilityQueryModule, missing);
  ok &= Resolve(handle_, "DeleteCapabilityQueryModule", e.DeleteCapabilityQueryModule, missing);
  ok &= Resolve(handle_, "InitCapabilityQuery", e.InitCapabilityQuery, missing);
  ok &= Resolve(handle_, "StartCapabilityQuery", e.StartCapabilityQuery, missing);
  ok &= Resolve(handle_, "TerminateCapabilityQuery", e.TerminateCapabilityQuery, missing);
  ok &= Resolve(handle_, "UninitCapabilityQuery", e.UninitCapabilityQuery, missing);
  if (!ok) {
    error_ = path + ": missing exports: " + missing;
    Unload();
    return false;
  }
  exports_ = e;
  return true;
}

void DriverLibrary::Unload() {
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = nullptr;
  exports_ = DriverExports{};
}

void* DriverLibrary::Symbol(const char* name) const {
  return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

DriverHandle::DriverHandle(const DriverExports& exports, int create_level, int delete_level)
    : exports_(exports), delete_level_(delete_level) {
  // Every level is a pointer to the same object (single inheritance chain).
  switch (create_level) {
    case 0:
      if (exports.CreateIPCapture)
        driver_ = static_cast<ipcapture::IIPCaptureDriverEx4*>(exports.CreateIPCapture());
      break;
    case 1:
      if (exports.CreateIPCaptureEx)
        driver_ = static_cast<ipcapture::IIPCaptureDriverEx4*>(exports.CreateIPCaptureEx());
      break;
    case 2:
      if (exports.CreateIPCaptureEx2)
        driver_ = static_cast<ipcapture::IIPCaptureDriverEx4*>(exports.CreateIPCaptureEx2());
      break;
    case 3:
      if (exports.CreateIPCaptureEx3)
        driver_ = static_cast<ipcapture::IIPCaptureDriverEx4*>(exports.CreateIPCaptureEx3());
      break;
    default:
      if (exports.CreateIPCaptureEx4) driver_ = exports.CreateIPCaptureEx4();
      break;
  }
}

DriverHandle::~DriverHandle() { Reset(); }

void DriverHandle::Reset() {
  ipcapture::IIPCaptureDriverEx4* d = driver_;
  driver_ = nullptr;
  if (d == nullptr) return;
  switch (delete_level_) {
    case 0:
      exports_.DeleteIPCapture(d);
      break;
    case 1:
      exports_.DeleteIPCaptureEx(d);
      break;
    case 2:
      exports_.DeleteIPCaptureEx2(d);
      break;
    case 3:
      exports_.DeleteIPCaptureEx3(d);
      break;
    default:
      exports_.DeleteIPCaptureEx4(d);
      break;
  }
}

}  // namespace korvela::recorder
