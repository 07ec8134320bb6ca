// Thin POSIX socket helpers for the simulator (TCP listeners, UDP sockets,
// bounded blocking reads and writes).
//
// Threading: UniqueFd is owned by one thread; the free functions are
// reentrant. A connection is stopped from another thread with shutdown(),
// which wakes every poll/recv/send on it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <netinet/in.h>

namespace camsim {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

bool MakeAddress(const std::string& host, uint16_t port, sockaddr_in* out);
std::string AddressText(const sockaddr_in& addr);

UniqueFd OpenTcpListener(const std::string& host, uint16_t port, std::string* error);
UniqueFd OpenUdp(const std::string& host, uint16_t port, std::string* error);
uint16_t LocalPort(int fd);

// Writes everything; false when the peer is gone or the write stalled for
// kSendStallMs (a client that stopped reading).
bool SendAll(int fd, std::string_view data);
constexpr int kSendStallMs = 10000;

// Waits until fd is readable; 1 readable, 0 time-out, -1 error.
int WaitReadable(int fd, int timeout_ms);

}  // namespace camsim
