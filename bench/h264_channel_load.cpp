// End-to-end load of one H.264 channel against the camera simulator (run as
// its own process, so that this process holds only the channel): the time
// from Start to the first delivered frame, the descriptors and threads the
// channel adds, and the CPU this process spends per delivered frame (RTP
// reception, queue, depacketiser, frame record and the recorder's copy),
// side by side with `ffmpeg -rtsp_transport udp -i ... -c copy -f null -`
// receiving the same stream over the same time.
//
// Usage: h264_channel_load CAMSIM [seconds] [testdata-dir]
//   testdata-dir: the simulator's samples (its 1280x720 clip is the stream);
//   bench/RESULTS.md says how the 4 Mbit/s one was made.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "channels/h264_channel_rtsp.h"
#include "channels/sender_stream_link.h"
#include "core/testing/fake_driver.h"
#include "platform/clock.h"
#include "recorder/frame_allocator.h"
#include "recorder/frame_receiver.h"

namespace {

using Clock = std::chrono::steady_clock;

// Open descriptors by kind: sockets, eventfds, others.
struct Descriptors {
  size_t sockets = 0, events = 0, other = 0;
  size_t total() const { return sockets + events + other; }
};
Descriptors CountDescriptors() {
  Descriptors d;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      char target[256] = {};
      const std::string link = std::string("/proc/self/fd/") + e->d_name;
      ::readlink(link.c_str(), target, sizeof target - 1);
      if (std::strncmp(target, "socket:", 7) == 0) {
        ++d.sockets;
      } else if (std::strstr(target, "eventfd") != nullptr) {
        ++d.events;
      } else {
        ++d.other;
      }
    }
    ::closedir(dir);
  }
  return d;
}

size_t CountEntries(const char* dir) {
  size_t n = 0;
  if (DIR* d = ::opendir(dir)) {
    while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.' ? 1 : 0;
    ::closedir(d);
  }
  return n;
}

// CPU seconds of every thread of this process by name.
std::map<std::string, double> ThreadCpuSeconds() {
  std::map<std::string, double> out;
  const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* e = ::readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      const std::string base = std::string("/proc/self/task/") + e->d_name;
      char name[64] = {}, stat[1024] = {};
      if (FILE* f = std::fopen((base + "/comm").c_str(), "r")) {
        if (std::fgets(name, sizeof name, f) == nullptr) name[0] = 0;
        std::fclose(f);
      }
      if (FILE* f = std::fopen((base + "/stat").c_str(), "r")) {
        if (std::fgets(stat, sizeof stat, f) == nullptr) stat[0] = 0;
        std::fclose(f);
      }
      // Fields after the parenthesised name: state is field 3, utime 14, stime 15.
      const char* rest = std::strrchr(stat, ')');
      unsigned long utime = 0, stime = 0;
      if (rest != nullptr &&
          std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                      &stime) == 2) {
        std::string key(name);
        if (!key.empty() && key.back() == '\n') key.pop_back();
        out[key] += (utime + stime) / tick;
      }
    }
    ::closedir(dir);
  }
  return out;
}

double ProcessCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A child with its stdout on a pipe.
struct Child {
  pid_t pid = -1;
  FILE* out = nullptr;
};

Child Spawn(const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  return {pid, ::fdopen(fds[0], "r")};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CAMSIM [seconds] [testdata-dir]\n", argv[0]);
    return 2;
  }
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
  std::vector<std::string> camsim_args = {argv[1], "--model", "IQ031", "--auth", "none", "--quiet"};
  if (argc > 3) camsim_args.insert(camsim_args.end(), {"--testdata", argv[3]});
  Child camsim = Spawn(camsim_args);
  unsigned http = 0, rtsp = 0;
  if (camsim.out == nullptr || std::fscanf(camsim.out, " http=%u rtsp=%u", &http, &rtsp) != 2) {
    std::fprintf(stderr, "camsim did not start\n");
    return 1;
  }

  korvela::testing::FakeDriver driver;
  driver.device.address = "127.0.0.1";
  driver.device.port = static_cast<uint16_t>(http);
  driver.device.receive_timeout_ms = 20000;
  korvela::recorder::FrameAllocator allocator;
  korvela::recorder::FrameReceiver receiver{/*keep=*/1};
  driver.allocator = &allocator;
  driver.SetParameter(2, std::to_string(rtsp));
  driver.SetParameter(3, "2");
  const Descriptors fds_before = CountDescriptors();
  const size_t threads_before = CountEntries("/proc/self/task");

  korvela::CH264ChannelRTSP channel(&driver, 0, &receiver, korvela::MakeSenderStreamLink,
                                    korvela::platform::SystemClock());
  const Clock::time_point start = Clock::now();
  channel.Start({25, 50, 1280, 720});
  if (!receiver.WaitForFrames(1, std::chrono::seconds(60))) {
    std::fprintf(stderr, "no frame\n");
    return 1;
  }
  const double first_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const Descriptors fds_now = CountDescriptors();
  const size_t threads = CountEntries("/proc/self/task") - threads_before;

  const std::string url = "rtsp://127.0.0.1:" + std::to_string(rtsp) + "/now.mp4?mm=v";
  Child ffmpeg =
      Spawn({"ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "udp", "-i", url, "-t",
             std::to_string(seconds), "-c", "copy", "-f", "null", "-", "-progress", "pipe:1"});
  const auto threads0 = ThreadCpuSeconds();
  const double cpu0 = ProcessCpuSeconds();
  const size_t frames0 = receiver.frame_count();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = ProcessCpuSeconds() - cpu0;
  const size_t frames = receiver.frame_count() - frames0;
  const auto threads1 = ThreadCpuSeconds();
  channel.Stop();

  long ffmpeg_frames = 0;
  char line[256];
  while (ffmpeg.out != nullptr && std::fgets(line, sizeof line, ffmpeg.out) != nullptr) {
    if (std::strncmp(line, "frame=", 6) == 0) ffmpeg_frames = std::atol(line + 6);
  }
  int status = 0;
  rusage ff{};
  ::wait4(ffmpeg.pid, &status, 0, &ff);
  const double ffmpeg_cpu =
      ff.ru_utime.tv_sec + ff.ru_stime.tv_sec + (ff.ru_utime.tv_usec + ff.ru_stime.tv_usec) / 1e6;
  ::kill(camsim.pid, SIGTERM);
  ::waitpid(camsim.pid, nullptr, 0);

  const korvela::RtpParserCounters c = channel.parser_counters();
  const double per_frame_us = frames > 0 ? cpu / double(frames) * 1e6 : 0;
  const double ffmpeg_per_frame_us = ffmpeg_frames > 0 ? ffmpeg_cpu / ffmpeg_frames * 1e6 : 0;
  std::printf(
      "first frame after %.0f ms; channel adds %zu descriptors (%zu sockets, %zu eventfds, %zu "
      "other) and %zu threads\n",
      first_ms, fds_now.total() - fds_before.total(), fds_now.sockets - fds_before.sockets,
      fds_now.events - fds_before.events, fds_now.other - fds_before.other, threads);
  std::printf("driver: %zu frames in %d s, %.1f us CPU per frame (gaps %llu, withheld %llu)\n",
              frames, seconds, per_frame_us, static_cast<unsigned long long>(c.gaps),
              static_cast<unsigned long long>(c.withheld));
  for (const auto& [name, seconds_now] : threads1) {
    const auto before = threads0.find(name);
    const double used = seconds_now - (before != threads0.end() ? before->second : 0.0);
    if (frames > 0 && used > 0) {
      std::printf("  thread %-16s %6.1f us per frame\n", name.c_str(), used / frames * 1e6);
    }
  }
  std::printf("ffmpeg: %ld frames, %.1f us CPU per frame\n", ffmpeg_frames, ffmpeg_per_frame_us);
  if (ffmpeg_per_frame_us > 0) {
    std::printf("ratio driver/ffmpeg: %.2f\n", per_frame_us / ffmpeg_per_frame_us);
  }
  return 0;
}
