// CUDPClient: a bound UDP socket with a receive thread of its own, named
// "UDP client thread, port %u". Every datagram, every receive time-out and
// the client's closing go to one user through IRTPClientUser; the RTP
// receiver (one client per RTP port) and the RTCP handler (which also sends
// through it) are the users.
//
// Datagrams are never cut: the thread receives into a buffer that holds the
// largest one (kMaxDatagramBytes, allocated once per thread start), one
// system call per datagram while datagrams are queued; it waits only when
// the socket is empty, and tells the user so first (OnIdle).
//
// Threading: Open and Close run on the owner's thread, serialised by lock_.
// The user and the socket are set by Open before the thread starts and
// released by Close after it has ended, so the thread reads them without the
// lock. All
// callbacks run on the client's thread. SendTo and GetPort may be called from
// any thread while the client is open.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/base_thread.h"
#include "base/sync_lock.h"
#include "platform/socket.h"

namespace korvela {

class IRTPClient;

class IRTPClientUser {
 public:
  virtual ~IRTPClientUser() = default;
  // A datagram from `sender`; `data` is valid during the call only.
  virtual void OnData(IRTPClient* client, const platform::Endpoint& sender, const uint8_t* data,
                      uint32_t length) = 0;
  // No datagram came within the client's wait.
  virtual void OnTimeout(IRTPClient* client) = 0;
  // The socket is empty: the client is about to wait (work put off during a
  // run of datagrams can be done now). A user that has put work off further
  // returns within how many milliseconds it wants to be called again if no
  // datagram comes (0: not needed).
  virtual uint32_t OnIdle(IRTPClient* /*client*/) { return 0; }
  // The socket was closed (by Close or after a fatal error).
  virtual void OnClientClosed(IRTPClient* client) = 0;
};

class IRTPClient {
 public:
  virtual ~IRTPClient() = default;
  virtual bool Open(IRTPClientUser* user, uint16_t port) = 0;
  virtual void Close() = 0;
  // The datagram size the user expects (kept as a hint: CUDPClient's buffer
  // holds any datagram).
  virtual void SetBufferSize(uint32_t bytes) = 0;
  // Receive wait per round; the fraction (microseconds) is kept modulo 1000.
  virtual void SetTimeout(uint32_t seconds, uint32_t fraction) = 0;
  virtual uint16_t GetPort() const = 0;
  // Why the last Open failed (kAddressInUse: the port is taken).
  virtual platform::SocketError GetOpenError() const = 0;
};

class CUDPClient : public CBaseThread, public IRTPClient {
 public:
  // The largest UDP payload a datagram can carry.
  static constexpr uint32_t kMaxDatagramBytes = 65535;
  static constexpr uint32_t kMinWaitMs = 10;

  explicit CUDPClient(IDebugMessage* log);
  ~CUDPClient() override;

  // Binds INADDR_ANY:`port` (0: any free port) and starts the thread. False
  // (nothing logged, client left closed) when already open, when the stop
  // event has no descriptor, when the port is in use or when the thread does
  // not start.
  bool Open(IRTPClientUser* user, uint16_t port) override;
  // Stops the thread (at once: its wait includes the stop event), closes the
  // socket and tells the user. Also fine on a client never opened.
  void Close() override;
  void SetBufferSize(uint32_t bytes) override { bufferSize_.store(bytes); }
  void SetTimeout(uint32_t seconds, uint32_t fraction) override;
  uint16_t GetPort() const override { return port_.load(); }
  platform::SocketError GetOpenError() const override { return openError_.load(); }

  // Sends one datagram; false when closed or not sent whole.
  bool SendTo(const platform::Endpoint& destination, const uint8_t* data, uint32_t length);

 protected:
  void Run() override;

 private:
  uint32_t WaitMs() const;
  // Waits up to `wait_ms` for a datagram, calling the user's OnIdle first
  // and again at the time it asked for.
  platform::SocketError WaitIdle(uint32_t wait_ms, platform::Event* stop);

  // Serialises Open and Close; the fields below change only inside them,
  // while the thread is not running.
  CSyncLock lock_;
  IRTPClientUser* user_ = nullptr;
  platform::UdpSocket socket_;
  std::atomic<uint16_t> port_{0};
  std::atomic<platform::SocketError> openError_{platform::SocketError::kNone};
  std::atomic<uint32_t> bufferSize_{8192};  // the user's hint, not a limit
  std::atomic<uint32_t> waitSeconds_{2};
  std::atomic<uint32_t> waitFraction_{0};
};

}  // namespace korvela
