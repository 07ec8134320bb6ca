// Device HTTP client on loopback: one OID read per iteration over a kept-alive
// connection (GetOidRD: request, status, body, unwrapping), and ReadAll
// throughput on a large Content-Length body. The peer is a minimal keep-alive
// HTTP server on plain POSIX sockets that answers every request head at once.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "device/http_sender.h"
#include "device/oid_request.h"

namespace {

using korvela::DEVICE_INFO;
namespace Web = korvela::Web;
namespace HUtils = korvela::HUtils;

constexpr size_t kBigBodyBytes = 64u * 1024 * 1024;
constexpr char kOidReply[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 32\r\n\r\n"
    "<html><xmp>IQ765-00</xmp></html>";

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Answers "/big" with kBigBodyBytes and every other request with an OID reply;
// serves one connection at a time until stopped.
class LoopbackDevice {
 public:
  LoopbackDevice()
      : big_head_("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kBigBodyBytes) +
                  "\r\n\r\n"),
        big_body_(kBigBodyBytes, 'x') {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listen_fd_, 4);
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackDevice() {
    stop_ = true;
    ::shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    ::close(listen_fd_);
  }
  uint16_t port() const { return port_; }

 private:
  bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    while (!stop_) {
      if (::poll(&p, 1, 100) > 0) return true;
    }
    return false;
  }

  void Serve() {
    while (!stop_ && Readable(listen_fd_)) {
      const int fd = ::accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) continue;
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::string pending;
      char buf[4096];
      while (Readable(fd)) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
        size_t end;
        bool ok = true;
        while (ok && (end = pending.find("\r\n\r\n")) != std::string::npos) {
          const bool big = pending.compare(0, 9, "GET /big ") == 0;
          pending.erase(0, end + 4);
          ok = big ? SendAll(fd, big_head_.data(), big_head_.size()) &&
                         SendAll(fd, big_body_.data(), big_body_.size())
                   : SendAll(fd, kOidReply, sizeof kOidReply - 1);
        }
        if (!ok) break;
      }
      ::close(fd);
    }
  }

  const std::string big_head_;
  const std::string big_body_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

DEVICE_INFO Device(uint16_t port) {
  DEVICE_INFO device;
  device.address = "127.0.0.1";
  device.port = port;
  return device;
}

void BM_OidRoundTrip(benchmark::State& state) {
  LoopbackDevice device;
  Web::CHttpSender sender(Device(device.port()));
  std::string value;
  for (auto _ : state) {
    const Web::CResultDef result = HUtils::GetOidRD(sender, "1.2.7", value);
    if (result.code != 0 || value != "IQ765-00") {
      state.SkipWithError("OID read failed");
      break;
    }
  }
  state.counters["connections"] = sender.GetConnectCount();
}
BENCHMARK(BM_OidRoundTrip)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ReadAllThroughput(benchmark::State& state) {
  LoopbackDevice device;
  Web::CHttpSender sender(Device(device.port()));
  std::vector<uint8_t> body;
  for (auto _ : state) {
    if (!sender.SendRequest(Web::HttpRequest("GET", "/big")) ||
        sender.ReadAll(body) != kBigBodyBytes) {
      state.SkipWithError("body not read whole");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(kBigBodyBytes));
  state.counters["connections"] = sender.GetConnectCount();
}
BENCHMARK(BM_ReadAllThroughput)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
