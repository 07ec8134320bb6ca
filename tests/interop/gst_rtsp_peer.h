// The GStreamer RTSP server of gst_rtsp_server.py as a child process on a free
// loopback port, with the event lines it prints (READY, REQUEST, RTCP, BYE).
// Used by the RTSP interop test and the session set-up benchmark.
//
// Threading: the owner's thread calls every method; one reader thread
// collects the child's output, guarded by mu_.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvela::testing {

class GstRtspPeer {
 public:
  // Debian's interpreter: the GStreamer bindings exist only for it.
  static constexpr char kPython[] = "/usr/bin/python3";

  ~GstRtspPeer() { Stop(); }

  // Starts the server with `auth` ("none", "basic", "digest"); `shared`: one
  // media for all sessions. False with error() set when it does not report
  // READY within 20 s.
  bool Start(const std::string& auth, const std::string& user = "user",
             const std::string& password = "pw", bool shared = false) {
    port_ = FreePort();
    int out[2];
    if (::pipe(out) != 0) return Fail("pipe failed");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(out[1], 2);
      ::close(out[0]);
      const std::string port = std::to_string(port_);
      ::execl(kPython, kPython, KORVELA_GST_SERVER_SCRIPT, "--port", port.c_str(), "--auth",
              auth.c_str(), "--user", user.c_str(), "--password", password.c_str(),
              shared ? "--shared" : static_cast<char*>(nullptr), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    if (pid_ < 0) return Fail("fork failed");
    fd_ = out[0];
    reader_ = std::thread([this] { Read(); });
    if (!WaitForLine("READY", 20000)) {
      return Fail("GStreamer RTSP server did not start (needs " + std::string(kPython) +
                  " with python3-gi and gir1.2-gst-rtsp-server-1.0); it said: " + Output());
    }
    return true;
  }

  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  uint16_t port() const { return port_; }
  const std::string& error() const { return error_; }

  // Waits until a line starting with `prefix` has been printed.
  bool WaitForLine(const std::string& prefix, uint32_t timeout_ms) {
    std::unique_lock lock(mu_);
    const auto found = [&] {
      for (const auto& line : lines_) {
        if (line.rfind(prefix, 0) == 0) return true;
      }
      return false;
    };
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return found() || eof_; });
    return found();
  }
  std::string Output() const {
    std::lock_guard lock(mu_);
    std::string all;
    for (const auto& line : lines_) all += line + "\n";
    return all;
  }

 private:
  static uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
  }
  bool Fail(const std::string& why) {
    error_ = why;
    return false;
  }
  void Read() {
    std::string partial;
    char buf[512];
    for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;) {
      partial.append(buf, static_cast<size_t>(n));
      for (size_t nl; (nl = partial.find('\n')) != std::string::npos; partial.erase(0, nl + 1)) {
        std::lock_guard lock(mu_);
        lines_.push_back(partial.substr(0, nl));
        changed_.notify_all();
      }
    }
    std::lock_guard lock(mu_);
    eof_ = true;
    changed_.notify_all();
  }

  uint16_t port_ = 0;
  pid_t pid_ = -1;
  int fd_ = -1;
  std::thread reader_;
  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool eof_ = false;  // the child closed its output (it ended)
  std::string error_;
};

}  // namespace korvela::testing
