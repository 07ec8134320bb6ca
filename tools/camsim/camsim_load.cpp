// camsim_load: a minimal RTSP/RTP client for load runs against camsim
// (`camsim_load --help` lists the options).
//
// With --http-port: one Motion-JPEG push per camera, counting pictures.
// Otherwise: one H.264 session per camera (ports P, P+1, ...; no authentication),
// receives RTP on one poll loop for S seconds, answers nothing (the server's
// session stays alive on the RTSP keep-alive sent every 20 s), then tears the
// sessions down and prints packets, bytes, sequence gaps and Mbit/s.
// Threading: single-threaded.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net.h"

namespace {

using camsim::UniqueFd;

struct Session {
  UniqueFd tcp;
  UniqueFd rtp;
  UniqueFd rtcp;
  std::string url;
  std::string id;
  int cseq = 1;
  uint64_t packets = 0;
  uint64_t bytes = 0;
  uint64_t gaps = 0;
  int last_seq = -1;
};

// Sends one request and returns the reply head (bodies are read and dropped).
std::string Transact(Session& s, const std::string& method, const std::string& url,
                     const std::string& extra) {
  const std::string req = method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(s.cseq++) +
                          "\r\n" + extra + (s.id.empty() ? "" : "Session: " + s.id + "\r\n") +
                          "\r\n";
  if (!camsim::SendAll(s.tcp.get(), req)) return {};
  std::string reply;
  char buf[4096];
  while (reply.find("\r\n\r\n") == std::string::npos) {
    if (camsim::WaitReadable(s.tcp.get(), 5000) <= 0) return {};
    const ssize_t n = ::recv(s.tcp.get(), buf, sizeof(buf), 0);
    if (n <= 0) return {};
    reply.append(buf, size_t(n));
  }
  const size_t cl = reply.find("Content-Length: ");
  if (cl != std::string::npos) {
    const size_t want = reply.find("\r\n\r\n") + 4 + size_t(std::atoi(reply.c_str() + cl + 16));
    while (reply.size() < want && camsim::WaitReadable(s.tcp.get(), 5000) > 0) {
      const ssize_t n = ::recv(s.tcp.get(), buf, sizeof(buf), 0);
      if (n <= 0) break;
      reply.append(buf, size_t(n));
    }
  }
  return reply;
}

bool Open(Session& s, const std::string& host, uint16_t port, const std::string& path) {
  s.tcp.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr;
  camsim::MakeAddress(host, port, &addr);
  if (::connect(s.tcp.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) return false;
  s.url = "rtsp://" + host + ":" + std::to_string(port) + "/" + path;
  if (Transact(s, "DESCRIBE", s.url, "Accept: application/sdp\r\n").find(" 200 ") ==
      std::string::npos)
    return false;
  for (int attempt = 0; attempt < 16 && !s.rtcp.valid(); ++attempt) {
    s.rtp = camsim::OpenUdp(host, 0, nullptr);
    const uint16_t p = camsim::LocalPort(s.rtp.get());
    if (p % 2) continue;
    s.rtcp = camsim::OpenUdp(host, uint16_t(p + 1), nullptr);
  }
  if (!s.rtcp.valid()) return false;
  const int big = 1 << 20;
  ::setsockopt(s.rtp.get(), SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
  const uint16_t p = camsim::LocalPort(s.rtp.get());
  const std::string setup = Transact(s, "SETUP", s.url + "/trackID=1",
                                     "Transport: RTP/AVP;unicast;client_port=" + std::to_string(p) +
                                         "-" + std::to_string(p + 1) + "\r\n");
  const size_t at = setup.find("Session: ");
  if (at == std::string::npos) return false;
  s.id = setup.substr(at + 9, setup.find_first_of(";\r", at + 9) - at - 9);
  return Transact(s, "PLAY", s.url, "Range: npt=0.000-\r\n").find(" 200 ") != std::string::npos;
}

// Reads N pushes for the given time; counts bytes and multipart boundaries.
int RunPushes(const std::string& host, uint16_t port, int cameras, double seconds,
              const std::string& path) {
  std::vector<UniqueFd> conns;
  std::vector<pollfd> fds;
  for (int i = 0; i < cameras; ++i) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr;
    camsim::MakeAddress(host, uint16_t(port + i), &addr);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        !camsim::SendAll(fd.get(), "GET /" + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n")) {
      std::fprintf(stderr, "camsim_load: camera %d: push failed\n", i);
      return 1;
    }
    fds.push_back({fd.get(), POLLIN, 0});
    conns.push_back(std::move(fd));
  }
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::milliseconds(int64_t(seconds * 1000));
  uint64_t bytes = 0, pictures = 0;
  std::vector<std::string> tails(conns.size());  // boundary text split across reads
  static char buf[1 << 16];
  while (std::chrono::steady_clock::now() < end) {
    if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      const ssize_t n = ::recv(fds[i].fd, buf, sizeof(buf), MSG_DONTWAIT);
      if (n <= 0) continue;
      bytes += uint64_t(n);
      std::string text = tails[i] + std::string(buf, size_t(n));
      for (size_t p = text.find("Content-Type: image/jpeg"); p != std::string::npos;
           p = text.find("Content-Type: image/jpeg", p + 1)) {
        ++pictures;
      }
      tails[i] = text.size() > 32 ? text.substr(text.size() - 23) : text;
    }
  }
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("pushes=%d seconds=%.1f pictures=%llu pictures_per_push_s=%.1f total_mbit_s=%.1f\n",
              cameras, elapsed, (unsigned long long)pictures, double(pictures) / elapsed / cameras,
              double(bytes) * 8 / elapsed / 1e6);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"camsim_load: RTSP/RTP or Motion-JPEG load against camsim", "camsim_load"};
  std::string host = "127.0.0.1";
  std::string path;
  uint16_t port = 0;
  uint16_t http_port = 0;
  int cameras = 1;
  double seconds = 10;
  auto* rtsp =
      app.add_option("--rtsp-port", port, "RTSP port of camera 0")->check(CLI::Range(1, 65535));
  app.add_option("--http-port", http_port, "HTTP port of camera 0: Motion-JPEG pushes instead")
      ->check(CLI::Range(1, 65535))
      ->excludes(rtsp);
  app.add_option("--host", host, "camera address")->capture_default_str();
  app.add_option("--cameras", cameras, "cameras on consecutive ports")
      ->check(CLI::Range(1, 10000))
      ->capture_default_str();
  app.add_option("--seconds", seconds, "how long to receive")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--path", path, "now.mp4?mm=v, or now.jpg?snap=spush0.04 with --http-port");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  if (http_port != 0)
    return RunPushes(host, http_port, cameras, seconds,
                     path.empty() ? "now.jpg?snap=spush0.04" : path);
  if (port == 0) {
    std::fprintf(stderr, "camsim_load: give --rtsp-port or --http-port\n");
    return 2;
  }
  if (path.empty()) path = "now.mp4?mm=v";
  std::vector<Session> sessions(static_cast<size_t>(cameras));
  for (int i = 0; i < cameras; ++i) {
    if (!Open(sessions[size_t(i)], host, uint16_t(port + i), path)) {
      std::fprintf(stderr, "camsim_load: camera %d: session failed\n", i);
      return 1;
    }
  }
  std::vector<pollfd> fds;
  for (auto& s : sessions) fds.push_back({s.rtp.get(), POLLIN, 0});
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::milliseconds(int64_t(seconds * 1000));
  auto next_keepalive = start + std::chrono::seconds(20);
  char buf[2048];
  while (std::chrono::steady_clock::now() < end) {
    if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      Session& s = sessions[i];
      ssize_t n;
      while ((n = ::recv(s.rtp.get(), buf, sizeof(buf), MSG_DONTWAIT)) > 0) {
        ++s.packets;
        s.bytes += uint64_t(n);
        const int seq = (uint8_t(buf[2]) << 8) | uint8_t(buf[3]);
        if (s.last_seq >= 0 && seq != ((s.last_seq + 1) & 0xffff)) ++s.gaps;
        s.last_seq = seq;
      }
    }
    if (std::chrono::steady_clock::now() > next_keepalive) {
      for (auto& s : sessions) Transact(s, "GET_PARAMETER", s.url, "");
      next_keepalive += std::chrono::seconds(20);
    }
  }
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  uint64_t packets = 0, bytes = 0, gaps = 0;
  for (auto& s : sessions) {
    packets += s.packets;
    bytes += s.bytes;
    gaps += s.gaps;
    Transact(s, "TEARDOWN", s.url, "");
  }
  std::printf(
      "sessions=%d seconds=%.1f packets=%llu gaps=%llu total_mbit_s=%.1f per_session_mbit_s=%.2f\n",
      cameras, elapsed, (unsigned long long)packets, (unsigned long long)gaps,
      double(bytes) * 8 / elapsed / 1e6, double(bytes) * 8 / elapsed / 1e6 / cameras);
  return 0;
}
