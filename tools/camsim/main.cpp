// camsim: runs simulated cameras until interrupted.
//
//   camsim [--model M] [--http-port P] [--rtsp-port P] [--auth none|basic|digest]
//          [--user U] [--password W] [--cameras N] [--fault F]... [--bind ADDR]
//          [--testdata DIR] [--seconds S] [--quiet]
//
// Prints "http=<port> rtsp=<port>" for every camera once it listens. While
// running, lines on stdin switch faults on every camera: "fault <F>",
// "clear"; "stats" prints counters. On exit it prints counters and the CPU
// time used to stderr.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "camsim.h"

namespace {

void Usage() {
  std::fprintf(
      stderr,
      "usage: camsim [--model M] [--http-port P] [--rtsp-port P] [--auth none|basic|digest]\n"
      "              [--user U] [--password W] [--cameras N] [--fault F]... [--bind ADDR]\n"
      "              [--testdata DIR] [--seconds S] [--quiet]\n"
      "models: ");
  for (const auto& m : camsim::ListModels()) std::fprintf(stderr, "%s ", m.c_str());
  std::fprintf(
      stderr,
      "\nfaults: stop-media drop=N reorder restart=MS unauthorized status=N slow=MS garble "
      "alt-source talkback-end=N\n");
}

bool ParsePort(const char* text, uint16_t* out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || v < 0 || v > 65535) return false;
  *out = uint16_t(v);
  return true;
}

void PrintStats(camsim::Simulator& sim) {
  camsim::MediaCounters total;
  for (size_t i = 0; i < sim.camera_count(); ++i) {
    const auto c = sim.camera(i).counters();
    total.rtp_packets_sent += c.rtp_packets_sent;
    total.rtp_packets_dropped += c.rtp_packets_dropped;
    total.rtcp_sender_reports += c.rtcp_sender_reports;
    total.jpeg_frames_sent += c.jpeg_frames_sent;
    total.video_access_units_sent += c.video_access_units_sent;
    total.audio_packets_sent += c.audio_packets_sent;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::fprintf(
      stderr,
      "stats: rtp_packets=%llu dropped=%llu sender_reports=%llu video_units=%llu "
      "audio_packets=%llu jpeg_frames=%llu cpu_user_s=%.2f cpu_sys_s=%.2f\n",
      (unsigned long long)total.rtp_packets_sent, (unsigned long long)total.rtp_packets_dropped,
      (unsigned long long)total.rtcp_sender_reports,
      (unsigned long long)total.video_access_units_sent,
      (unsigned long long)total.audio_packets_sent, (unsigned long long)total.jpeg_frames_sent,
      double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6,
      double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  camsim::SimulatorOptions options;
  std::vector<camsim::Fault> faults;
  bool quiet = false;
  double seconds = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "camsim: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--model") {
      options.camera.model = value();
    } else if (arg == "--http-port") {
      if (!ParsePort(value(), &options.camera.http_port)) return Usage(), 2;
    } else if (arg == "--rtsp-port") {
      if (!ParsePort(value(), &options.camera.rtsp_port)) return Usage(), 2;
    } else if (arg == "--auth") {
      const auto mode = camsim::ParseAuthMode(value());
      if (!mode) return Usage(), 2;
      options.camera.auth = *mode;
    } else if (arg == "--user") {
      options.camera.user = value();
    } else if (arg == "--password") {
      options.camera.password = value();
    } else if (arg == "--cameras") {
      options.cameras = std::atoi(value());
    } else if (arg == "--bind") {
      options.camera.bind_address = value();
    } else if (arg == "--testdata") {
      options.camera.testdata_dir = value();
    } else if (arg == "--seconds") {
      seconds = std::atof(value());
    } else if (arg == "--fault") {
      std::string error;
      const auto fault = camsim::ParseFault(value(), &error);
      if (!fault) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 2;
      }
      faults.push_back(*fault);
    } else if (arg == "--quiet") {
      quiet = true;
    } else {
      Usage();
      return arg == "--help" || arg == "-h" ? 0 : 2;
    }
  }
  static std::mutex log_mu;
  if (!quiet) {
    options.log = [](std::string_view line) {
      std::lock_guard lock(log_mu);
      std::fprintf(stderr, "camsim: %.*s\n", int(line.size()), line.data());
    };
  }

  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  sigprocmask(SIG_BLOCK, &mask, nullptr);  // before any thread starts: all inherit it
  const int sfd = signalfd(-1, &mask, SFD_CLOEXEC);

  std::string error;
  auto sim = camsim::Simulator::Start(options, &error);
  if (!sim) {
    std::fprintf(stderr, "camsim: %s\n", error.c_str());
    return 1;
  }
  for (size_t i = 0; i < sim->camera_count(); ++i) {
    for (const auto& f : faults) sim->camera(i).InjectFault(f);
    std::printf("http=%u rtsp=%u\n", sim->camera(i).http_port(), sim->camera(i).rtsp_port());
  }
  std::fflush(stdout);

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(seconds * 1000));
  bool stdin_open = true;
  std::string pending;
  while (true) {
    int timeout = -1;
    if (seconds > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      timeout = int(left.count());
    }
    pollfd fds[2] = {{sfd, POLLIN, 0}, {stdin_open ? 0 : -1, POLLIN, 0}};
    if (::poll(fds, 2, timeout) < 0) continue;
    if (fds[0].revents & POLLIN) break;
    if (fds[1].revents & (POLLIN | POLLHUP)) {
      char buf[512];
      const ssize_t n = ::read(0, buf, sizeof(buf));
      if (n <= 0) {
        stdin_open = false;
        continue;
      }
      pending.append(buf, size_t(n));
      if (pending.size() > 4096) pending.clear();  // not a command stream
      size_t nl;
      while ((nl = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        if (line.starts_with("fault ")) {
          const auto fault = camsim::ParseFault(line.substr(6), &error);
          if (!fault) {
            std::fprintf(stderr, "camsim: %s\n", error.c_str());
            continue;
          }
          for (size_t i = 0; i < sim->camera_count(); ++i) sim->camera(i).InjectFault(*fault);
        } else if (line == "clear") {
          for (size_t i = 0; i < sim->camera_count(); ++i) sim->camera(i).ClearFaults();
        } else if (line == "stats") {
          PrintStats(*sim);
        }
      }
    }
  }
  PrintStats(*sim);
  sim.reset();
  return 0;
}
