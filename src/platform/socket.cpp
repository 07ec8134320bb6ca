#include "platform/socket.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace korvela::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

int RemainingMs(SteadyClock::time_point end) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(end - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

SocketError PendingSocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return SocketErrorFromErrno(errno);
  return err == 0 ? SocketError::kNone : SocketErrorFromErrno(err);
}

Mutex g_library_mu;
int g_library_refs GUARDED_BY(g_library_mu) = 0;

// What the waiter and the helper thread of one lookup share.
struct Lookup {
  Event done{Event::Mode::kManualReset};
  std::atomic<uint32_t> address_be{0};  // written before `done` is set
};

// Helper threads of lookups whose caller stopped waiting, joined once they
// have finished (when the next lookup starts) and at the latest when the
// library is unloaded, so no thread runs our code after that.
class AbandonedLookups {
 public:
  ~AbandonedLookups() {
    std::vector<std::thread> threads;
    {
      MutexLock lock(mu_);
      for (auto& entry : entries_) threads.push_back(std::move(entry.second));
      entries_.clear();
    }
    for (std::thread& t : threads) t.join();
  }

  // Takes a place for a new lookup; false while kMaxAbandonedLookups are
  // still running.
  bool Reserve() EXCLUDES(mu_) {
    std::vector<std::thread> finished = TakeFinished();
    for (std::thread& t : finished) t.join();
    MutexLock lock(mu_);
    if (entries_.size() + reserved_ >= HostResolver::kMaxAbandonedLookups) return false;
    ++reserved_;
    return true;
  }
  void Release() EXCLUDES(mu_) {
    MutexLock lock(mu_);
    --reserved_;
  }
  void Abandon(std::thread thread, std::shared_ptr<Lookup> lookup) EXCLUDES(mu_) {
    MutexLock lock(mu_);
    --reserved_;
    entries_.emplace_back(std::move(lookup), std::move(thread));
  }

 private:
  std::vector<std::thread> TakeFinished() EXCLUDES(mu_) {
    std::vector<std::thread> finished;
    MutexLock lock(mu_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->first->done.IsSet()) {
        finished.push_back(std::move(it->second));
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
    return finished;
  }

  Mutex mu_;
  std::vector<std::pair<std::shared_ptr<Lookup>, std::thread>> entries_ GUARDED_BY(mu_);
  size_t reserved_ GUARDED_BY(mu_) = 0;
};

AbandonedLookups& Abandoned() {
  static AbandonedLookups abandoned;
  return abandoned;
}

}  // namespace

SocketError SocketErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return SocketError::kNone;
    case EINTR:
      return SocketError::kInterrupted;
    case EFAULT:
      return SocketError::kFault;
    case EINVAL:
      return SocketError::kInvalid;
    case EMFILE:
    case ENFILE:
      return SocketError::kTooManyFiles;
    case ENOBUFS:
    case ENOMEM:
      return SocketError::kNoBuffers;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
      return SocketError::kWouldBlock;
    case EMSGSIZE:
      return SocketError::kMessageSize;
    case EADDRINUSE:
      return SocketError::kAddressInUse;
    case ENETDOWN:
      return SocketError::kNetworkDown;
    case ENETUNREACH:
      return SocketError::kNetworkUnreachable;
    case ECONNABORTED:
      return SocketError::kConnectionAborted;
    case ECONNRESET:
    case EPIPE:
      return SocketError::kConnectionReset;
    case ENOTCONN:
      return SocketError::kNotConnected;
    case ESHUTDOWN:
      return SocketError::kShutdown;
    case ETIMEDOUT:
      return SocketError::kTimedOut;
    case ECONNREFUSED:
      return SocketError::kConnectionRefused;
    case EHOSTUNREACH:
      return SocketError::kHostUnreachable;
    case EBADF:
    case ENOTSOCK:
      return SocketError::kNotInitialised;
    default:
      return SocketError::kOther;
  }
}

NetError NetErrorFromSocketError(SocketError error) {
  switch (error) {
    case SocketError::kNone:
      return NetError::kNone;
    case SocketError::kInterrupted:
    case SocketError::kShutdown:
      return NetError::kAborted;
    case SocketError::kTimedOut:
      return NetError::kTimeout;
    case SocketError::kConnectionRefused:
    case SocketError::kNetworkDown:
    case SocketError::kNetworkUnreachable:
    case SocketError::kHostUnreachable:
      return NetError::kRefused;
    case SocketError::kConnectionReset:
    case SocketError::kConnectionAborted:
    case SocketError::kNotConnected:
      return NetError::kClosed;
    case SocketError::kHostNotFound:
      return NetError::kResolve;
    case SocketError::kMessageSize:
      return NetError::kOverLimit;
    default:
      return NetError::kIo;
  }
}

const char* SocketErrorName(SocketError error) {
  switch (error) {
    case SocketError::kNone:
      return "no error";
    case SocketError::kInterrupted:
      return "WSAEINTR";
    case SocketError::kFault:
      return "WSAEFAULT";
    case SocketError::kInvalid:
      return "WSAEINVAL";
    case SocketError::kTooManyFiles:
      return "WSAEMFILE";
    case SocketError::kNoBuffers:
      return "WSAENOBUFS";
    case SocketError::kWouldBlock:
      return "WSAEWOULDBLOCK";
    case SocketError::kMessageSize:
      return "WSAEMSGSIZE";
    case SocketError::kAddressInUse:
      return "WSAEADDRINUSE";
    case SocketError::kNetworkDown:
      return "WSAENETDOWN";
    case SocketError::kNetworkUnreachable:
      return "WSAENETUNREACH";
    case SocketError::kConnectionAborted:
      return "WSAECONNABORTED";
    case SocketError::kConnectionReset:
      return "WSAECONNRESET";
    case SocketError::kNotConnected:
      return "WSAENOTCONN";
    case SocketError::kShutdown:
      return "WSAESHUTDOWN";
    case SocketError::kTimedOut:
      return "WSAETIMEDOUT";
    case SocketError::kConnectionRefused:
      return "WSAECONNREFUSED";
    case SocketError::kHostUnreachable:
      return "WSAEHOSTUNREACH";
    case SocketError::kNotInitialised:
      return "WSANOTINITIALISED";
    case SocketError::kHostNotFound:
      return "WSAHOST_NOT_FOUND";
    case SocketError::kOther:
      return "socket error";
  }
  return "socket error";
}

sockaddr_in Endpoint::ToSockaddr() const {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = address_be;
  addr.sin_port = htons(port);
  return addr;
}

Endpoint Endpoint::FromSockaddr(const sockaddr_in& addr) {
  return Endpoint{addr.sin_addr.s_addr, ntohs(addr.sin_port)};
}

Endpoint Endpoint::Loopback(uint16_t port) { return Endpoint{htonl(INADDR_LOOPBACK), port}; }

std::string Endpoint::ToString() const {
  char text[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = address_be;
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return std::string(text) + ":" + std::to_string(port);
}

uint32_t ResolveHostIpv4(const std::string& host) {
  if (host.empty()) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) return 0;
  uint32_t result = 0;
  for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
      result = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
      break;
    }
  }
  ::freeaddrinfo(list);
  return result;
}

SocketError HostResolver::Resolve(const std::string& host, uint32_t timeout_ms, Event* stop,
                                  uint32_t* address_be) const {
  *address_be = 0;
  if (host.empty()) return SocketError::kHostNotFound;
  in_addr dotted{};
  if (::inet_pton(AF_INET, host.c_str(), &dotted) == 1) {
    *address_be = dotted.s_addr;
    return SocketError::kNone;
  }
  if (stop != nullptr && stop->IsSet()) return SocketError::kInterrupted;
  AbandonedLookups& abandoned = Abandoned();
  if (!abandoned.Reserve()) return SocketError::kHostNotFound;
  auto lookup = std::make_shared<Lookup>();
  std::thread helper;
  try {
    helper = std::thread([lookup, fn = lookup_, host] {
      lookup->address_be.store(fn(host), std::memory_order_release);
      lookup->done.Set();
    });
  } catch (const std::system_error&) {
    abandoned.Release();
    return SocketError::kOther;
  }
  const bool finished = stop != nullptr ? WaitForAny(lookup->done, *stop, timeout_ms) == 0
                                        : lookup->done.Wait(timeout_ms);
  if (!finished) {
    const bool stopped = stop != nullptr && stop->IsSet();
    abandoned.Abandon(std::move(helper), std::move(lookup));
    return stopped ? SocketError::kInterrupted : SocketError::kTimedOut;
  }
  helper.join();
  abandoned.Release();
  *address_be = lookup->address_be.load(std::memory_order_acquire);
  return *address_be != 0 ? SocketError::kNone : SocketError::kHostNotFound;
}

bool SocketLibrary::Startup() {
  MutexLock lock(g_library_mu);
  ++g_library_refs;
  return true;
}

void SocketLibrary::Cleanup() {
  MutexLock lock(g_library_mu);
  if (g_library_refs > 0) --g_library_refs;
}

int SocketLibrary::References() {
  MutexLock lock(g_library_mu);
  return g_library_refs;
}

SocketBase::~SocketBase() { Close(); }

void SocketBase::Adopt(int fd) {
  Close();
  if (own_shut_down_) own_shut_down_->Reset();
  MutexLock lock(fd_mu_);
  fd_.store(fd, std::memory_order_release);
}

void SocketBase::Close() {
  MutexLock lock(fd_mu_);
  const int fd = fd_.exchange(-1, std::memory_order_acq_rel);
  if (fd >= 0) ::close(fd);
}

void SocketBase::Shutdown() {
  shut_down_->Set();
  // Under the lock the descriptor cannot be closed, and its number reused by
  // another socket of the process, between the load and the shutdown.
  MutexLock lock(fd_mu_);
  const int fd = fd_.load(std::memory_order_acquire);
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

uint16_t SocketBase::LocalPort() const {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (fd() < 0 || ::getsockname(fd(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

SocketError SocketBase::Wait(short events, uint32_t timeout_ms, Event* stop) const {
  const int fd = this->fd();
  if (fd < 0) return SocketError::kNotInitialised;
  // A stop already requested needs no poll (the flags cost no system call).
  if (stop != nullptr && stop->IsSet()) return SocketError::kInterrupted;
  if (shut_down_->IsSet()) return SocketError::kShutdown;
  // A connection's abort event is often both the stop and the shutdown
  // event: poll it once.
  const int stop_fd = stop != nullptr && stop != shut_down_ ? stop->fd() : -1;
  const auto end = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    // A negative descriptor is ignored by poll().
    pollfd fds[3] = {{fd, events, 0}, {stop_fd, POLLIN, 0}, {shut_down_->fd(), POLLIN, 0}};
    const int rc = ::poll(fds, 3, timeout_ms == kInfinite ? -1 : RemainingMs(end));
    if (rc < 0) {
      if (errno == EINTR) continue;
      return SocketErrorFromErrno(errno);
    }
    // The stop event has priority over readiness: a stopping worker must not
    // start on more data.
    if (stop != nullptr && stop->IsSet()) return SocketError::kInterrupted;
    // The shutdown may wake the socket itself before its event shows (a
    // connect in progress fails at once): an error then asks the flag.
    if ((fds[2].revents & POLLIN) ||
        ((fds[0].revents & (POLLERR | POLLHUP)) && shut_down_->IsSet())) {
      return SocketError::kShutdown;
    }
    if (rc == 0) return SocketError::kTimedOut;
    if (fds[0].revents & POLLNVAL) return SocketError::kNotInitialised;
    if (fds[0].revents & (events | POLLERR | POLLHUP)) return SocketError::kNone;
  }
}

SocketError TcpSocket::Connect(const Endpoint& remote, uint32_t timeout_ms, Event* stop) {
  // Without its descriptor a Shutdown could not end the socket's waits.
  if (!shut_down_->valid()) return SocketError::kNotInitialised;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return SocketErrorFromErrno(errno);
  Adopt(fd);
  filled_last_ = false;
  int one = 1;
  // Requests are small and latency matters more than packet count.
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const sockaddr_in addr = remote.ToSockaddr();
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
    return SocketError::kNone;
  }
  if (errno != EINPROGRESS) {
    const SocketError err =
        shut_down_->IsSet() ? SocketError::kShutdown : SocketErrorFromErrno(errno);
    Close();
    return err;
  }
  SocketError err = Wait(POLLOUT, timeout_ms, stop);
  if (err == SocketError::kNone) err = PendingSocketError(fd);
  if (err != SocketError::kNone && shut_down_->IsSet()) err = SocketError::kShutdown;
  if (err != SocketError::kNone) Close();
  return err;
}

SocketError TcpSocket::SendAll(std::span<const uint8_t> data, uint32_t timeout_ms, Event* stop,
                               SteadyTime deadline) {
  size_t sent = 0;
  while (sent < data.size()) {
    const int fd = this->fd();
    if (fd < 0) return SocketError::kNotInitialised;
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      uint32_t wait_ms = timeout_ms;
      if (deadline != SteadyTime::max()) {
        const int left = RemainingMs(deadline);
        if (left == 0) return SocketError::kTimedOut;
        if (wait_ms == kInfinite || static_cast<uint32_t>(left) < wait_ms) wait_ms = left;
      }
      const SocketError err = Wait(POLLOUT, wait_ms, stop);
      if (err != SocketError::kNone) return err;
      continue;
    }
    return n == 0 ? SocketError::kConnectionReset : SocketErrorFromErrno(errno);
  }
  return SocketError::kNone;
}

IoResult TcpSocket::Receive(std::span<uint8_t> data, uint32_t timeout_ms, Event* stop) {
  if (data.empty()) return {};
  // After a receive that filled the buffer more is likely queued: take it at
  // once. Otherwise wait first, so that a read costs one poll and one recv
  // rather than a recv that finds nothing besides.
  bool wait_first = !filled_last_;
  for (;;) {
    if (wait_first) {
      const SocketError err = Wait(POLLIN, timeout_ms, stop);
      if (err != SocketError::kNone) return {err, 0};
    } else if (fd() < 0) {
      return {SocketError::kNotInitialised, 0};
    } else if (stop != nullptr && stop->IsSet()) {
      return {SocketError::kInterrupted, 0};
    } else if (shut_down_->IsSet()) {
      return {SocketError::kShutdown, 0};
    }
    const ssize_t n = ::recv(fd(), data.data(), data.size(), 0);
    // A shutdown from another thread ends the stream early: say so.
    if (n == 0 && shut_down_->IsSet()) return {SocketError::kShutdown, 0};
    if (n >= 0) {
      filled_last_ = static_cast<size_t>(n) == data.size();
      return {SocketError::kNone, static_cast<size_t>(n)};
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      wait_first = true;
      continue;
    }
    return {SocketErrorFromErrno(errno), 0};
  }
}

SocketError UdpSocket::Bind(uint16_t port) {
  // The shutdown event's descriptor was refused, as the socket's would be.
  if (!shut_down_->valid()) return SocketError::kTooManyFiles;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return SocketErrorFromErrno(errno);
  Adopt(fd);
  const int size = kReceiveBufferBytes;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(port);
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0 ||
      ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    const SocketError err = SocketErrorFromErrno(errno);
    Close();
    return err;
  }
  return SocketError::kNone;
}

IoResult UdpSocket::ReceiveFrom(std::span<uint8_t> data, Endpoint* from, uint32_t timeout_ms,
                                Event* stop) {
  for (;;) {
    const IoResult r = TryReceiveFrom(data, from, stop);
    if (r.error != SocketError::kWouldBlock) return r;
    const SocketError err = Wait(POLLIN, timeout_ms, stop);
    if (err != SocketError::kNone) return {err, 0};
  }
}

IoResult UdpSocket::TryReceiveFrom(std::span<uint8_t> data, Endpoint* from, Event* stop) {
  for (;;) {
    if (stop != nullptr && stop->IsSet()) return {SocketError::kInterrupted, 0};
    if (shut_down_->IsSet()) return {SocketError::kShutdown, 0};
    const int fd = this->fd();
    if (fd < 0) return {SocketError::kNotInitialised, 0};
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    // MSG_TRUNC makes recvfrom return the datagram's real length, so an
    // oversize datagram is reported rather than silently cut.
    const ssize_t n = ::recvfrom(fd, data.data(), data.size(), MSG_TRUNC | MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&addr), &len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {SocketErrorFromErrno(errno), 0};  // EAGAIN: kWouldBlock
    }
    if (from) *from = Endpoint::FromSockaddr(addr);
    if (static_cast<size_t>(n) > data.size()) {
      return {SocketError::kMessageSize, static_cast<size_t>(n)};
    }
    return {SocketError::kNone, static_cast<size_t>(n)};
  }
}

IoResult UdpSocket::SendTo(const Endpoint& to, std::span<const uint8_t> data) {
  const sockaddr_in addr = to.ToSockaddr();
  for (;;) {
    const ssize_t n = ::sendto(fd(), data.data(), data.size(), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    if (n >= 0) return {SocketError::kNone, static_cast<size_t>(n)};
    if (errno == EINTR) continue;
    return {SocketErrorFromErrno(errno), 0};
  }
}

}  // namespace korvela::platform
