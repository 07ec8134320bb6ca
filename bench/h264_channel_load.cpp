// End-to-end load of one H.264 channel against the camera simulator (run as
// its own process, so that this process holds only the channel): the time
// from Start to the first delivered frame, the descriptors and threads the
// channel adds, and the CPU this process spends per delivered frame (RTP
// reception, queue, depacketiser, frame record and the recorder's copy),
// side by side with `ffmpeg -rtsp_transport udp -i ... -c copy -f null -` and
// `gst-launch-1.0 rtspsrc protocols=udp ! rtph264depay ! fakesink` receiving
// the same stream over the same window.
//
// Usage: h264_channel_load CAMSIM [seconds] [testdata-dir] [peers] [model] [group] [WxH]
//   testdata-dir: the simulator's samples (its 1280x720 clip is the stream,
//   or its 1920x1080 one for a mode that wide); bench/RESULTS.md and
//   scripts/bench.sh say how the 4 and 8 Mbit/s ones were made.
//   peers: "ffmpeg,gst" (default), one of them, or "none" (the driver alone,
//   e.g. under strace).
//   model, camera group, picture size: IQ031, 2, 1280x720 by default; IQ765,
//   4, 1920x1080 selects the camera's 1080p H.264 mode.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "channels/h264_channel_rtsp.h"
#include "channels/sender_stream_link.h"
#include "core/testing/fake_driver.h"
#include "platform/clock.h"
#include "proc_stats.h"
#include "recorder/frame_allocator.h"
#include "recorder/frame_receiver.h"

namespace {

using korvela::bench::CountEntries;
using korvela::bench::ThreadUse;
using korvela::bench::ThreadUses;

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

// This tool's own threads, left out of the driver's figure: the main thread
// (asleep during the window) and the threads reading the peers' output.
constexpr char kPeerReaderName[] = "peer reader";
bool IsToolThread(const std::string& name) {
  return name == kPeerReaderName || name == "h264_channel_lo";
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

// A peer client receiving the same stream: its frames are counted from its
// output on a thread of this tool (a full pipe would stall it), its CPU read
// from the kernel's per-thread run times, so that all three are measured over
// the same window, after their start-up.
class Peer {
 public:
  Peer(std::string name, const std::vector<std::string>& args, const char* frame_prefix,
       bool cumulative)
      : name_(std::move(name)), child_(Spawn(args)) {
    if (child_.out == nullptr) return;
    reader_ = std::thread([this, frame_prefix, cumulative] {
      ::pthread_setname_np(::pthread_self(), kPeerReaderName);
      char line[512];
      const size_t prefix = std::strlen(frame_prefix);
      while (std::fgets(line, sizeof line, child_.out) != nullptr) {
        const char* at = std::strstr(line, frame_prefix);
        if (at == nullptr) continue;
        if (cumulative) {
          frames_.store(std::atol(at + prefix));
        } else {
          frames_.fetch_add(1);
        }
      }
    });
  }
  ~Peer() { Stop(); }

  const std::string& name() const { return name_; }
  long frames() const { return frames_.load(); }
  // Run time of every thread of the child, in seconds.
  double CpuSeconds() const {
    double total = 0;
    const std::string dir = "/proc/" + std::to_string(child_.pid) + "/task";
    if (DIR* d = ::opendir(dir.c_str())) {
      while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        if (FILE* f = std::fopen((dir + "/" + e->d_name + "/schedstat").c_str(), "r")) {
          unsigned long long ns = 0;
          if (std::fscanf(f, "%llu", &ns) == 1) total += double(ns) * 1e-9;
          std::fclose(f);
        }
      }
      ::closedir(d);
    }
    return total;
  }
  void Stop() {
    if (child_.pid <= 0) return;
    ::kill(child_.pid, SIGINT);
    ::waitpid(child_.pid, nullptr, 0);
    child_.pid = -1;
    if (reader_.joinable()) reader_.join();
  }

 private:
  std::string name_;
  Child child_;
  std::atomic<long> frames_{0};
  std::thread reader_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s CAMSIM [seconds] [testdata-dir] [peers] [model] [group] [WxH]\n",
                 argv[0]);
    return 2;
  }
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
  const std::string peers = argc > 4 ? argv[4] : "ffmpeg,gst";
  const std::string model = argc > 5 ? argv[5] : "IQ031";
  const std::string group = argc > 6 ? argv[6] : "2";
  unsigned width = 1280, height = 720;
  if (argc > 7 && std::sscanf(argv[7], "%ux%u", &width, &height) != 2) {
    std::fprintf(stderr, "size %s is not WxH\n", argv[7]);
    return 2;
  }
  std::vector<std::string> camsim_args = {argv[1], "--model", model, "--auth", "none", "--quiet"};
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
  driver.SetParameter(3, group);
  const Descriptors fds_before = CountDescriptors();
  const size_t threads_before = CountEntries("/proc/self/task");

  korvela::CH264ChannelRTSP channel(&driver, 0, &receiver, korvela::MakeSenderStreamLink,
                                    korvela::platform::SystemClock());
  const Clock::time_point start = Clock::now();
  channel.Start({25, 50, width, height});
  if (!receiver.WaitForFrames(1, std::chrono::seconds(60))) {
    std::fprintf(stderr, "no frame\n");
    return 1;
  }
  const double first_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const Descriptors fds_now = CountDescriptors();
  const size_t threads = CountEntries("/proc/self/task") - threads_before;

  const std::string url = "rtsp://127.0.0.1:" + std::to_string(rtsp) + "/now.mp4?mm=v";
  std::vector<std::unique_ptr<Peer>> clients;
  if (peers.find("ffmpeg") != std::string::npos) {
    clients.push_back(std::make_unique<Peer>(
        "ffmpeg",
        std::vector<std::string>{"ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "udp",
                                 "-i", url, "-c", "copy", "-f", "null", "-", "-progress", "pipe:1",
                                 "-stats_period", "0.1"},
        "frame=", true));
  }
  if (peers.find("gst") != std::string::npos) {
    // Each buffer fakesink takes (one access unit) is printed as a "chain" line.
    clients.push_back(std::make_unique<Peer>(
        "gstreamer",
        std::vector<std::string>{"gst-launch-1.0", "-v", "-e", "rtspsrc", "location=" + url,
                                 "protocols=udp", "!", "rtph264depay", "!", "fakesink",
                                 "silent=false"},
        "chain", false));
  }
  // The peers' start-up (probing, plugin loading) is left out, as the driver's is.
  std::this_thread::sleep_for(std::chrono::seconds(clients.empty() ? 0 : 3));

  std::vector<double> peer_cpu0;
  std::vector<long> peer_frames0;
  for (const auto& p : clients) {
    peer_cpu0.push_back(p->CpuSeconds());
    peer_frames0.push_back(p->frames());
  }
  const auto threads0 = ThreadUses();
  const double cpu0 = ProcessCpuSeconds();
  const size_t frames0 = receiver.frame_count();
  const uint64_t bytes0 = receiver.byte_count();
  const uint64_t packets0 = channel.parser_counters().packets;
  // A tracer (scripts/bench.sh h264-syscalls) attaches for the window.
  std::printf("window of %d s starts\n", seconds);
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = ProcessCpuSeconds() - cpu0;
  const size_t frames = receiver.frame_count() - frames0;
  const uint64_t bytes = receiver.byte_count() - bytes0;
  const std::vector<korvela::recorder::ReceivedFrame> last = receiver.Frames();
  const uint64_t packets = channel.parser_counters().packets - packets0;
  const auto threads1 = ThreadUses();
  std::vector<double> peer_cpu;
  std::vector<long> peer_frames;
  for (size_t i = 0; i < clients.size(); ++i) {
    peer_cpu.push_back(clients[i]->CpuSeconds() - peer_cpu0[i]);
    peer_frames.push_back(clients[i]->frames() - peer_frames0[i]);
  }
  double load[3] = {};
  const int loads = ::getloadavg(load, 3);
  channel.Stop();
  for (const auto& p : clients) p->Stop();
  ::kill(camsim.pid, SIGTERM);
  ::waitpid(camsim.pid, nullptr, 0);

  const korvela::RtpParserCounters c = channel.parser_counters();
  double driver_cpu = 0;
  for (const auto& [name, now] : threads1) {
    const auto before = threads0.find(name);
    if (!IsToolThread(name)) {
      driver_cpu += now.cpu_seconds - (before != threads0.end() ? before->second.cpu_seconds : 0);
    }
  }
  const double per_frame_us = frames > 0 ? driver_cpu / double(frames) * 1e6 : 0;
  std::printf(
      "first frame after %.0f ms; channel adds %zu descriptors (%zu sockets, %zu eventfds, %zu "
      "other) and %zu threads\n",
      first_ms, fds_now.total() - fds_before.total(), fds_now.sockets - fds_before.sockets,
      fds_now.events - fds_before.events, fds_now.other - fds_before.other, threads);
  std::printf("stream: %ux%u, %.2f Mbit/s\n", last.empty() ? 0 : last.back().width,
              last.empty() ? 0 : last.back().height, double(bytes) * 8 / seconds / 1e6);
  std::printf(
      "driver: %zu frames in %d s, %.1f us CPU per frame (its threads; the whole process "
      "with this tool's: %.1f; %llu packets, gaps %llu, withheld %llu)\n",
      frames, seconds, per_frame_us, frames > 0 ? cpu / double(frames) * 1e6 : 0,
      static_cast<unsigned long long>(packets), static_cast<unsigned long long>(c.gaps),
      static_cast<unsigned long long>(c.withheld));
  for (const auto& [name, now] : threads1) {
    const auto before = threads0.find(name);
    const ThreadUse then = before != threads0.end() ? before->second : ThreadUse{};
    const double used = now.cpu_seconds - then.cpu_seconds;
    if (frames > 0 && (used > 0 || now.wakeups > then.wakeups)) {
      std::printf("  thread %-16s %6.1f us, %5.2f wake-ups per frame\n", name.c_str(),
                  used / frames * 1e6, double(now.wakeups - then.wakeups) / frames);
    }
  }
  double best_peer_us = 0;
  for (size_t i = 0; i < clients.size(); ++i) {
    const double us = peer_frames[i] > 0 ? peer_cpu[i] / double(peer_frames[i]) * 1e6 : 0;
    std::printf("%s: %ld frames, %.1f us CPU per frame\n", clients[i]->name().c_str(),
                peer_frames[i], us);
    if (us > 0 && (best_peer_us == 0 || us < best_peer_us)) best_peer_us = us;
  }
  if (best_peer_us > 0) {
    std::printf("ratio driver/better peer: %.2f\n", per_frame_us / best_peer_us);
  }
  if (loads == 3) std::printf("load average: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  return 0;
}
