// DriverLibrary: loads libveltrano.so as a recorder does and resolves its
// sixteen exported functions.
//
// Where the library is looked for (first hit wins), unless Load gets a path:
//   1. the environment variable VELTRANO_LIBRARY,
//   2. libveltrano.so beside the running executable,
//   3. the path the build recorded (the build tree's libveltrano.so).
//
// Threading: Load/Unload on one thread, while no driver object is alive; the
// resolved functions may then be called from any thread.
#pragma once

#include <string>
#include <vector>

#include "korvela/ipcapture.h"

namespace korvela::recorder {

struct DriverExports {
  ipcapture::CreateIPCaptureFn CreateIPCapture = nullptr;
  ipcapture::CreateIPCaptureExFn CreateIPCaptureEx = nullptr;
  ipcapture::CreateIPCaptureEx2Fn CreateIPCaptureEx2 = nullptr;
  ipcapture::CreateIPCaptureEx3Fn CreateIPCaptureEx3 = nullptr;
  ipcapture::CreateIPCaptureEx4Fn CreateIPCaptureEx4 = nullptr;
  ipcapture::DeleteIPCaptureFn DeleteIPCapture = nullptr;
  ipcapture::DeleteIPCaptureExFn DeleteIPCaptureEx = nullptr;
  ipcapture::DeleteIPCaptureEx2Fn DeleteIPCaptureEx2 = nullptr;
  ipcapture::DeleteIPCaptureEx3Fn DeleteIPCaptureEx3 = nullptr;
  ipcapture::DeleteIPCaptureEx4Fn DeleteIPCaptureEx4 = nullptr;
  ipcapture::CreateCapabilityQueryModuleFn CreateCapabilityQueryModule = nullptr;
  ipcapture::DeleteCapabilityQueryModuleFn DeleteCapabilityQueryModule = nullptr;
  ipcapture::InitCapabilityQueryFn InitCapabilityQuery = nullptr;
  ipcapture::StartCapabilityQueryFn StartCapabilityQuery = nullptr;
  ipcapture::TerminateCapabilityQueryFn TerminateCapabilityQuery = nullptr;
  ipcapture::UninitCapabilityQueryFn UninitCapabilityQuery = nullptr;
};

class DriverLibrary {
 public:
  // The sixteen export names, in the order of DriverExports.
  static const std::vector<std::string>& ExportNames();
  // The path Load() without argument uses (see above).
  static std::string DefaultPath();

  DriverLibrary() = default;
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;
  ~DriverLibrary();

  // Loads the library and resolves every export; false (with error()) when
  // the file cannot be loaded or any of the sixteen names is missing.
  bool Load();
  bool Load(const std::string& path);
  void Unload();

  bool loaded() const { return handle_ != nullptr; }
  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }
  const DriverExports& exports() const { return exports_; }
  // dlsym on the loaded library; null when absent or not loaded.
  void* Symbol(const char* name) const;

 private:
  void* handle_ = nullptr;
  std::string path_;
  std::string error_;
  DriverExports exports_;
};

// A driver made by one of the five create functions and deleted by one of the
// five delete functions (any pairing is allowed): the level number 0..4 picks
// the Create/Delete variant (0 = no suffix, 1 = Ex, 2 = Ex2, ...).
class DriverHandle {
 public:
  DriverHandle(const DriverExports& exports, int create_level = 4, int delete_level = 4);
  DriverHandle(const DriverHandle&) = delete;
  DriverHandle& operator=(const DriverHandle&) = delete;
  ~DriverHandle();

  ipcapture::IIPCaptureDriverEx4* get() const { return driver_; }
  ipcapture::IIPCaptureDriverEx4* operator->() const { return driver_; }
  explicit operator bool() const { return driver_ != nullptr; }
  // Deletes the driver now (through the chosen delete function).
  void Reset();

 private:
  const DriverExports& exports_;
  int delete_level_;
  ipcapture::IIPCaptureDriverEx4* driver_ = nullptr;
};

}  // namespace korvela::recorder
