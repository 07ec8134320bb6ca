// Descriptors one camera holds in the recorder's process, sockets included:
// a Motion-JPEG camera with digital I/O and privacy zones, opened through the
// library's exports against the simulator, which runs as a process of its own
// so that only the driver's descriptors are counted.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "recorder/debug_sink.h"
#include "recorder/device_setup.h"
#include "recorder/driver_library.h"
#include "recorder/frame_allocator.h"
#include "recorder/frame_receiver.h"
#include "recorder/io_host.h"
#include "recorder/video_params.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// The budget per camera a recorder with hundreds of cameras can afford.
constexpr int kMaxDescriptorsPerCamera = 8;

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count - 1;  // the iterator's own
}

// camsim in a child process; its first line gives the HTTP port.
class CamsimProcess {
 public:
  CamsimProcess() {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const char* argv[] = {CAMSIM_PROGRAM, "--model",   "IQ765", "--auth", "digest",
                          "--quiet",      "--seconds", "120",   nullptr};
    if (posix_spawn(&pid_, CAMSIM_PROGRAM, &actions, nullptr, const_cast<char**>(argv), environ) !=
        0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    FILE* in = ::fdopen(out[0], "r");
    unsigned http = 0, rtsp = 0;
    if (in != nullptr && std::fscanf(in, "http=%u rtsp=%u", &http, &rtsp) == 2) port_ = http;
    if (in != nullptr) std::fclose(in);
  }
  ~CamsimProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  uint16_t port() const { return static_cast<uint16_t>(port_); }

 private:
  pid_t pid_ = -1;
  unsigned port_ = 0;
};

// The most descriptors open above `baseline` while sampling for `span`.
int PeakAbove(int baseline, std::chrono::milliseconds span) {
  int peak = 0;
  for (auto end = std::chrono::steady_clock::now() + span; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(20ms)) {
    peak = std::max(peak, OpenDescriptors() - baseline);
  }
  return peak;
}

TEST(DescriptorCountTest, MotionJpegCameraWithIoAndZones) {
  CamsimProcess camsim;
  ASSERT_NE(camsim.port(), 0) << "camsim did not start";
  korvela::recorder::DriverLibrary library;
  ASSERT_TRUE(library.Load()) << library.error();
  korvela::recorder::DebugSink sink;
  korvela::recorder::FrameAllocator allocator;
  korvela::recorder::FrameReceiver receiver;
  korvela::recorder::IoHost events;
  korvela::recorder::DeviceSetup setup;
  setup.model = "IQ765";
  setup.address = "127.0.0.1";
  setup.port = camsim.port();
  setup.user_name = "root";
  setup.password = "system";
  setup.input_count = 1;
  setup.output_count = 1;
  korvela::recorder::DeviceSetup::FillReferenceParameters(setup.parameters);
  setup.parameters[7] = "1";  // privacy zones
  korvela::recorder::VideoParams params(10, 50, 640, 480);
  params.SetZones({{0, 0, 1, 10, 20, 50, 60}});
  korvela::recorder::PictureSize size(640, 480);

  const int baseline = OpenDescriptors();
  auto driver = std::make_unique<korvela::recorder::DriverHandle>(library.exports());
  ASSERT_TRUE((*driver)->Open(&sink, &allocator, &setup));
  auto* io = (*driver)->GetIO();
  ASSERT_NE(io, nullptr);
  io->SetCallback(&events);
  ASSERT_TRUE(io->Start());
  ASSERT_TRUE((*driver)->GetVideoCapture()->StartChannel(0, &receiver, &params));
  ASSERT_TRUE(receiver.WaitForFrames(5, 30s));
  ASSERT_TRUE(events.WaitFor(1, 30s));  // the input was polled
  ASSERT_TRUE(io->SetOutput(0, 0));     // the output connection is made
  const int running = PeakAbove(baseline, 2500ms);

  ASSERT_TRUE((*driver)->GetVideoCapture()->ChangeChannel(0, &size, 5));
  ASSERT_TRUE(receiver.WaitForFrames(receiver.frame_count() + 3, 30s));
  const int after_rate_change = PeakAbove(baseline, 500ms);

  std::printf("descriptors per camera: %d streaming with I/O and zones, %d after a rate change\n",
              running, after_rate_change);
  ::testing::Test::RecordProperty("descriptors", running);
  EXPECT_LE(running, kMaxDescriptorsPerCamera);
  EXPECT_LE(after_rate_change, kMaxDescriptorsPerCamera);

  io->Stop();
  driver.reset();
  EXPECT_EQ(OpenDescriptors(), baseline);  // nothing left behind
}

}  // namespace
