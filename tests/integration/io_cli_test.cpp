// `veltrano io` run as a field engineer runs it, against the camera simulator.
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "camsim/camsim.h"

namespace {

using namespace std::chrono_literals;

struct CliRun {
  int exit_code = -1;
  std::string out;
};

// Runs the program with `args` (stderr discarded); bounded by its --seconds.
CliRun RunVeltrano(const std::string& args) {
  CliRun run;
  const std::string command = std::string(VELTRANO_PROGRAM) + " io " + args + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 512> buffer;
  size_t n = 0;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
  const int status = pclose(pipe);
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  return run;
}

struct IoCliFixture : ::testing::Test {
  void SetUp() override {
    camsim::SimulatorOptions options;
    options.camera.auth = camsim::AuthMode::kDigest;
    std::string error;
    simulator = camsim::Simulator::Start(options, &error);
    ASSERT_NE(simulator, nullptr) << error;
  }
  std::string Device(const std::string& password) {
    return "--host 127.0.0.1 --port " + std::to_string(camera().http_port()) +
           " --user root --password " + password;
  }
  camsim::Camera& camera() { return simulator->camera(0); }
  std::unique_ptr<camsim::Simulator> simulator;
};

TEST_F(IoCliFixture, WatchPrintsTheInputAndSetWritesTheOutput) {
  camera().SetDigitalInput(true);
  const CliRun run = RunVeltrano(Device("system") + " --set 0=closed --watch --seconds 1");
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_NE(run.out.find("Z input 0 closed\n"), std::string::npos) << run.out;
  EXPECT_EQ(camera().GetOid("1.3.5.1"), "CLOSED");
}

TEST_F(IoCliFixture, RefusedCredentialsShowAsDeviceErrors) {
  const CliRun run = RunVeltrano(Device("wrong") + " --watch --seconds 1");
  EXPECT_EQ(run.exit_code, 4) << run.out;
  EXPECT_NE(run.out.find("Z device error\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("input 0"), std::string::npos) << run.out;
}

TEST_F(IoCliFixture, MalformedSetIsAUsageError) {
  const CliRun run = RunVeltrano(Device("system") + " --set 0=ajar");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(camera().oid_writes().empty());
}

}  // namespace
