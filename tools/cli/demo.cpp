// `veltrano demo`: starts a simulated camera on loopback and runs the field
// engineer's commands against it through the driver library: probe, a
// Motion-JPEG recording and the digital I/O. Every step prints what the real
// command prints; the exit code is the first failing step's.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "args.h"
#include "camsim/camsim.h"
#include "command.h"

namespace veltrano_cli {
namespace {

const Command* FindCommand(const char* name) {
  for (const auto& c : Commands())
    if (std::strcmp(c.name, name) == 0) return &c;
  return nullptr;
}

int RunStep(const char* title, const char* name, std::vector<std::string> args) {
  const Command* command = FindCommand(name);
  if (command == nullptr) {
    std::fprintf(stderr, "veltrano demo: this build has no '%s' command\n", name);
    return kExitUsage;
  }
  std::printf("\n== %s: veltrano %s", title, name);
  for (const auto& a : args) std::printf(" %s", a == "system" ? "***" : a.c_str());
  std::printf("\n");
  std::fflush(stdout);
  const int rc = command->run(args);
  std::fflush(stdout);
  std::printf("== %s: %s (exit %d)\n", title, rc == kExitOk ? "ok" : "FAILED", rc);
  return rc;
}

}  // namespace

int RunDemo(const std::vector<std::string>& args) {
  ArgParser parser;
  parser.Option("model", "simulated model (IQ765, IQ031, IQA30, IQ042, IQ511)", "IQ765");
  parser.Option("seconds", "length of the recording (default 5)", "5");
  parser.Option("out", "folder for the recorded files", "veltrano-demo");
  uint64_t seconds = 0;
  if (!parser.Parse(args) || !parser.GetUint("seconds", 1, 3600, &seconds)) {
    std::fprintf(stderr, "veltrano demo: %s\n%s", parser.error().c_str(), parser.Help().c_str());
    return kExitUsage;
  }

  camsim::SimulatorOptions options;
  options.camera.model = parser.Get("model");
  options.camera.auth = camsim::AuthMode::kDigest;
  std::string error;
  std::unique_ptr<camsim::Simulator> simulator = camsim::Simulator::Start(options, &error);
  if (!simulator) {
    std::fprintf(stderr, "veltrano demo: the camera simulator did not start: %s\n", error.c_str());
    return kExitDeviceFailed;
  }
  camsim::Camera& camera = simulator->camera(0);
  const std::string port = std::to_string(camera.http_port());
  std::printf("simulated %s on 127.0.0.1: http=%u rtsp=%u (Digest, user %s)\n",
              camera.model().c_str(), camera.http_port(), camera.rtsp_port(),
              options.camera.user.c_str());

  const std::vector<std::string> device = {
      "--host", "127.0.0.1",         "--port",     port,
      "--user", options.camera.user, "--password", options.camera.password};
  auto with = [&device](std::vector<std::string> extra) {
    std::vector<std::string> all = device;
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  };

  int first_failure = kExitOk;
  auto step = [&first_failure](int rc) {
    if (rc != kExitOk && first_failure == kExitOk) first_failure = rc;
  };
  step(RunStep("capability query", "probe", with({})));
  const std::string out = parser.Get("out");
  step(RunStep("Motion-JPEG recording", "record",
               with({"--stream", "mjpeg", "--seconds", std::to_string(seconds), "--out", out})));
  step(RunStep("digital I/O", "io", with({"--set", "0=closed", "--watch", "--seconds", "3"})));

  std::printf("\nrecorded files: %s\n", std::filesystem::absolute(out).string().c_str());
  std::printf("demo %s\n", first_failure == kExitOk ? "passed" : "FAILED");
  return first_failure;
}

}  // namespace veltrano_cli

VELTRANO_COMMAND(demo, "demo", "run a simulated camera on loopback and probe, record and switch it",
                 "[--model M] [--seconds N] [--out DIR]", veltrano_cli::RunDemo);
