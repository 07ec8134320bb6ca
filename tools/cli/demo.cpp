// `veltrano demo`: starts a simulated camera on loopback and runs the field
// engineer's commands against it through the driver library: probe, a
// Motion-JPEG recording with audio, talk-back of that audio and the digital
// I/O. Every step prints what the real
// command prints; the exit code is the first failing step's.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "camsim/camsim.h"
#include "command.h"
#include "options.h"

namespace veltrano_cli {
namespace {

struct DemoOptions {
  std::string model = "IQ765";
  uint64_t seconds = 5;
  std::string out = "veltrano-demo";
};

// Runs `veltrano <args>` in this process, framed by a title line.
int RunStep(const char* title, const std::vector<std::string>& args) {
  std::printf("\n== %s: veltrano", title);
  for (const auto& a : args) std::printf(" %s", a == "system" ? "***" : a.c_str());
  std::printf("\n");
  std::fflush(stdout);
  const int rc = RunCommandLine(args);
  std::fflush(stdout);
  std::printf("== %s: %s (exit %d)\n", title, rc == kExitOk ? "ok" : "FAILED", rc);
  return rc;
}

int RunDemo(const DemoOptions& demo) {
  camsim::SimulatorOptions options;
  options.camera.model = demo.model;
  options.camera.auth = camsim::AuthMode::kDigest;
  std::string error;
  std::unique_ptr<camsim::Simulator> simulator = camsim::Simulator::Start(options, &error);
  if (!simulator) {
    std::fprintf(stderr, "veltrano demo: the camera simulator did not start: %s\n", error.c_str());
    return kExitDeviceFailed;
  }
  camsim::Camera& camera = simulator->camera(0);
  std::printf("simulated %s on 127.0.0.1: http=%u rtsp=%u (Digest, user %s)\n",
              camera.model().c_str(), camera.http_port(), camera.rtsp_port(),
              options.camera.user.c_str());

  // The command, then the device options, then the step's own.
  auto command = [&](const char* name, std::vector<std::string> extra) {
    std::vector<std::string> all = {name,
                                    "--host",
                                    "127.0.0.1",
                                    "--port",
                                    std::to_string(camera.http_port()),
                                    "--user",
                                    options.camera.user,
                                    "--password",
                                    options.camera.password};
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  };

  int first_failure = kExitOk;
  auto step = [&first_failure](int rc) {
    if (rc != kExitOk && first_failure == kExitOk) first_failure = rc;
  };
  step(RunStep("capability query", command("probe", {})));
  step(RunStep("Motion-JPEG and audio recording",
               command("record", {"--stream", "mjpeg", "--seconds", std::to_string(demo.seconds),
                                  "--audio", "--wav", "--out", demo.out})));
  step(RunStep("talk-back of the recorded audio",
               command("talk", {"--file", demo.out + "/audio.ul"})));
  step(RunStep("digital I/O", command("io", {"--set", "0=closed", "--watch", "--seconds", "3"})));

  std::printf("\nrecorded files: %s\n", std::filesystem::absolute(demo.out).string().c_str());
  std::printf("demo %s\n", first_failure == kExitOk ? "passed" : "FAILED");
  return first_failure;
}

std::function<int()> SetupDemo(CLI::App& app) {
  auto options = std::make_shared<DemoOptions>();
  app.add_option("--model", options->model, "simulated model (IQ765, IQ031, IQA30, IQ042, IQ511)")
      ->capture_default_str();
  app.add_option("--seconds", options->seconds, "length of the recording")
      ->transform(Decimal())
      ->check(CLI::Range(uint64_t{1}, uint64_t{3600}))
      ->capture_default_str();
  app.add_option("--out", options->out, "folder for the recorded files")
      ->check(NotEmpty())
      ->capture_default_str();
  return [options] { return RunDemo(*options); };
}

}  // namespace
}  // namespace veltrano_cli

VELTRANO_COMMAND(demo, "demo",
                 "run a simulated camera on loopback and probe, record, talk to and switch it",
                 veltrano_cli::SetupDemo);
