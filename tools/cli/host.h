// CliHost: what every device command of veltrano does first: load
// libveltrano.so, make the recorder-side objects and open one driver.
//
// Threading: Load/Open/Close on the main thread; the recorder objects it owns
// take driver callbacks on driver threads (see tools/recorder). Members are
// declared so that the driver is deleted before the objects it calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "options.h"
#include "recorder/debug_sink.h"
#include "recorder/device_setup.h"
#include "recorder/driver_library.h"
#include "recorder/frame_allocator.h"

namespace veltrano_cli {

class CliHost {
 public:
  CliHost() = default;
  CliHost(const CliHost&) = delete;
  CliHost& operator=(const CliHost&) = delete;
  ~CliHost();

  // Loads the library (VELTRANO_LIBRARY, beside the program, or the build's).
  bool Load(std::string* error);

  // Fills the setup from the options: the reference camera parameters,
  // overridden by the user's --param items; then creates and opens a driver.
  bool Open(const DeviceOptions& options, uint32_t stream_type, const std::string& model,
            std::string* error);
  // Deletes the driver (which closes it and stops its channels).
  void Close();

  korvela::recorder::DriverLibrary& library() { return library_; }
  korvela::recorder::DebugSink& sink() { return sink_; }
  korvela::recorder::FrameAllocator& allocator() { return allocator_; }
  korvela::recorder::DeviceSetup& setup() { return setup_; }
  korvela::ipcapture::IIPCaptureDriverEx4* driver() { return driver_ ? driver_->get() : nullptr; }

 private:
  korvela::recorder::DriverLibrary library_;
  korvela::recorder::DebugSink sink_;
  korvela::recorder::FrameAllocator allocator_;
  korvela::recorder::DeviceSetup setup_;
  std::unique_ptr<korvela::recorder::DriverHandle> driver_;  // deleted first
};

// Why the device failed, for the exit message: one request through the
// driver's own HTTP client, and its cause ("connection refused", "timed
// out", ...) or the status the device answered with.
std::string DeviceFailureCause(const DeviceOptions& device);

// "veltrano <command>: device failed (exit N): <cause>" on stderr; returns
// `exit_code`.
int ReportDeviceFailure(const char* command, int exit_code, const DeviceOptions& device);

}  // namespace veltrano_cli
