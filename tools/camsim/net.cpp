#include "net.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace camsim {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool MakeAddress(const std::string& host, uint16_t port, sockaddr_in* out) {
  std::memset(out, 0, sizeof(*out));
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  return inet_pton(AF_INET, host.c_str(), &out->sin_addr) == 1;
}

std::string AddressText(const sockaddr_in& addr) {
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, buf, sizeof(buf));
  return std::string(buf) + ":" + std::to_string(ntohs(addr.sin_port));
}

namespace {

UniqueFd OpenBound(int type, const std::string& host, uint16_t port, std::string* error) {
  sockaddr_in addr;
  if (!MakeAddress(host, port, &addr)) {
    if (error) *error = "bad address " + host;
    return {};
  }
  UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    if (error) *error = std::string("socket: ") + std::strerror(errno);
    return {};
  }
  const int one = 1;
  if (type == SOCK_STREAM) ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    if (error) *error = "bind " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
    return {};
  }
  return fd;
}

}  // namespace

UniqueFd OpenTcpListener(const std::string& host, uint16_t port, std::string* error) {
  UniqueFd fd = OpenBound(SOCK_STREAM, host, port, error);
  if (fd.valid() && ::listen(fd.get(), 64) != 0) {
    if (error) *error = std::string("listen: ") + std::strerror(errno);
    return {};
  }
  if (fd.valid()) ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
  return fd;
}

UniqueFd OpenUdp(const std::string& host, uint16_t port, std::string* error) {
  UniqueFd fd = OpenBound(SOCK_DGRAM, host, port, error);
  if (fd.valid()) ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof(addr);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data.remove_prefix(size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      const int r = ::poll(&p, 1, kSendStallMs);
      if (r <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
      continue;
    }
    return false;
  }
  return true;
}

int WaitReadable(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  while (true) {
    const int r = ::poll(&p, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    return r == 0 ? 0 : 1;
  }
}

}  // namespace camsim
