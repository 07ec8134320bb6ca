// The GStreamer RTSP server of gst_rtsp_server.py as a child process on a free
// loopback port, with the event lines it prints (READY, REQUEST, RTCP, BYE).
// Used by the RTSP interop test and the session set-up benchmark.
//
// Threading: the owner's thread calls every method; one reader thread
// collects the child's output, guarded by mu_.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include <signal.h>

#include "platform/socket.h"

namespace korvela::testing {

// Runs `command` through the shell; its output and error output together
// (ffmpeg and ffprobe, beside the server).
inline std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  ::pclose(pipe);
  return out;
}

class GstRtspPeer {
 public:
  ~GstRtspPeer() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    if (reader_.joinable()) reader_.join();
    if (pipe_ != nullptr) ::pclose(pipe_);
  }

  // Starts the server with `auth` ("none", "basic", "digest"); `shared`: one
  // media for all sessions. False with error() set when it does not report
  // READY within 20 s. The interpreter is Debian's: only it has the bindings.
  // `options` go to the script as they are (e.g. "--session-timeout 5").
  bool Start(const std::string& auth, bool shared = false, const std::string& options = "") {
    platform::UdpSocket probe;  // a free port number (the server takes TCP)
    probe.Bind(0);
    port_ = probe.LocalPort();
    probe.Close();
    const std::string command = "exec /usr/bin/python3 " KORVELA_GST_SERVER_SCRIPT " --port " +
                                std::to_string(port_) + " --auth " + auth +
                                (shared ? " --shared" : "") + " " + options + " 2>&1";
    pipe_ = ::popen(command.c_str(), "r");
    if (pipe_ == nullptr) return false;
    reader_ = std::thread([this] {
      char line[1024];
      while (std::fgets(line, sizeof line, pipe_) != nullptr) {
        std::lock_guard lock(mu_);
        output_ += line;
        changed_.notify_all();
      }
      std::lock_guard lock(mu_);
      ended_ = true;
      changed_.notify_all();
    });
    const bool ready = WaitForLine("READY", 20000);
    const std::string out = Output();
    if (out.find("STARTING pid=") != std::string::npos)
      pid_ = std::stoi(out.substr(out.find("pid=") + 4));
    return ready;
  }

  uint16_t port() const { return port_; }
  std::string error() const {
    return "GStreamer RTSP server did not start (needs /usr/bin/python3 with python3-gi and "
           "gir1.2-gst-rtsp-server-1.0); it said: " +
           Output();
  }
  // Waits until a line starting with `prefix` has been printed.
  bool WaitForLine(const std::string& prefix, uint32_t timeout_ms) {
    std::unique_lock lock(mu_);
    const auto found = [&] { return ("\n" + output_).find("\n" + prefix) != std::string::npos; };
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [&] { return found() || ended_; });
    return found();
  }
  // Lines starting with `prefix`.
  size_t CountLines(const std::string& prefix) const {
    std::lock_guard lock(mu_);
    size_t n = 0;
    for (size_t at = 0; (at = ("\n" + output_).find("\n" + prefix, at)) != std::string::npos; ++at)
      ++n;
    return n;
  }
  std::string Output() const {
    std::lock_guard lock(mu_);
    return output_;
  }

 private:
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  FILE* pipe_ = nullptr;
  std::thread reader_;
  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::string output_;
  bool ended_ = false;  // the child closed its output (it ended)
};

}  // namespace korvela::testing
