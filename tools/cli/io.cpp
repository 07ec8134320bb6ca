// `veltrano io`: follows the device's digital input and switches its output
// through the driver's digital I/O object, as a recorder does: open the
// driver, start the I/O object, apply --set, print every input change and
// device error with its time while watching, then stop and close.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "args.h"
#include "command.h"
#include "host.h"
#include "recorder/io_host.h"

namespace veltrano_cli {
namespace {

// Without --watch the command stays this long after --set: SetOutput only
// queues, and stopping the I/O object drops what is still queued. One device
// request takes at most the driver's 5 s time-out.
constexpr uint64_t kSettleSeconds = 6;
constexpr auto kWakeInterval = std::chrono::milliseconds(200);

std::atomic<bool> g_interrupted{false};

void OnSignal(int) { g_interrupted = true; }

// "0=open" -> {0, 1}; "0=closed" -> {0, 0}.
bool ParseSet(const std::string& item, std::pair<uint32_t, uint32_t>* out) {
  const size_t eq = item.find('=');
  if (eq == std::string::npos) return false;
  uint64_t output = 0;
  if (!ParseUint(item.substr(0, eq), 0, UINT32_MAX, &output)) return false;
  const std::string state = item.substr(eq + 1);
  if (state != "open" && state != "closed") return false;
  *out = {static_cast<uint32_t>(output), state == "open" ? 1u : 0u};
  return true;
}

// Prints what arrived; true when one of the events was a device error.
bool PrintEvents(korvela::recorder::IoHost& events) {
  bool error = false;
  for (const auto& event : events.Take()) {
    std::printf("%s\n", korvela::recorder::FormatIoEvent(event).c_str());
    error |= event.kind == korvela::recorder::IoEvent::Kind::kDeviceError;
  }
  std::fflush(stdout);
  return error;
}

}  // namespace

int RunIo(const std::vector<std::string>& args) {
  ArgParser parser;
  AddDeviceOptions(parser);
  parser.Repeated("set", "switch an output: N=open or N=closed (repeatable)");
  parser.Flag("watch", "print input changes and device errors until --seconds pass or Ctrl-C");
  parser.Option("seconds", "how long to watch (default: until Ctrl-C; 6 without --watch)");
  DeviceOptions device;
  std::string error;
  if (!parser.Parse(args) || !ReadDeviceOptions(parser, &device, &error)) {
    std::fprintf(stderr, "veltrano io: %s\n",
                 parser.error().empty() ? error.c_str() : parser.error().c_str());
    std::fprintf(stderr, "%s", parser.Help().c_str());
    return kExitUsage;
  }
  std::vector<std::pair<uint32_t, uint32_t>> sets;
  for (const auto& item : parser.GetAll("set")) {
    std::pair<uint32_t, uint32_t> set;
    if (!ParseSet(item, &set)) {
      std::fprintf(stderr, "veltrano io: --set %s: expected N=open or N=closed\n", item.c_str());
      return kExitUsage;
    }
    sets.push_back(set);
  }
  const bool watch = parser.Has("watch");
  uint64_t seconds = watch ? 0 : kSettleSeconds;
  if (parser.Has("seconds") && !parser.GetUint("seconds", 1, 86400 * 365, &seconds)) {
    std::fprintf(stderr, "veltrano io: %s\n", parser.error().c_str());
    return kExitUsage;
  }
  if (!watch && sets.empty()) {
    std::fprintf(stderr, "veltrano io: nothing to do: give --set and/or --watch\n");
    return kExitUsage;
  }

  // Declared before the host: the driver (and its I/O threads) goes first.
  korvela::recorder::IoHost events;
  CliHost host;
  // IQeye devices have one alarm input and one relay output.
  host.setup().input_count = 1;
  host.setup().output_count = 1;
  if (!host.Load(&error)) {
    std::fprintf(stderr, "veltrano io: %s\n", error.c_str());
    return kExitLoadFailed;
  }
  if (!host.Open(device, korvela::ipcapture::kStreamMjpegHttp, "IQeye", &error)) {
    std::fprintf(stderr, "veltrano io: %s\n", error.c_str());
    return kExitDeviceFailed;
  }
  korvela::ipcapture::ICaptureIOApi* io = host.driver()->GetIO();
  if (io == nullptr || !io->SetCallback(&events) || !io->Start()) {
    std::fprintf(stderr, "veltrano io: the driver has no usable digital I/O object\n");
    return kExitDeviceFailed;
  }
  std::fprintf(stderr, "veltrano io: %u input(s), %u output(s)\n", io->GetInputCount(),
               io->GetOutputCount());
  for (const auto& [output, state] : sets) {
    if (!io->SetOutput(output, state)) {
      std::fprintf(stderr, "veltrano io: output %u: command not queued\n", output);
      io->Stop();
      return kExitDeviceFailed;
    }
    std::fprintf(stderr, "veltrano io: output %u -> %s queued\n", output,
                 state == 1 ? "open" : "closed");
  }

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  bool device_error = false;
  while (!g_interrupted && (seconds == 0 || std::chrono::steady_clock::now() < deadline)) {
    events.WaitFor(1, kWakeInterval);
    device_error |= PrintEvents(events);
  }
  io->Stop();
  device_error |= PrintEvents(events);
  host.Close();
  return device_error ? kExitDeviceFailed : kExitOk;
}

}  // namespace veltrano_cli

VELTRANO_COMMAND(io, "io", "watch the digital input, switch the output",
                 "--host H [--port P] --user U --password W [--set 0=open|closed] [--watch] "
                 "[--seconds N]",
                 veltrano_cli::RunIo);
