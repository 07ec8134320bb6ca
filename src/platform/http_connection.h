// The HTTP transport under the device HTTP client: one persistent HTTP/1.1
// connection to one device, carrying at most one request at a time. It does
// what the client needs of an HTTP stack: requests with extra header lines
// and a body that may continue with later writes (announced total length),
// Basic credentials, Digest answered here (the challenge is remembered and
// reused with a counted nonce), the schemes a 401 offers, response bodies
// read piece by piece whatever their framing, a time-out on every step, and
// Abort() from another thread that makes a blocked call return at once.
//
// Threading: one owner thread calls everything except Abort(), which any
// thread may call at any time (it sets an event every wait polls). After an
// abort the owner's current or next call fails and the socket is dropped;
// ClearAbort() (owner) re-arms the connection for a new request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/http_auth.h"
#include "platform/http_response_parser.h"
#include "platform/socket.h"

namespace korvela::platform {

struct HttpTimeouts {
  uint32_t connect_ms = 5000;
  uint32_t send_ms = 5000;
  uint32_t receive_ms = 5000;  // each wait for response bytes
};

struct HttpCredentials {
  uint32_t scheme = 0;  // kAuthScheme*; 0: send no credentials
  std::string user;
  std::string password;
};

struct HttpRequestParams {
  std::string method;
  std::string target;                      // path and query
  std::vector<std::string> extra_headers;  // complete "Name: value" lines
  std::vector<uint8_t> body;               // sent with the head
  uint64_t total_length = 0;               // announced body length; >= body.size()
  HttpCredentials credentials;
};

class HttpConnection {
 public:
  // Bytes kept for a possible resend of a request answered by a Digest
  // challenge; larger bodies are not resent.
  static constexpr size_t kMaxResendBodyBytes = 1024 * 1024;
  // A 401 body read and dropped before answering its challenge on the same
  // connection; a longer one makes us reconnect instead.
  static constexpr size_t kMaxDiscardBodyBytes = 64 * 1024;
  // Reads of at least this size inside the payload bypass the receive buffer.
  static constexpr size_t kMinDirectReadBytes = 4096;

  HttpConnection(std::string host, uint16_t port, HttpTimeouts timeouts, std::string user_agent);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Sends the head and the given body. A request still open is ended first.
  // Fails for an empty method or target, bad header lines, an unresolvable
  // host, and on every network error or abort.
  bool Send(const HttpRequestParams& request);
  // Continues the body of the request just sent. Fails when the data would
  // exceed the announced total length, or on any network error or abort.
  bool Write(std::span<const uint8_t> data);
  // Waits for the response head (skipping 1xx answers). A Digest challenge is
  // answered here once when the request carried Digest credentials.
  bool ReceiveResponse();

  const HttpResponseHead& response() const { return head_; }
  bool has_response() const { return has_response_; }
  // Scheme bits offered by the last 401/407 answer, and the first of them.
  uint32_t offered_schemes() const { return offered_schemes_; }
  uint32_t first_offered_scheme() const { return first_offered_scheme_; }

  // Reads payload bytes of the response body. Returns the count; 0 at the end
  // of the body; nullopt on error, time-out, abort or malformed framing.
  std::optional<size_t> Read(std::span<uint8_t> out);

  // Ends the request. The connection stays for the next request when the
  // exchange completed cleanly and the peer allows it; otherwise it is closed.
  void EndRequest();
  // Closes the socket (the Digest state is kept: it belongs to the device).
  void Disconnect();

  // Any thread: makes the owner's current and next blocking step fail at once.
  void Abort() { abort_.Set(); }
  bool aborted() const { return abort_.IsSet(); }
  // Owner: re-arms after an abort; drops the connection it interrupted.
  void ClearAbort();

  bool connected() const { return socket_.valid(); }
  // Connections made so far (for tests of connection reuse).
  uint32_t connects() const { return connects_; }

 private:
  enum class Phase { kIdle, kSendingBody, kAwaitingResponse, kReadingBody, kBroken };

  bool EnsureConnected();
  bool SendHead(const HttpRequestParams& request, bool* wrote_anything);
  // `authorize`: add credentials (a Digest answer counts a nonce use).
  std::optional<std::string> BuildHead(const HttpRequestParams& request, bool authorize);
  // Reads more bytes into the receive buffer. 0 on end of stream.
  std::optional<size_t> Fill();
  bool ReadHead();
  bool DiscardBody();
  void Fail();

  const std::string host_;
  const uint16_t port_;
  const HttpTimeouts timeouts_;
  const std::string user_agent_;
  Event abort_{Event::Mode::kManualReset};

  TcpSocket socket_;
  uint32_t connects_ = 0;
  bool reused_ = false;          // the socket already carried a request
  bool sent_on_reused_ = false;  // the current request went out on a reused socket
  SocketError last_receive_error_ = SocketError::kNone;

  Phase phase_ = Phase::kIdle;
  std::string method_;
  HttpRequestParams resend_;  // the request, kept for a Digest answer
  bool resend_possible_ = false;
  bool sent_digest_ = false;
  uint64_t body_left_ = 0;  // announced body bytes not yet written

  std::vector<uint8_t> rbuf_;
  size_t rpos_ = 0;
  size_t rend_ = 0;

  HttpResponseHead head_;
  bool has_response_ = false;
  BodyFramingInfo framing_;
  std::optional<HttpBodyDecoder> decoder_;
  uint32_t offered_schemes_ = 0;
  uint32_t first_offered_scheme_ = 0;

  DigestAuthenticator digest_;
};

}  // namespace korvela::platform
