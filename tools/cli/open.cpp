// `veltrano open`: creates a driver, opens it with the given device setup,
// prints every log line the driver reports, then closes and deletes it. The
// quickest check that the library loads and accepts a setup.
#include <cstdio>
#include <string>
#include <vector>

#include "args.h"
#include "command.h"
#include "host.h"

namespace veltrano_cli {

int RunOpen(const std::vector<std::string>& args) {
  ArgParser parser;
  AddDeviceOptions(parser);
  parser.Option("model", "device model name as the recorder knows it", "");
  parser.Option("stream", "stream type: mjpeg or h264", "mjpeg");
  DeviceOptions device;
  std::string error;
  if (!parser.Parse(args) || !ReadDeviceOptions(parser, &device, &error)) {
    std::fprintf(stderr, "veltrano open: %s\n",
                 parser.error().empty() ? error.c_str() : parser.error().c_str());
    std::fprintf(stderr, "%s", parser.Help().c_str());
    return kExitUsage;
  }
  const std::string stream = parser.Get("stream");
  if (stream != "mjpeg" && stream != "h264") {
    std::fprintf(stderr, "veltrano open: --stream must be mjpeg or h264\n");
    return kExitUsage;
  }

  CliHost host;
  host.sink().SetEcho(stdout);
  if (!host.Load(&error)) {
    std::fprintf(stderr, "veltrano open: %s\n", error.c_str());
    return kExitLoadFailed;
  }
  const uint32_t stream_type =
      stream == "h264" ? korvela::ipcapture::kStreamH264Rtsp : korvela::ipcapture::kStreamMjpegHttp;
  if (!host.Open(device, stream_type, parser.Get("model"), &error)) {
    std::fprintf(stderr, "veltrano open: %s\n", error.c_str());
    return kExitDeviceFailed;
  }
  host.Close();
  return kExitOk;
}

}  // namespace veltrano_cli

VELTRANO_COMMAND(open, "open", "create and open a driver, print its log lines, close it",
                 "--host H [--port P] [--user U] [--password W] [--model M] "
                 "[--stream mjpeg|h264] [--param N=V ...]",
                 veltrano_cli::RunOpen);
