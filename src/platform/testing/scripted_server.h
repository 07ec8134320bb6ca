// A scripted loopback TCP peer for unit tests, able to play a misbehaving
// camera: listens on a free 127.0.0.1 port and, per accepted connection, runs
// a script of steps: wait for an expected piece of input (an HTTP request, a
// request head or nothing), then answer with canned bytes —
// cut into pieces with a pause between them (trickled), repeated (endless
// interim answers), followed by generated filler that is never held in
// memory (huge or endless bodies) — then close, stop reading, or go on.
// Everything received is recorded.
//
// It uses plain POSIX sockets on purpose, not the production socket or HTTP
// code, so that a bug shared with the code under test cannot hide itself.
//
// Threading: the test thread calls every public method. One accept thread and
// one thread per connection run inside; `mu_` guards the scripts, the
// connection list and the recordings (std::mutex carries no capability
// annotation, hence no GUARDED_BY). The destructor stops and joins every thread (each wait is a
// poll on the socket and the stop event).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/event.h"

namespace korvela::testing {

inline constexpr uint64_t kForever = UINT64_MAX;

struct ScriptStep {
  enum class Expect {
    kHttpRequest,  // a request head plus its body (Content-Length or chunked)
    kHttpHead,     // a request head only; what follows is recorded as body
    kNothing,      // answer at once
  };
  Expect expect = Expect::kHttpRequest;

  std::string reply;             // bytes sent after the expectation is met
  std::vector<size_t> split_at;  // offsets (ascending) where `reply` is cut
  uint32_t piece_delay_ms = 0;   // pause before every piece after the first
  uint64_t repeat = 1;           // `reply` sent this often (kForever: until the client goes)
  uint64_t filler_bytes = 0;     // then this many 'x' bytes (kForever: until the client goes)
  bool close_after = false;      // close the connection after this reply
  bool hang = false;             // never answer; keep recording until the client closes or stop
  bool stall = false;            // after the reply read nothing more; keep the connection to Stop()
};

// A complete reply: the status line, Content-Length and `body`.
std::string HttpResponse(const std::string& body, const std::string& status = "200 OK");
// A camera's answer to an OID request: `value` in the page's <xmp> block.
std::string OidResponse(const std::string& value);

// Convenience constructors.
ScriptStep HttpReply(std::string reply);
ScriptStep HttpReplySplit(std::string reply, std::vector<size_t> split_at,
                          uint32_t piece_delay_ms = 0);
ScriptStep HttpReplyThenClose(std::string reply);
ScriptStep HangAfterRequest();
// Reads the request, then closes without a word.
ScriptStep CloseAfterRequest();
// The reply one byte at a time, `byte_delay_ms` apart.
ScriptStep Trickle(std::string reply, uint32_t byte_delay_ms);

struct ReceivedRequest {
  size_t connection = 0;  // accept order, from 0
  std::string head;       // request line and headers including the blank line
  std::string body;       // raw body bytes as received (chunked framing kept)

  std::string RequestLine() const;
  // Value of the first header `name` (case-insensitive); empty when absent.
  std::string Header(const char* name) const;
};

class ScriptedServer {
 public:
  ScriptedServer();
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // False when the listening socket could not be set up.
  bool ok() const { return listen_fd_ >= 0; }
  uint16_t port() const { return port_; }

  // Script for the next connection to be accepted (in call order). After its
  // last step the connection stays open and everything further is recorded,
  // until the client closes it or the server stops. Connections without a
  // script are accepted, recorded and closed at once.
  void AddConnection(std::vector<ScriptStep> steps);

  // Waits (bounded) until `count` requests have been received.
  bool WaitForRequests(size_t count, uint32_t timeout_ms);
  // Waits (bounded) until connection `connection` has received `count` bytes.
  bool WaitForReceivedBytes(size_t connection, size_t count, uint32_t timeout_ms);
  // Waits (bounded) until `count` connections were accepted and have closed.
  bool WaitForClosedConnections(size_t count, uint32_t timeout_ms);

  std::vector<ReceivedRequest> Requests() const;
  // The request target of each request, in order ("/get.oid?1.2.7").
  std::vector<std::string> Targets() const;
  // Raw bytes received on the connection with the given accept index.
  std::string Received(size_t connection) const;
  size_t AcceptedConnections() const;

  void Stop();

 private:
  struct Connection;

  void AcceptLoop();
  void Serve(Connection* conn, std::vector<ScriptStep> steps);
  // Reads more bytes into conn->pending; false on close, error or stop.
  bool ReadMore(Connection* conn);
  bool ReadHttpHead(Connection* conn, std::string* head);
  bool ReadHttpBody(Connection* conn, const std::string& head, std::string* body);
  bool SendBytes(Connection* conn, std::string_view bytes);
  bool SendReply(Connection* conn, const ScriptStep& step);
  void DrainUntilClosed(Connection* conn);
  void RecordRequest(size_t connection, std::string head, std::string body);

  int listen_fd_ = -1;
  uint16_t port_ = 0;
  platform::Event stop_{platform::Event::Mode::kManualReset};
  std::thread accept_thread_;

  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::vector<std::vector<ScriptStep>> scripts_;
  size_t next_script_ = 0;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<ReceivedRequest> requests_;
  size_t closed_connections_ = 0;
};

}  // namespace korvela::testing
