#include "platform/testing/blocking.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace korvela::testing {
namespace {

// Whether the thread sleeps in a poll that is not a zero-time check.
// /proc/<pid>/task/<tid>/syscall: "<nr> <arg1> <arg2> <arg3> ..." while the
// thread sleeps in a system call, "running" otherwise.
bool InBlockingPoll(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long nr = -1;
  std::string fds, nfds, timeout;
  if (!(in >> nr >> fds >> nfds >> timeout)) return false;
#ifdef SYS_poll
  if (nr == SYS_poll) return std::stoul(timeout, nullptr, 16) != 0;
#endif
  return nr == SYS_ppoll;  // its time-out is a pointer: any wait counts
}

}  // namespace

pid_t ThisThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

bool WaitUntilBlocked(pid_t tid, uint32_t timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < end) {
    if (InBlockingPoll(tid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

FullListener::FullListener() {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 0) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return;
  }
  port_ = ntohs(addr.sin_port);
  // Connect until one connect no longer completes: the queue is then full.
  for (int i = 0; i < 8 && !full_; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    clients_.push_back(fd);
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    pollfd p{fd, POLLOUT, 0};
    full_ = ::poll(&p, 1, 200) == 0;
  }
}

FullListener::~FullListener() {
  for (int fd : clients_) ::close(fd);
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

}  // namespace korvela::testing
