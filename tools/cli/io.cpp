// `veltrano io`: follows the device's digital input and switches its output
// through the driver's digital I/O object, as a recorder does: open the
// driver, start the I/O object, apply --set, print every input change and
// device error with its time while watching, then stop and close.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "command.h"
#include "host.h"
#include "options.h"
#include "recorder/io_host.h"

namespace veltrano_cli {
namespace {

using korvela::ipcapture::kOutputClosed;
using korvela::ipcapture::kOutputOpen;

// Without --watch the command stays this long after --set: SetOutput only
// queues, and stopping the I/O object drops what is still queued. One device
// request takes at most the driver's 5 s time-out.
constexpr uint64_t kSettleSeconds = 6;
constexpr uint64_t kMaxSeconds = 86400ull * 365;
constexpr auto kWakeInterval = std::chrono::milliseconds(200);

std::atomic<bool> g_interrupted{false};

void OnSignal(int) { g_interrupted = true; }

// "0=open" -> {0, open}; "0=closed" -> {0, closed}.
std::optional<std::pair<uint32_t, uint32_t>> ParseSet(const std::string& item) {
  const size_t eq = item.find('=');
  if (eq == std::string::npos) return std::nullopt;
  uint64_t output = 0;
  const std::string state = item.substr(eq + 1);
  if (!ParseDecimal(item.substr(0, eq), 0, UINT32_MAX, &output)) return std::nullopt;
  if (state != "open" && state != "closed") return std::nullopt;
  return std::make_pair(static_cast<uint32_t>(output),
                        static_cast<uint32_t>(state == "open" ? kOutputOpen : kOutputClosed));
}

struct IoOptions {
  DeviceOptions device;
  std::vector<std::pair<uint32_t, uint32_t>> sets;
  bool watch = false;
  uint64_t seconds = 0;  // 0: not given
};

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

int RunIo(const IoOptions& options) {
  // Declared before the host: the driver (and its I/O threads) goes first.
  korvela::recorder::IoHost events;
  CliHost host;
  // IQeye devices have one alarm input and one relay output.
  host.setup().input_count = 1;
  host.setup().output_count = 1;
  std::string error;
  if (!host.Load(&error)) {
    std::fprintf(stderr, "veltrano io: %s\n", error.c_str());
    return kExitLoadFailed;
  }
  if (!host.Open(options.device, korvela::ipcapture::kStreamMjpegHttp, "IQeye", &error)) {
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
  for (const auto& [output, state] : options.sets) {
    if (!io->SetOutput(output, state)) {
      std::fprintf(stderr, "veltrano io: output %u: command not queued\n", output);
      io->Stop();
      return kExitDeviceFailed;
    }
    std::fprintf(stderr, "veltrano io: output %u -> %s queued\n", output,
                 state == kOutputOpen ? "open" : "closed");
  }

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  // 0: until interrupted.
  const uint64_t seconds = options.seconds != 0 ? options.seconds
                           : options.watch      ? 0
                                                : kSettleSeconds;
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

std::function<int()> SetupIo(CLI::App& app) {
  auto options = std::make_shared<IoOptions>();
  AddDeviceOptions(app, options->device);
  app.add_option("--set", "switch an output: N=open or N=closed (repeatable)")
      ->type_name("N=open|closed")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(CLI::Validator(
          [](const std::string& item) -> std::string {
            return ParseSet(item) ? "" : "expected N=open or N=closed, not '" + item + "'";
          },
          "", "output command"))
      ->each([options](const std::string& item) {
        if (auto set = ParseSet(item)) options->sets.push_back(*set);
      });
  app.add_flag("--watch", options->watch,
               "print input changes and device errors until --seconds pass or Ctrl-C");
  app.add_option("--seconds", options->seconds,
                 "how long to watch (default: until Ctrl-C; 6 without --watch)")
      ->transform(Decimal())
      ->check(CLI::Range(uint64_t{1}, kMaxSeconds));
  return [options, &app] {
    if (!options->watch && options->sets.empty())
      return UsageError(app, "veltrano io", "nothing to do: give --set and/or --watch");
    return RunIo(*options);
  };
}

}  // namespace
}  // namespace veltrano_cli

VELTRANO_COMMAND(io, "io", "watch the digital input, switch the output", veltrano_cli::SetupIo);
