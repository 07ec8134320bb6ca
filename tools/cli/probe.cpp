// `veltrano probe`: runs a capability query against a device through the
// library's exports and prints what the device reported, as a table or as
// one JSON object that mirrors every call the driver made on the result sink.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "args.h"
#include "command.h"
#include "recorder/capability_host.h"
#include "recorder/driver_library.h"

namespace veltrano_cli {
namespace {

// Longer than the worst query the driver can make (about twenty requests of
// at most 5 s each); past it the module is deleted, which aborts the query.
constexpr std::chrono::seconds kProbeTimeout{150};

}  // namespace

int RunProbe(const std::vector<std::string>& args) {
  ArgParser parser;
  AddDeviceOptions(parser);
  parser.Flag("ntsc", "video standard flag: 30 fps fallback (default: 25 fps)");
  parser.Flag("json", "print one JSON object instead of the table");
  DeviceOptions device;
  std::string error;
  if (!parser.Parse(args) || !ReadDeviceOptions(parser, &device, &error)) {
    std::fprintf(stderr, "veltrano probe: %s\n",
                 parser.error().empty() ? error.c_str() : parser.error().c_str());
    std::fprintf(stderr, "%s", parser.Help().c_str());
    return kExitUsage;
  }

  korvela::recorder::DriverLibrary library;
  if (!library.Load()) {
    std::fprintf(stderr, "veltrano probe: %s\n", library.error().c_str());
    return kExitLoadFailed;
  }

  korvela::recorder::CapabilityHost host;
  korvela::recorder::CapabilityQueryRequest request;
  request.address = device.host;
  request.port = device.port;
  request.user = device.user;
  request.password = device.password;
  request.ntsc = parser.Has("ntsc");
  if (!korvela::recorder::RunCapabilityQuery(library.exports(), request, kProbeTimeout, host,
                                             &error)) {
    std::fprintf(stderr, "veltrano probe: %s\n", error.c_str());
    return kExitDeviceFailed;
  }

  const korvela::recorder::CapabilityResult result = host.Snapshot();
  if (parser.Has("json")) {
    std::printf("%s\n", host.ToJson().c_str());
  } else {
    std::printf("%s", korvela::recorder::FormatCapabilityTable(result).c_str());
  }
  if (result.outcome == korvela::recorder::CapabilityResult::Outcome::kCompleted) return kExitOk;
  if (result.outcome == korvela::recorder::CapabilityResult::Outcome::kPending)
    std::fprintf(stderr, "veltrano probe: no report from the driver\n");
  return kExitDeviceFailed;
}

}  // namespace veltrano_cli

VELTRANO_COMMAND(probe, "probe", "identify a device and list what it can do",
                 "--host H [--port P] --user U --password W [--ntsc] [--json]",
                 veltrano_cli::RunProbe);
