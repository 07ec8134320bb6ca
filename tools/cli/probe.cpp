// `veltrano probe`: runs a capability query against a device through the
// library's exports and prints what the device reported, as a table or as
// one JSON object that mirrors every call the driver made on the result sink.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "command.h"
#include "host.h"
#include "options.h"
#include "recorder/capability_host.h"
#include "recorder/driver_library.h"

namespace veltrano_cli {
namespace {

// Longer than the worst query the driver can make (about twenty requests of
// at most 5 s each); past it the module is deleted, which aborts the query.
constexpr std::chrono::seconds kProbeTimeout{150};

struct ProbeOptions {
  DeviceOptions device;
  bool ntsc = false;
  bool json = false;
};

int RunProbe(const ProbeOptions& options) {
  korvela::recorder::DriverLibrary library;
  if (!library.Load()) {
    std::fprintf(stderr, "veltrano probe: %s\n", library.error().c_str());
    return kExitLoadFailed;
  }

  korvela::recorder::CapabilityHost host;
  korvela::recorder::CapabilityQueryRequest request;
  request.address = options.device.host;
  request.port = options.device.port;
  request.user = options.device.user;
  request.password = options.device.password;
  request.ntsc = options.ntsc;
  std::string error;
  if (!korvela::recorder::RunCapabilityQuery(library.exports(), request, kProbeTimeout, host,
                                             &error)) {
    std::fprintf(stderr, "veltrano probe: %s\n", error.c_str());
    return kExitDeviceFailed;
  }

  const korvela::recorder::CapabilityResult result = host.Snapshot();
  if (options.json) {
    std::printf("%s\n", host.ToJson().c_str());
  } else {
    std::printf("%s", korvela::recorder::FormatCapabilityTable(result).c_str());
  }
  if (result.outcome == korvela::recorder::CapabilityResult::Outcome::kCompleted) return kExitOk;
  if (result.outcome == korvela::recorder::CapabilityResult::Outcome::kPending)
    std::fprintf(stderr, "veltrano probe: no report from the driver\n");
  return ReportDeviceFailure("probe", kExitDeviceFailed, options.device);
}

std::function<int()> SetupProbe(CLI::App& app) {
  auto options = std::make_shared<ProbeOptions>();
  AddDeviceOptions(app, options->device);
  app.add_flag("--ntsc", options->ntsc, "video standard flag: 30 fps fallback (default: 25 fps)");
  app.add_flag("--json", options->json, "print one JSON object instead of the table");
  return [options] { return RunProbe(*options); };
}

}  // namespace
}  // namespace veltrano_cli

VELTRANO_COMMAND(probe, "probe", "identify a device and list what it can do",
                 veltrano_cli::SetupProbe);
