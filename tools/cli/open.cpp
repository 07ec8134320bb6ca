// `veltrano open`: creates a driver, opens it with the given device setup,
// prints every log line the driver reports, then closes and deletes it. The
// quickest check that the library loads and accepts a setup.
#include <cstdio>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "command.h"
#include "host.h"
#include "options.h"

namespace veltrano_cli {
namespace {

struct OpenOptions {
  DeviceOptions device;
  std::string model;
  std::string stream = "mjpeg";
};

int RunOpen(const OpenOptions& options) {
  CliHost host;
  host.sink().SetEcho(stdout);
  std::string error;
  if (!host.Load(&error)) {
    std::fprintf(stderr, "veltrano open: %s\n", error.c_str());
    return kExitLoadFailed;
  }
  const uint32_t stream_type = options.stream == "h264" ? korvela::ipcapture::kStreamH264Rtsp
                                                        : korvela::ipcapture::kStreamMjpegHttp;
  if (!host.Open(options.device, stream_type, options.model, &error)) {
    std::fprintf(stderr, "veltrano open: %s\n", error.c_str());
    return kExitDeviceFailed;
  }
  host.Close();
  return kExitOk;
}

std::function<int()> SetupOpen(CLI::App& app) {
  auto options = std::make_shared<OpenOptions>();
  AddDeviceOptions(app, options->device);
  app.add_option("--model", options->model, "device model name as the recorder knows it");
  app.add_option("--stream", options->stream, "stream type")
      ->check(CLI::IsMember({"mjpeg", "h264"}))
      ->capture_default_str();
  return [options] { return RunOpen(*options); };
}

}  // namespace
}  // namespace veltrano_cli

VELTRANO_COMMAND(open, "open", "create and open a driver, print its log lines, close it",
                 veltrano_cli::SetupOpen);
