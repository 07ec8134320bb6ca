// camsim: runs simulated cameras until interrupted (`camsim --help` lists the
// options).
//
// Prints "http=<port> rtsp=<port>" for every camera once it listens. While
// running, lines on stdin switch faults on every camera: "fault <F>",
// "clear"; "stats" prints counters. On exit it prints counters and the CPU
// time used to stderr.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "camsim.h"
#include "util/mutex.h"

namespace {

struct MainOptions {
  camsim::SimulatorOptions simulator;
  std::vector<camsim::Fault> faults;
  double seconds = 0;  // 0: until interrupted
  bool quiet = false;
};

// Declares the options; faults and the authentication mode are checked as
// they are parsed.
void AddOptions(CLI::App& app, MainOptions& o) {
  std::string models;
  for (const auto& m : camsim::ListModels()) models += (models.empty() ? "" : ", ") + m;
  app.add_option("--model", o.simulator.camera.model, "model: " + models)->capture_default_str();
  app.add_option("--http-port", o.simulator.camera.http_port, "HTTP port of camera 0 (0: free)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--rtsp-port", o.simulator.camera.rtsp_port, "RTSP port of camera 0 (0: free)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--auth", "none, basic or digest (default digest)")
      ->check(CLI::IsMember({"none", "basic", "digest"}))
      ->each([&o](const std::string& text) {
        o.simulator.camera.auth = *camsim::ParseAuthMode(text);
      });
  app.add_option("--user", o.simulator.camera.user, "user name")->capture_default_str();
  app.add_option("--password", o.simulator.camera.password, "password")->capture_default_str();
  app.add_option("--cameras", o.simulator.cameras, "cameras on consecutive ports")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  app.add_option("--fault",
                 "fault on every camera: stop-media drop=N reorder restart=MS "
                 "unauthorized status=N slow=MS garble alt-source talkback-end=N (repeatable)")
      ->type_name("F")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(CLI::Validator(
          [](const std::string& text) {
            std::string error;
            return camsim::ParseFault(text, &error) ? std::string() : error;
          },
          "", "fault"))
      ->each([&o](const std::string& text) {
        std::string error;
        if (auto fault = camsim::ParseFault(text, &error)) o.faults.push_back(*fault);
      });
  app.add_option("--bind", o.simulator.camera.bind_address, "local address to listen on")
      ->capture_default_str();
  app.add_option("--testdata", o.simulator.camera.testdata_dir,
                 "folder with the sample media (default: the source tree's)");
  app.add_option("--seconds", o.seconds, "run this long (default: until interrupted)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--quiet", o.quiet, "no log lines on stderr");
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
  CLI::App app{
      "camsim: runs simulated cameras until interrupted. Prints \"http=<port> rtsp=<port>\" "
      "for every camera once it listens; lines on stdin switch faults on every camera "
      "(\"fault <F>\", \"clear\"), \"stats\" prints counters.",
      "camsim"};
  MainOptions o;
  AddOptions(app, o);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);  // the message on stderr
    return 2;
  }
  camsim::SimulatorOptions& options = o.simulator;
  const double seconds = o.seconds;
  static korvela::Mutex log_mu;
  if (!o.quiet) {
    options.log = [](std::string_view line) {
      korvela::MutexLock lock(log_mu);
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
    for (const auto& f : o.faults) sim->camera(i).InjectFault(f);
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
