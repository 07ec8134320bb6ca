// N H.264 channels in one process against the camera simulator (its own
// process, one simulated camera per channel, 1280x720 25 fps at about
// 2 Mbit/s): whether every frame the simulator sends is delivered, the CPU of
// this process and of the simulator, the memory, threads and descriptors each
// channel costs, the kernel's UDP receive drops and the depacketisers'
// sequence gaps. The channels are started all at once, as a recorder does;
// the window starts once every channel has delivered a frame. At both ends
// of the window the simulator holds its media for half a second, so that
// the sent and delivered counts are read with nothing in flight.
//
// Usage: h264_scale CAMSIM N [seconds] [rcvbuf-bytes]
//   rcvbuf-bytes: sets SO_RCVBUF of this process's UDP sockets after start-up
//   (the kernel doubles it and caps it at 2 * net.core.rmem_max), to measure
//   loss against the receive buffer size; default: what the driver asked for.
// The last line, "result: key=value ...", is read by scripts/bench.sh scale.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <malloc.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "channels/h264_channel_rtsp.h"
#include "channels/sender_stream_link.h"
#include "core/testing/fake_driver.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "proc_stats.h"
#include "recorder/frame_allocator.h"
#include "recorder/frame_receiver.h"

namespace {

using korvela::bench::CountEntries;
using korvela::bench::ProcessCpuSeconds;
using korvela::bench::ThreadUses;

using Clock = std::chrono::steady_clock;
using korvela::ipcapture::IAudioFrame;
using korvela::ipcapture::IVideoFrame;

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// The recorder's allocator, counting the bytes of the video records it has
// handed out and not yet taken back: the frame buffers on loan to the driver.
class CountingAllocator final : public korvela::ipcapture::IFrameAllocator {
 public:
  IVideoFrame* AllocateVideoFrame(uint32_t compression, uint32_t buffer_size,
                                  const char* source) override {
    IVideoFrame* frame = inner_.AllocateVideoFrame(compression, buffer_size, source);
    if (frame != nullptr) {
      const int64_t now = held_.fetch_add(buffer_size) + buffer_size;
      int64_t peak = peak_.load();
      while (now > peak && !peak_.compare_exchange_weak(peak, now)) {
      }
    }
    return frame;
  }
  IAudioFrame* AllocateAudioFrame(uint32_t format, uint32_t data_size,
                                  const char* source) override {
    return inner_.AllocateAudioFrame(format, data_size, source);
  }
  void ReleaseAudioFrame(IAudioFrame* frame) override { inner_.ReleaseAudioFrame(frame); }
  void ReleaseVideoFrame(IVideoFrame* frame) override {
    if (auto* own = dynamic_cast<korvela::recorder::VideoFrame*>(frame)) {
      held_.fetch_sub(own->buffer_size());
    }
    inner_.ReleaseVideoFrame(frame);
  }
  int64_t held() const { return held_.load(); }
  int64_t peak() const { return peak_.load(); }

 private:
  korvela::recorder::FrameAllocator inner_;
  std::atomic<int64_t> held_{0}, peak_{0};
};

// One recorder input: its driver stand-in (the camera's address and ports),
// its frame receiver (keeps no frames; copies each, as a recorder does) and
// the channel.
struct Input {
  korvela::testing::FakeDriver driver;
  korvela::recorder::FrameReceiver receiver{/*keep=*/0};
  std::unique_ptr<korvela::CH264ChannelRTSP> channel;
  std::atomic<size_t> largest_frame{0};
  std::atomic<int64_t> first_frame_ns{0};  // steady clock
};

// A child with stdin, stdout and stderr on pipes.
struct Child {
  pid_t pid = -1;
  FILE* in = nullptr;
  FILE* out = nullptr;
  FILE* err = nullptr;
};

Child Spawn(const std::vector<std::string>& args) {
  int in[2], out[2], err[2];
  if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  return {pid, ::fdopen(in[1], "w"), ::fdopen(out[0], "r"), ::fdopen(err[0], "r")};
}

struct SimStats {
  unsigned long long rtp_packets = 0, video_units = 0;
};

// Sends `command` (ending in "stats") to the simulator and reads its counters.
bool ReadSimStats(const Child& sim, const char* command, SimStats* stats) {
  std::fputs(command, sim.in);
  std::fflush(sim.in);
  char line[1024];
  while (std::fgets(line, sizeof line, sim.err) != nullptr) {
    if (std::strncmp(line, "stats:", 6) != 0) continue;
    const char* p = std::strstr(line, "rtp_packets=");
    const char* v = std::strstr(line, "video_units=");
    return p != nullptr && v != nullptr &&
           std::sscanf(p, "rtp_packets=%llu", &stats->rtp_packets) == 1 &&
           std::sscanf(v, "video_units=%llu", &stats->video_units) == 1;
  }
  return false;
}

double SelfCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ThisThreadCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Descriptors of this process: total, and the UDP sockets with their inodes
// and the receive buffer each really has (SO_RCVBUF as the kernel reports it).
struct Descriptors {
  size_t total = 0, sockets = 0, events = 0;
  std::set<unsigned long> udp_inodes;
  std::vector<int> udp_fds;
  int rcvbuf_min = 0, rcvbuf_max = 0;
};
Descriptors ListDescriptors() {
  Descriptors d;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      ++d.total;
      char target[256] = {};
      const std::string link = std::string("/proc/self/fd/") + e->d_name;
      if (::readlink(link.c_str(), target, sizeof target - 1) < 0) continue;
      if (std::strstr(target, "eventfd") != nullptr) ++d.events;
      unsigned long inode = 0;
      if (std::sscanf(target, "socket:[%lu]", &inode) != 1) continue;
      ++d.sockets;
      const int fd = std::atoi(e->d_name);
      int type = 0, rcvbuf = 0;
      socklen_t len = sizeof type;
      if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_DGRAM) continue;
      len = sizeof rcvbuf;
      ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, &len);
      d.udp_inodes.insert(inode);
      d.udp_fds.push_back(fd);
      d.rcvbuf_min = d.rcvbuf_min == 0 ? rcvbuf : std::min(d.rcvbuf_min, rcvbuf);
      d.rcvbuf_max = std::max(d.rcvbuf_max, rcvbuf);
    }
    ::closedir(dir);
  }
  return d;
}

// The kernel's UDP counters (/proc/net/snmp).
struct UdpCounters {
  unsigned long long in_errors = 0, rcvbuf_errors = 0, in_datagrams = 0;
};
UdpCounters ReadUdpCounters() {
  UdpCounters c;
  FILE* f = std::fopen("/proc/net/snmp", "r");
  if (f == nullptr) return c;
  char head[1024], values[1024];
  while (std::fgets(head, sizeof head, f) != nullptr) {
    if (std::strncmp(head, "Udp:", 4) != 0) continue;
    if (std::fgets(values, sizeof values, f) == nullptr) break;
    // Names and values in the same order.
    std::vector<std::string> names;
    for (char* t = std::strtok(head + 4, " \n"); t != nullptr; t = std::strtok(nullptr, " \n")) {
      names.emplace_back(t);
    }
    size_t i = 0;
    for (char* t = std::strtok(values + 4, " \n"); t != nullptr && i < names.size();
         t = std::strtok(nullptr, " \n"), ++i) {
      const unsigned long long v = std::strtoull(t, nullptr, 10);
      if (names[i] == "InErrors") c.in_errors = v;
      if (names[i] == "RcvbufErrors") c.rcvbuf_errors = v;
      if (names[i] == "InDatagrams") c.in_datagrams = v;
    }
    break;
  }
  std::fclose(f);
  return c;
}

// Our UDP sockets in /proc/net/udp: drops by socket inode, and the fullest
// receive queue (bytes the kernel charges, truesize, against the doubled
// SO_RCVBUF).
struct SocketQueues {
  std::map<unsigned long, unsigned long long> drops;
  unsigned long max_queue = 0;
};
SocketQueues ReadSocketQueues(const std::set<unsigned long>& inodes) {
  SocketQueues q;
  FILE* f = std::fopen("/proc/net/udp", "r");
  if (f == nullptr) return q;
  char line[512];
  if (std::fgets(line, sizeof line, f) == nullptr) line[0] = 0;  // header
  while (std::fgets(line, sizeof line, f) != nullptr) {
    unsigned long rx = 0, inode = 0;
    unsigned long long drops = 0;
    // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops
    if (std::sscanf(line, " %*s %*s %*s %*s %*x:%lx %*s %*s %*u %*u %lu %*u %*s %llu", &rx, &inode,
                    &drops) != 3) {
      continue;
    }
    if (inodes.count(inode) == 0) continue;
    q.drops[inode] = drops;
    q.max_queue = std::max(q.max_queue, rx);
  }
  std::fclose(f);
  return q;
}

// Drops from `before` to `after`; a socket opened in between (a channel that
// started a new session) counts from zero, one closed in between is missed.
unsigned long long DropsBetween(const SocketQueues& before, const SocketQueues& after) {
  unsigned long long sum = 0;
  for (const auto& [inode, drops] : after.drops) {
    const auto it = before.drops.find(inode);
    sum += drops - (it != before.drops.end() ? it->second : 0);
  }
  return sum;
}

struct Memory {
  long rss_kib = 0, anon_kib = 0;
  size_t heap_bytes = 0;  // malloc's bytes in use
};
Memory ReadMemory() {
  Memory m;
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
      std::sscanf(line, "VmRSS: %ld", &m.rss_kib);
      std::sscanf(line, "RssAnon: %ld", &m.anon_kib);
    }
    std::fclose(f);
  }
  const struct mallinfo2 mi = ::mallinfo2();
  m.heap_bytes = mi.uordblks + mi.hblkhd;
  return m;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s CAMSIM N [seconds] [rcvbuf-bytes]\n", argv[0]);
    return 2;
  }
  const size_t n = std::strtoul(argv[2], nullptr, 10);
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 30;
  const int rcvbuf_override = argc > 4 ? std::atoi(argv[4]) : 0;
  if (n == 0 || seconds <= 0) return 2;
  ::signal(SIGPIPE, SIG_IGN);

  // Each channel holds about five descriptors; the soft limit goes up to the
  // hard one so that it is not what stops a large N.
  rlimit nofile{};
  ::getrlimit(RLIMIT_NOFILE, &nofile);
  const rlim_t soft_before = nofile.rlim_cur;
  nofile.rlim_cur = nofile.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &nofile);

  Child sim = Spawn(
      {argv[1], "--model", "IQ031", "--cameras", std::to_string(n), "--auth", "none", "--quiet"});
  std::vector<std::pair<unsigned, unsigned>> ports;
  for (size_t i = 0; i < n; ++i) {
    unsigned http = 0, rtsp = 0;
    if (sim.out == nullptr || std::fscanf(sim.out, " http=%u rtsp=%u", &http, &rtsp) != 2) {
      std::fprintf(stderr, "camsim did not start\n");
      return 1;
    }
    ports.emplace_back(http, rtsp);
  }

  CountingAllocator allocator;
  std::vector<std::unique_ptr<Input>> inputs;
  for (size_t i = 0; i < n; ++i) {
    auto in = std::make_unique<Input>();
    in->driver.device.address = "127.0.0.1";
    in->driver.device.port = static_cast<uint16_t>(ports[i].first);
    in->driver.device.receive_timeout_ms = 20000;
    in->driver.allocator = &allocator;
    in->driver.SetParameter(2, std::to_string(ports[i].second));
    in->driver.SetParameter(3, "2");
    Input* raw = in.get();
    in->receiver.SetObserver([raw](const korvela::recorder::ReceivedFrame& frame) {
      if (raw->first_frame_ns.load(std::memory_order_relaxed) == 0) raw->first_frame_ns = NowNs();
      if (frame.data.size() > raw->largest_frame.load(std::memory_order_relaxed)) {
        raw->largest_frame = frame.data.size();
      }
    });
    inputs.push_back(std::move(in));
  }
  const Memory mem_before = ReadMemory();
  const Descriptors fds_before = ListDescriptors();
  const size_t threads_before = CountEntries("/proc/self/task");

  // All at once, as a recorder starts its inputs.
  size_t refused_start = 0;
  const Clock::time_point started = Clock::now();
  const int64_t started_ns = NowNs();
  for (size_t i = 0; i < n; ++i) {
    inputs[i]->channel = std::make_unique<korvela::CH264ChannelRTSP>(
        &inputs[i]->driver, 0, &inputs[i]->receiver, korvela::MakeSenderStreamLink,
        korvela::platform::SystemClock());
    if (!inputs[i]->channel->Start({25, 50, 1280, 720})) ++refused_start;
  }
  const double start_calls_s = Since(started);
  size_t without_frame = 0;
  const Clock::time_point deadline = started + std::chrono::seconds(60);
  std::set<std::string> failures;
  for (const auto& in : inputs) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (in->receiver.WaitForFrames(1, std::max(left, std::chrono::milliseconds(0)))) continue;
    ++without_frame;
    for (const auto& line : in->driver.log.Lines()) failures.insert(line.text);
  }
  if (without_frame > 0) {
    std::fprintf(stderr,
                 "%zu of %zu channels delivered no frame within 60 s (%zu refused to start); "
                 "their log lines:\n",
                 without_frame, n, refused_start);
    for (const auto& line : failures) std::fprintf(stderr, "  %s\n", line.c_str());
  }
  std::vector<double> firsts;
  for (const auto& in : inputs) {
    if (in->first_frame_ns > 0) firsts.push_back(double(in->first_frame_ns - started_ns) / 1e9);
  }

  Descriptors fds = ListDescriptors();
  std::map<std::string, int> thread_counts;
  for (const auto& [kind, use] : ThreadUses(/*by_kind=*/true)) thread_counts[kind] = use.threads;
  const size_t threads_now = CountEntries("/proc/self/task");
  if (rcvbuf_override > 0) {
    for (int fd : fds.udp_fds) {
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf_override, sizeof rcvbuf_override);
    }
    fds = ListDescriptors();
  }

  // A short settling time, then the window.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  std::atomic<bool> sampling{true};
  std::atomic<unsigned long> max_queue{0};
  std::atomic<double> sampler_cpu{0};
  const std::set<unsigned long> inodes = fds.udp_inodes;
  // Samples the receive queues; with a buffer size to try, also gives it to
  // sockets of sessions started during the window.
  std::thread sampler([&] {
    std::set<unsigned long> current = inodes;
    while (sampling.load()) {
      if (rcvbuf_override > 0) {
        const Descriptors now = ListDescriptors();
        for (int fd : now.udp_fds) {
          ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf_override, sizeof rcvbuf_override);
        }
        current = now.udp_inodes;
      }
      const SocketQueues q = ReadSocketQueues(current);
      if (q.max_queue > max_queue.load()) max_queue = q.max_queue;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    sampler_cpu = ThisThreadCpuSeconds();
  });

  // Sent and delivered frames are read while the simulator holds its media
  // (nothing in flight), at the window's start and end. The pump publishes
  // its counters after each round: they are read once the round in
  // progress is over.
  const auto hold_media = [&sim] {
    std::fputs("fault stop-media\n", sim.in);
    std::fflush(sim.in);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  };
  SimStats sent0, sent1;
  hold_media();
  ReadSimStats(sim, "stats\n", &sent0);
  size_t delivered0 = 0;
  std::vector<korvela::RtpParserCounters> parser0;
  for (const auto& in : inputs) {
    delivered0 += in->receiver.frame_count();
    parser0.push_back(in->channel->parser_counters());
  }
  std::fputs("clear\n", sim.in);
  std::fflush(sim.in);
  const double cpu0 = SelfCpuSeconds();
  const double sim_cpu0 = ProcessCpuSeconds(sim.pid);
  const auto kinds0 = ThreadUses(/*by_kind=*/true);
  const UdpCounters udp0 = ReadUdpCounters();
  const SocketQueues queues0 = ReadSocketQueues(inodes);
  double load0[3] = {};
  ::getloadavg(load0, 3);
  const Clock::time_point window = Clock::now();

  std::this_thread::sleep_for(std::chrono::seconds(seconds));

  const double wall = Since(window);
  sampling = false;
  sampler.join();
  const double cpu = SelfCpuSeconds() - cpu0 - sampler_cpu.load();
  const double sim_cpu = ProcessCpuSeconds(sim.pid) - sim_cpu0;
  const auto kinds1 = ThreadUses(/*by_kind=*/true);
  const UdpCounters udp1 = ReadUdpCounters();
  const Descriptors fds_end = ListDescriptors();
  const SocketQueues queues1 = ReadSocketQueues(fds_end.udp_inodes);
  size_t sockets_replaced = 0;
  for (unsigned long inode : inodes) sockets_replaced += fds_end.udp_inodes.count(inode) == 0;
  const Memory mem_after = ReadMemory();
  const int64_t frames_held = allocator.held();
  double load1[3] = {};
  ::getloadavg(load1, 3);
  hold_media();
  ReadSimStats(sim, "stats\n", &sent1);
  size_t delivered = 0;
  uint64_t gaps = 0, duplicates = 0, withheld = 0, withheld_all = 0, packets = 0, max_gaps = 0;
  size_t gap_channels = 0, largest_frame_sum = 0;
  std::vector<double> per_channel;
  for (size_t i = 0; i < n; ++i) {
    const size_t d = inputs[i]->receiver.frame_count();
    delivered += d;
    const korvela::RtpParserCounters c = inputs[i]->channel->parser_counters();
    const uint64_t g = c.gaps - parser0[i].gaps;
    gaps += g;
    max_gaps = std::max(max_gaps, g);
    gap_channels += g > 0 ? 1 : 0;
    duplicates += c.duplicates - parser0[i].duplicates;
    withheld += c.withheld - parser0[i].withheld;
    withheld_all += c.withheld;
    packets += c.packets - parser0[i].packets;
    largest_frame_sum += inputs[i]->largest_frame.load();
  }
  const size_t delivered_all = delivered;
  delivered -= delivered0;
  const unsigned long long sent = sent1.video_units - sent0.video_units;
  const unsigned long long sent_packets = sent1.rtp_packets - sent0.rtp_packets;

  const Clock::time_point stopping = Clock::now();
  for (auto& in : inputs) in->channel->Stop();
  const double stop_s = Since(stopping);
  inputs.clear();
  ::kill(sim.pid, SIGTERM);
  ::waitpid(sim.pid, nullptr, 0);

  const double dn = double(n);
  const double rss_per_ch_kib = double(mem_after.rss_kib - mem_before.rss_kib) / dn;
  const double anon_per_ch_kib = double(mem_after.anon_kib - mem_before.anon_kib) / dn;
  const double heap_per_ch_kib =
      (double(mem_after.heap_bytes) - double(mem_before.heap_bytes)) / dn / 1024;
  // Frame buffers: the records on loan from the allocator, and the
  // depacketiser's own buffer (it keeps its capacity, at least the largest
  // frame it assembled).
  const double frame_bufs_per_ch_kib =
      (double(frames_held) + double(largest_frame_sum)) / dn / 1024;
  const double cpu_pct = 100 * cpu / wall;
  const double sim_pct = 100 * sim_cpu / wall;

  std::printf("N=%zu channels, %d s window (%.1f s), load average %.2f -> %.2f\n", n, seconds, wall,
              load0[0], load1[0]);
  std::printf(
      "start: %.3f s to start all; first frames after %.2f s (min) / %.2f (median) / %.2f "
      "(max); %zu without a frame\n",
      start_calls_s, firsts.empty() ? 0 : *std::min_element(firsts.begin(), firsts.end()),
      Median(firsts), firsts.empty() ? 0 : *std::max_element(firsts.begin(), firsts.end()),
      without_frame);
  std::printf(
      "frames: sent %llu, delivered %zu (%.4f %%); RTP packets sent %llu, taken by the "
      "depacketisers %llu\n",
      sent, delivered, sent > 0 ? 100.0 * double(delivered) / double(sent) : 0.0, sent_packets,
      static_cast<unsigned long long>(packets));
  // From the first session on: frames lost at start-up show here.
  std::printf("whole run: sent %llu, delivered %zu, withheld before the first key frame %llu\n",
              sent1.video_units, delivered_all, static_cast<unsigned long long>(withheld_all));
  std::printf(
      "sequence gaps %llu (channels with gaps %zu, most in one %llu), duplicates %llu, "
      "withheld %llu\n",
      static_cast<unsigned long long>(gaps), gap_channels,
      static_cast<unsigned long long>(max_gaps), static_cast<unsigned long long>(duplicates),
      static_cast<unsigned long long>(withheld));
  std::printf(
      "kernel UDP: RcvbufErrors +%llu, InErrors +%llu (whole machine); drops on our %zu "
      "sockets +%llu (%zu sockets replaced in the window); fullest receive queue %lu bytes of "
      "%d (SO_RCVBUF as granted, asked %d)\n",
      udp1.rcvbuf_errors - udp0.rcvbuf_errors, udp1.in_errors - udp0.in_errors, inodes.size(),
      DropsBetween(queues0, queues1), sockets_replaced, max_queue.load(), fds.rcvbuf_max,
      rcvbuf_override > 0 ? rcvbuf_override : korvela::platform::UdpSocket::kReceiveBufferBytes);
  std::printf(
      "CPU: this process %.1f %% of one core (%.1f us per delivered frame), simulator "
      "%.1f %%\n",
      cpu_pct, delivered > 0 ? cpu / double(delivered) * 1e6 : 0.0, sim_pct);
  for (const auto& [kind, now] : kinds1) {
    const auto before = kinds0.find(kind);
    const double used =
        now.cpu_seconds - (before != kinds0.end() ? before->second.cpu_seconds : 0.0);
    std::printf("  threads \"%s\" x%d: %.1f %%\n", kind.c_str(), thread_counts[kind],
                100 * used / wall);
  }
  std::printf(
      "memory: RSS %ld -> %ld KiB (%.0f KiB per channel; anonymous %.0f), heap in use "
      "%.0f KiB per channel, of which frame buffers %.0f KiB (records on loan %lld "
      "bytes in all, peak %lld; depacketiser buffers >= largest frame)\n",
      mem_before.rss_kib, mem_after.rss_kib, rss_per_ch_kib, anon_per_ch_kib, heap_per_ch_kib,
      frame_bufs_per_ch_kib, static_cast<long long>(frames_held),
      static_cast<long long>(allocator.peak()));
  std::printf(
      "per channel: %.2f threads, %.2f descriptors (%.2f sockets, %zu of them UDP in all; %.2f "
      "eventfds); RLIMIT_NOFILE %llu (soft before: %llu)\n",
      double(threads_now - threads_before) / dn, double(fds.total - fds_before.total) / dn,
      double(fds.sockets - fds_before.sockets) / dn, fds.udp_fds.size(),
      double(fds.events - fds_before.events) / dn, static_cast<unsigned long long>(nofile.rlim_cur),
      static_cast<unsigned long long>(soft_before));
  std::printf("stop: %.2f s for all channels\n", stop_s);
  std::printf(
      "result: n=%zu sent=%llu delivered=%zu sent_all=%llu delivered_all=%zu cpu_pct=%.1f "
      "sim_pct=%.1f rss_kib_per_ch=%.0f "
      "heap_kib_per_ch=%.0f frame_kib_per_ch=%.0f threads_per_ch=%.2f fds_per_ch=%.2f "
      "rcvbuf_errors=%llu in_errors=%llu socket_drops=%llu gaps=%llu gap_channels=%zu "
      "max_queue=%lu rcvbuf=%d load=%.2f\n",
      n, sent, delivered, sent1.video_units, delivered_all, cpu_pct, sim_pct, rss_per_ch_kib,
      heap_per_ch_kib, frame_bufs_per_ch_kib, double(threads_now - threads_before) / dn,
      double(fds.total - fds_before.total) / dn, udp1.rcvbuf_errors - udp0.rcvbuf_errors,
      udp1.in_errors - udp0.in_errors, DropsBetween(queues0, queues1),
      static_cast<unsigned long long>(gaps), gap_channels, max_queue.load(), fds.rcvbuf_max,
      load1[0]);
  return without_frame == 0 ? 0 : 1;
}
