// Thin RAII wrappers over BSD sockets with the semantics the driver relies on:
// bounded waits that a stop event aborts at once, a UDP receive that reports
// oversize datagrams instead of truncating them silently, Winsock-style error
// names, first-IPv4 host resolution that a stop can abandon, and a no-op
// socket-library reference count.
//
// Threading: a socket object is used by one owner thread. Shutdown() may be
// called from any thread while the owner is blocked in a wait; it makes that
// wait return. `fd_mu_` orders Shutdown() against the owner's Close(), so a
// shutdown never reaches a descriptor number that was closed and reused.
// HostResolver: see its comment.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include <netinet/in.h>

#include "platform/event.h"
#include "platform/net_error.h"
#include "util/mutex.h"

namespace korvela::platform {

// Winsock error numbers the callers test, mapped from their POSIX causes.
enum class SocketError : int {
  kNone = 0,
  kInterrupted = 10004,         // WSAEINTR: the stop event aborted the wait
  kFault = 10014,               // WSAEFAULT
  kInvalid = 10022,             // WSAEINVAL
  kTooManyFiles = 10024,        // WSAEMFILE: no descriptor left (process or system)
  kWouldBlock = 10035,          // WSAEWOULDBLOCK
  kMessageSize = 10040,         // WSAEMSGSIZE: datagram larger than the buffer
  kAddressInUse = 10048,        // WSAEADDRINUSE
  kNetworkDown = 10050,         // WSAENETDOWN
  kNetworkUnreachable = 10051,  // WSAENETUNREACH
  kConnectionAborted = 10053,   // WSAECONNABORTED
  kConnectionReset = 10054,     // WSAECONNRESET
  kNoBuffers = 10055,           // WSAENOBUFS: the kernel is out of memory
  kNotConnected = 10057,        // WSAENOTCONN
  kShutdown = 10058,            // WSAESHUTDOWN
  kTimedOut = 10060,            // WSAETIMEDOUT
  kConnectionRefused = 10061,   // WSAECONNREFUSED
  kHostUnreachable = 10065,     // WSAEHOSTUNREACH
  kNotInitialised = 10093,      // WSANOTINITIALISED
  kHostNotFound = 11001,        // WSAHOST_NOT_FOUND
  kOther = 10101,               // anything else (closest: WSAEDISCON)
};

SocketError SocketErrorFromErrno(int err);
const char* SocketErrorName(SocketError error);
// The cause a caller reports for a failed socket step.
NetError NetErrorFromSocketError(SocketError error);

using SteadyTime = std::chrono::steady_clock::time_point;

// Result of one transfer: bytes moved, or the error. For a stream receive,
// ok() with bytes == 0 means the peer closed its side.
struct IoResult {
  SocketError error = SocketError::kNone;
  size_t bytes = 0;
  bool ok() const { return error == SocketError::kNone; }
};

// IPv4 endpoint; the address is kept in network byte order.
struct Endpoint {
  uint32_t address_be = 0;
  uint16_t port = 0;  // host byte order

  sockaddr_in ToSockaddr() const;
  static Endpoint FromSockaddr(const sockaddr_in& addr);
  static Endpoint Loopback(uint16_t port);
  std::string ToString() const;  // "a.b.c.d:port"
};

// First IPv4 address of `host` (name or dotted address) in network byte
// order; 0 when the name is empty or cannot be resolved. Blocks for as long
// as the system resolver takes.
uint32_t ResolveHostIpv4(const std::string& host);

// Name lookup that a stop can abandon. getaddrinfo() cannot be interrupted,
// so a name (a dotted address needs no lookup) is looked up on a helper
// thread while the caller waits at most `timeout_ms` and returns at once when
// `stop` is set. An abandoned lookup runs to its end (bounded by the system
// resolver's own time-outs) and its result is dropped; a process-wide list
// joins these threads, at the latest when the library is unloaded.
//
// Threading: Resolve() may be called from several threads at once.
class HostResolver {
 public:
  using LookupFn = std::function<uint32_t(const std::string& host)>;
  // Abandoned lookups still running, process-wide; while this many are
  // pending, a new name fails at once rather than piling up threads behind a
  // dead name server.
  static constexpr size_t kMaxAbandonedLookups = 16;

  explicit HostResolver(LookupFn lookup = ResolveHostIpv4) : lookup_(std::move(lookup)) {}

  // kNone with `*address_be` set; kHostNotFound, kTimedOut, or kInterrupted
  // when `stop` was set.
  SocketError Resolve(const std::string& host, uint32_t timeout_ms, Event* stop,
                      uint32_t* address_be) const;

 private:
  LookupFn lookup_;
};

// Stand-in for the socket-library start-up: a process-wide reference count
// with nothing behind it, kept so that start-up/clean-up pairs stay visible.
class SocketLibrary {
 public:
  static bool Startup();  // always true
  static void Cleanup();  // ignores a clean-up without start-up
  static int References();
};

// Shared descriptor handling of both socket kinds.
class SocketBase {
 public:
  SocketBase(const SocketBase&) = delete;
  SocketBase& operator=(const SocketBase&) = delete;

  bool valid() const { return fd() >= 0; }
  int fd() const { return fd_.load(std::memory_order_acquire); }
  uint16_t LocalPort() const;
  // Any thread: shuts the socket down in both directions and makes every
  // wait of the owner, current or later, return kShutdown (the kernel alone
  // does not wake a receive on an unconnected UDP socket or a connect in
  // progress). Safe to call repeatedly; a new Connect/Bind re-arms.
  void Shutdown() EXCLUDES(fd_mu_);
  // Owner thread: closes the descriptor.
  void Close() EXCLUDES(fd_mu_);

  // Waits until the socket reports `events` (POLLIN / POLLOUT). kNone when
  // ready, kTimedOut, kInterrupted when `stop` was set (stop wins), kShutdown
  // after Shutdown(), or the socket's error.
  SocketError Wait(short events, uint32_t timeout_ms, Event* stop) const;

 protected:
  SocketBase() : shut_down_(&own_shut_down_.emplace(Event::Mode::kManualReset)) {}
  // Shutdown() sets `shutdown_event` (the owner's abort event, which must
  // outlive the socket) instead of an event of the socket's own: a thread
  // blocked in a wait is then woken through one descriptor, not two. Such a
  // socket leaves re-arming the event to its owner.
  explicit SocketBase(Event* shutdown_event) : shut_down_(shutdown_event) {}
  ~SocketBase();
  void Adopt(int fd) EXCLUDES(fd_mu_);

  // Changes on the owner thread alone, under `fd_mu_`; the owner reads it
  // without the lock, Shutdown() under it.
  std::atomic<int> fd_{-1};
  Mutex fd_mu_;
  // Set by Shutdown(); polled by every wait.
  std::optional<Event> own_shut_down_;
  Event* const shut_down_;
};

class TcpSocket : public SocketBase {
 public:
  TcpSocket() = default;
  explicit TcpSocket(Event* shutdown_event) : SocketBase(shutdown_event) {}

  // Creates the socket and connects within `timeout_ms`. Any earlier socket
  // is closed first.
  SocketError Connect(const Endpoint& remote, uint32_t timeout_ms, Event* stop = nullptr);

  // Sends every byte. Each wait for buffer space is bounded by `timeout_ms`
  // and the whole send by `deadline`, so a peer that stops reading or reads
  // a byte at a time cannot hold it (kTimedOut).
  SocketError SendAll(std::span<const uint8_t> data, uint32_t timeout_ms, Event* stop = nullptr,
                      SteadyTime deadline = SteadyTime::max());
  // One receive of up to data.size() bytes after waiting at most `timeout_ms`.
  IoResult Receive(std::span<uint8_t> data, uint32_t timeout_ms, Event* stop = nullptr);

 private:
  // The last Receive filled its buffer (owner thread only).
  bool filled_last_ = false;
};

class UdpSocket : public SocketBase {
 public:
  // Receive buffer asked of the kernel (it caps the request at
  // net.core.rmem_max). A key frame of a 4 Mbit/s H.264 stream arrives as a
  // burst of about a hundred datagrams; with 64 KiB the burst overflowed the
  // buffer whenever the receiving thread was briefly not scheduled, and no key
  // frame ever came through. Kernel memory is only used while datagrams wait.
  static constexpr int kReceiveBufferBytes = 2 * 1024 * 1024;

  UdpSocket() = default;

  // Creates the socket and binds it to INADDR_ANY:`port` (0: any free port).
  SocketError Bind(uint16_t port);
  // One datagram. A queued datagram is read at once (one system call); the
  // socket is waited on, at most `timeout_ms`, only when it is empty. When
  // the datagram was larger than `data`, the part that fitted is dropped and
  // kMessageSize is returned with `bytes` = the real size.
  IoResult ReceiveFrom(std::span<uint8_t> data, Endpoint* from, uint32_t timeout_ms,
                       Event* stop = nullptr);
  // As ReceiveFrom, without the wait: kWouldBlock when no datagram is queued.
  // The stop (kInterrupted) and shutdown (kShutdown) flags are looked at
  // first, so a stop also ends a run of queued datagrams.
  IoResult TryReceiveFrom(std::span<uint8_t> data, Endpoint* from, Event* stop = nullptr);
  IoResult SendTo(const Endpoint& to, std::span<const uint8_t> data);
};

}  // namespace korvela::platform
