// The HTTP transport under the device HTTP client: one persistent HTTP/1.1
// connection to one device, carrying at most one request at a time. It does
// what the client needs of an HTTP stack: requests with extra header lines
// and a body that may continue with later writes (announced total length),
// authentication answered here (ClientAuth: nothing sent until the device
// asks, then Digest over Basic, reused for later requests), response bodies
// read piece by piece whatever their framing, a time-out on every step, a
// deadline on every exchange, and Abort() from another thread that makes a
// blocked call return at once. Every failing call says why (last_error()).
//
// Deadlines. Each wait is bounded by its HttpTimeouts field. On top of that,
// the exchange deadline (total_ms, counted from Send()) bounds everything up
// to the end of the response head — name lookup, connects, sending the head
// and the body given to Send(), interim 1xx answers, answering a challenge,
// the one resend — and ReadToEnd(), the bounded read of a whole body. Read()
// is the stream read: each call waits at most receive_ms and the exchange
// deadline does not apply, so a server push may last for hours. Write()
// continues an upload: each call must finish within send_ms.
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
#include "platform/net_error.h"
#include "platform/socket.h"

namespace korvela::platform {

struct HttpTimeouts {
  uint32_t connect_ms = 5000;  // name lookup, and each connect
  uint32_t send_ms = 5000;     // each wait for send space; each Write() as a whole
  uint32_t receive_ms = 5000;  // each wait for response bytes
  uint32_t total_ms = 20000;   // the exchange deadline (see above)

  // Every step bounded by `step_ms`, an exchange by kExchangeSteps of them
  // (connect, send, head, body).
  static constexpr uint32_t kExchangeSteps = 4;
  static HttpTimeouts Uniform(uint32_t step_ms);
};

struct HttpCredentials {
  std::string user;  // empty: no credentials; a 401 goes back to the caller
  std::string password;
};

struct HttpRequestParams {
  std::string method;
  std::string target;                      // path and query
  std::vector<std::string> extra_headers;  // complete "Name: value" lines
  std::vector<uint8_t> body;               // sent with the head
  uint64_t total_length = 0;               // announced body length; >= body.size()
  HttpCredentials credentials;
  // The caller's own limit: the exchange ends by then as well.
  SteadyTime not_after = SteadyTime::max();
};

class HttpConnection {
 public:
  // Bytes kept for a possible resend of a request (challenge, stale
  // connection); requests with larger bodies are not resent.
  static constexpr size_t kMaxResendBodyBytes = 1024 * 1024;
  // A 401 body read and dropped before answering its challenge on the same
  // connection; a longer one makes us reconnect instead.
  static constexpr size_t kMaxDiscardBodyBytes = 64 * 1024;
  // Reads of at least this size inside the payload bypass the receive buffer.
  static constexpr size_t kMinDirectReadBytes = 4096;
  // The receive buffer: one response head at its largest. It never grows.
  static constexpr size_t kReceiveBufferBytes = kMaxHeaderBlockBytes + 1;
  // Interim 1xx answers taken before the final one; a device sending more
  // fails the exchange (kOverLimit). Real servers send one "100 Continue".
  static constexpr int kMaxInterimResponses = 4;
  // Challenges answered in one exchange: the first, and once more when the
  // server only renews a stale nonce.
  static constexpr int kMaxChallengeAnswers = 2;
  // How long a streamed upload that may meet a challenge waits for
  // "100 Continue" before sending its body anyway (RFC 9110 10.1.1). Body
  // bytes sent into a request the device then refuses are lost, so the wait
  // is long enough for a busy device to answer; one that ignores Expect costs
  // it once per connection object.
  static constexpr uint32_t kContinueWaitMs = 3000;

  HttpConnection(std::string host, uint16_t port, HttpTimeouts timeouts, std::string user_agent);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Sends the head and the given body and starts the exchange deadline. A
  // request still open is ended first. Fails for an empty method or target
  // or bad header lines (kIo, before any I/O), and on every network error or
  // abort. An upload whose body continues with Write() and that may meet a
  // challenge nothing was learned for is sent with "Expect: 100-continue",
  // so the challenge is answered before the body goes out; should the device
  // give a final answer instead, it is kept (has_response()) and Write()
  // fails.
  bool Send(const HttpRequestParams& request);
  // Continues the body of the request just sent. Fails beyond the announced
  // total length (kOverLimit), once the peer has answered or closed (kClosed,
  // or kAuthRefused for a 401: it takes no more body; an answer is kept,
  // has_response()), or on any network error or abort.
  bool Write(std::span<const uint8_t> data);
  // Waits for the final response head: interim answers are skipped (at most
  // kMaxInterimResponses), a challenge is answered when the request carried
  // credentials, and a request sent on a kept-alive connection that the
  // device closed without answering goes once more on a new one. A 401 that
  // is returned (credentials refused or nothing we can answer) sets
  // last_error() to kAuthRefused although the call succeeds.
  bool ReceiveResponse();

  const HttpResponseHead& response() const { return head_; }
  bool has_response() const { return has_response_; }
  // The scheme learned from the device (kAuthSchemeBasic/Digest), or 0. It
  // stays with this object across reconnects and later requests.
  uint32_t auth_scheme() const { return auth_.scheme(); }

  // Stream read of payload bytes of the response body. Returns the count; 0
  // at the end of the body; nullopt on error, time-out, abort or malformed
  // framing.
  std::optional<size_t> Read(std::span<uint8_t> out);
  // Appends the rest of the body to `body`, within the exchange deadline,
  // up to `max_bytes` in all. False on failure; at the limit `body` holds
  // exactly `max_bytes` and the cause is kOverLimit.
  bool ReadToEnd(std::vector<uint8_t>* body, size_t max_bytes);

  // Why the last failing call failed (kNone after a success).
  NetError last_error() const { return last_error_; }

  // Ends the request. The connection stays for the next request when the
  // exchange completed cleanly and the peer allows it; otherwise it is closed.
  void EndRequest();
  // Closes the socket (what was learned about authentication stays: it
  // belongs to the device).
  void Disconnect();

  // Any thread: makes the owner's current and next blocking step fail at once.
  void Abort() { abort_.Set(); }
  bool aborted() const { return abort_.IsSet(); }
  // False when the abort event could not be made: waits could not be cut.
  bool usable() const { return abort_.valid(); }
  // Owner: re-arms after an abort; drops the connection it interrupted.
  void ClearAbort();

  bool connected() const { return socket_.valid(); }
  // Connections made so far (for tests of connection reuse).
  uint32_t connects() const { return connects_; }
  // Bytes the receive buffer holds room for (for tests of memory bounds).
  size_t receive_buffer_capacity() const { return rbuf_.capacity(); }

 private:
  enum class Phase { kIdle, kSendingBody, kAwaitingResponse, kReadingBody, kBroken };
  // The states of ReceiveResponse(), one function each.
  enum class Step { kReadHead, kJudgeResponse, kAnswerChallenge, kResend, kDone, kFailed };

  Step ReadHeadStep();
  Step JudgeResponseStep();
  Step AnswerChallengeStep();
  Step ResendStep();

  // The streamed-upload start: head with Expect, then the body once the
  // device agrees, stays silent, or its challenge was answered.
  bool SendExpectingContinue();
  // Connects (or keeps a live kept-alive connection) and sends the head with
  // the credentials learned so far, then `body` unless the head asks to
  // continue; on a kept-alive connection that fails, once more on a new one.
  NetError SendRequestHead(std::span<const uint8_t> body, bool answer, bool expect_continue);
  NetError EnsureConnected();
  // The head on the wire; nullopt for a bad method or header line.
  std::optional<std::string> BuildHead(const HttpRequestParams& request, uint64_t content_length,
                                       const std::string& authorization,
                                       bool expect_continue) const;
  // Reads the next response head into `*head` (1xx included).
  NetError ReadHead(HttpResponseHead* head, SteadyTime deadline);
  void TakeResponse(HttpResponseHead head, const BodyFramingInfo& framing);
  // Reads more bytes into the receive buffer; `*got` 0 on end of stream.
  NetError Fill(SteadyTime deadline, size_t* got);
  // Read() within `deadline`; nullopt with `*cause` set on failure.
  std::optional<size_t> ReadSome(std::span<uint8_t> out, SteadyTime deadline, NetError* cause);
  // Reads and drops the body of a challenge; false when it cannot be done
  // within kMaxDiscardBodyBytes.
  bool DiscardBody();
  // Per-wait time-out of a step, cut to the exchange deadline (0: passed).
  uint32_t StepMs(uint32_t step_ms) const;
  bool Failed(NetError cause);  // records the cause, drops the socket; false
  Step Fail(NetError cause);    // the same, as a ReceiveResponse() state
  void DropSocket();

  const std::string host_;
  const uint16_t port_;
  const HttpTimeouts timeouts_;
  const std::string user_agent_;
  Event abort_{Event::Mode::kManualReset};
  HostResolver resolver_;

  // Woken by abort_ alone: one descriptor per blocked thread.
  TcpSocket socket_{&abort_};
  uint32_t connects_ = 0;
  bool reused_ = false;                 // the socket already carried a request
  bool device_ignores_expect_ = false;  // it let a continue wait run out
  bool continue_wait_ran_out_ = false;  // ... in the current exchange

  Phase phase_ = Phase::kIdle;
  NetError last_error_ = NetError::kNone;
  // The current exchange (set by Send).
  SteadyTime deadline_{};
  HttpRequestParams request_;       // kept for a resend; the body only when it fits
  uint64_t total_length_ = 0;       // the announced body length
  bool body_kept_ = false;          // request_.body holds the body given to Send
  bool streamed_ = false;           // the body continues with Write()
  bool awaiting_continue_ = false;  // the head went with Expect; the body waits
  uint64_t body_left_ = 0;          // announced body bytes not yet written
  uint32_t sent_scheme_ = 0;        // scheme of the Authorization the last head carried
  bool sent_answer_ = false;        // ...answering a challenge of this exchange
  bool sent_on_reused_ = false;     // the last head went out on a kept-alive connection
  bool resent_ = false;             // the one resend on a new connection is used
  int interim_responses_ = 0;
  int challenge_answers_ = 0;
  size_t received_since_send_ = 0;

  std::vector<uint8_t> rbuf_;
  size_t rpos_ = 0;
  size_t rend_ = 0;

  HttpResponseHead head_;
  bool has_response_ = false;
  BodyFramingInfo framing_;
  std::optional<HttpBodyDecoder> decoder_;

  ClientAuth auth_;
};

}  // namespace korvela::platform
