#include "platform/http_connection.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include <poll.h>

namespace korvela::platform {
namespace {

bool IsTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = static_cast<char>((a[i] >= 'A' && a[i] <= 'Z') ? a[i] - 'A' + 'a' : a[i]);
    const char y = static_cast<char>((b[i] >= 'A' && b[i] <= 'Z') ? b[i] - 'A' + 'a' : b[i]);
    if (x != y) return false;
  }
  return true;
}

// The request target as it goes on the wire. Bytes that would break the
// request line (controls, blanks, DEL, non-ASCII) are percent-encoded; all
// else, the query included, goes out as the caller wrote it.
std::string EncodeTarget(std::string_view target) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  if (target.empty() || target.front() != '/') out.push_back('/');
  for (char ch : target) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7f) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

using HeaderList = std::vector<std::pair<std::string, std::string>>;  // name, value

void SetHeader(HeaderList& headers, std::string name, std::string value) {
  for (auto& [n, v] : headers) {
    if (EqualsIgnoreCase(n, name)) {
      v = std::move(value);
      return;
    }
  }
  headers.emplace_back(std::move(name), std::move(value));
}

using SteadyClock = std::chrono::steady_clock;

// The wait of one step: `step_ms`, cut to what is left until `deadline`
// (SteadyTime::max(): no deadline). 0 once the deadline has passed.
uint32_t WaitMs(uint32_t step_ms, SteadyTime deadline) {
  if (deadline == SteadyTime::max()) return step_ms;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return static_cast<uint32_t>(std::min<int64_t>(left, step_ms));
}

// A TLS record (handshake 0x16 or alert 0x15, version 3.x) where a status
// line belongs: the port speaks only TLS.
bool LooksLikeTls(std::string_view bytes) {
  return bytes.size() >= 2 && (bytes[0] == 0x15 || bytes[0] == 0x16) && bytes[1] == 0x03;
}

}  // namespace

HttpTimeouts HttpTimeouts::Uniform(uint32_t step_ms) {
  const uint64_t total = uint64_t{step_ms} * kExchangeSteps;
  return HttpTimeouts{step_ms, step_ms, step_ms,
                      static_cast<uint32_t>(std::min<uint64_t>(total, kInfinite - 1))};
}

HttpConnection::HttpConnection(std::string host, uint16_t port, HttpTimeouts timeouts,
                               std::string user_agent)
    : host_(std::move(host)),
      port_(port),
      timeouts_(timeouts),
      user_agent_(std::move(user_agent)) {}

HttpConnection::~HttpConnection() { Disconnect(); }

void HttpConnection::DropSocket() {
  socket_.Close();
  rpos_ = rend_ = 0;
  reused_ = false;
}

void HttpConnection::Disconnect() {
  DropSocket();
  decoder_.reset();
  phase_ = Phase::kIdle;
}

bool HttpConnection::Failed(NetError cause) {
  DropSocket();
  decoder_.reset();
  phase_ = Phase::kBroken;
  last_error_ = cause;
  return false;
}

HttpConnection::Step HttpConnection::Fail(NetError cause) {
  Failed(cause);
  return Step::kFailed;
}

void HttpConnection::ClearAbort() {
  if (!abort_.IsSet()) return;
  abort_.Reset();
  Disconnect();
}

uint32_t HttpConnection::StepMs(uint32_t step_ms) const { return WaitMs(step_ms, deadline_); }

NetError HttpConnection::EnsureConnected() {
  if (abort_.IsSet()) return NetError::kAborted;
  // An idle kept-alive connection must be silent: readable means the peer
  // closed it (or sent bytes nobody asked for). Either way start afresh.
  if (socket_.valid() &&
      (rpos_ != rend_ || socket_.Wait(POLLIN, 0, nullptr) != SocketError::kTimedOut)) {
    DropSocket();
  }
  if (socket_.valid()) return NetError::kNone;
  uint32_t wait = StepMs(timeouts_.connect_ms);
  if (wait == 0) return NetError::kTimeout;
  uint32_t address = 0;
  const SocketError resolved = resolver_.Resolve(host_, wait, &abort_, &address);
  if (resolved == SocketError::kInterrupted) return NetError::kAborted;
  if (resolved == SocketError::kTimedOut) return NetError::kTimeout;
  if (resolved != SocketError::kNone) return NetError::kResolve;
  wait = StepMs(timeouts_.connect_ms);
  if (wait == 0) return NetError::kTimeout;
  const SocketError connected = socket_.Connect(Endpoint{address, port_}, wait, &abort_);
  if (connected != SocketError::kNone) return NetErrorFromSocketError(connected);
  ++connects_;
  reused_ = false;
  rpos_ = rend_ = 0;
  return NetError::kNone;
}

std::optional<std::string> HttpConnection::BuildHead(const HttpRequestParams& request,
                                                     uint64_t content_length,
                                                     const std::string& authorization,
                                                     bool expect_continue) const {
  if (request.method.empty() ||
      !std::all_of(request.method.begin(), request.method.end(), IsTokenChar)) {
    return std::nullopt;
  }
  HeaderList headers;
  headers.emplace_back("Host", port_ == 80 ? host_ : host_ + ":" + std::to_string(port_));
  headers.emplace_back("User-Agent", user_agent_);
  if (!authorization.empty()) headers.emplace_back("Authorization", authorization);
  if (content_length > 0 || request.method == "POST" || request.method == "PUT") {
    headers.emplace_back("Content-Length", std::to_string(content_length));
  }
  if (expect_continue) headers.emplace_back("Expect", "100-continue");
  for (std::string_view line : request.extra_headers) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    // A line break inside would let a caller's text forge headers or requests.
    if (line.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    const std::string_view name = line.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), IsTokenChar)) return std::nullopt;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    SetHeader(headers, std::string(name), std::string(value));
  }

  std::string head;
  head.reserve(256);
  head.append(request.method).append(" ").append(EncodeTarget(request.target));
  head.append(" HTTP/1.1\r\n");
  for (const auto& [name, value] : headers)
    head.append(name).append(": ").append(value).append("\r\n");
  head.append("\r\n");
  return head;
}

NetError HttpConnection::SendRequestHead(std::span<const uint8_t> body, bool answer,
                                         bool expect_continue) {
  for (int attempt = 0;; ++attempt) {
    const NetError connected = EnsureConnected();
    if (connected != NetError::kNone) return connected;
    const bool on_reused = reused_;
    const HttpCredentials& cred = request_.credentials;
    const std::string authorization =
        cred.user.empty() ? std::string()
                          : auth_.Authorization(request_.method, EncodeTarget(request_.target),
                                                cred.user, cred.password);
    sent_scheme_ = authorization.empty() ? 0 : auth_.scheme();
    sent_answer_ = answer && sent_scheme_ != 0;
    const auto head = BuildHead(request_, total_length_, authorization, expect_continue);
    if (!head) return NetError::kIo;  // validated by Send(): cannot happen
    std::vector<uint8_t> wire(head->begin(), head->end());
    if (!expect_continue) wire.insert(wire.end(), body.begin(), body.end());
    received_since_send_ = 0;
    sent_on_reused_ = on_reused;
    const SocketError sent = socket_.SendAll(wire, StepMs(timeouts_.send_ms), &abort_, deadline_);
    if (sent == SocketError::kNone) {
      reused_ = true;
      return NetError::kNone;
    }
    // A kept-alive connection may have died while idle: one fresh try.
    if (!on_reused || attempt > 0 || abort_.IsSet()) return NetErrorFromSocketError(sent);
    DropSocket();
  }
}

bool HttpConnection::Send(const HttpRequestParams& request) {
  if (phase_ != Phase::kIdle) EndRequest();
  last_error_ = NetError::kNone;
  has_response_ = false;
  head_ = HttpResponseHead();
  interim_responses_ = challenge_answers_ = 0;
  resent_ = awaiting_continue_ = continue_wait_ran_out_ = false;
  deadline_ = std::min(SteadyClock::now() + std::chrono::milliseconds(timeouts_.total_ms),
                       request.not_after);
  total_length_ = std::max<uint64_t>(request.body.size(), request.total_length);
  // A bad request fails before any I/O and leaves the connection as it was.
  if (request.target.empty() || !BuildHead(request, total_length_, {}, false)) {
    last_error_ = NetError::kIo;
    return false;
  }
  if (abort_.IsSet()) return Failed(NetError::kAborted);

  streamed_ = request.body.size() < total_length_;
  body_kept_ = request.body.size() <= kMaxResendBodyBytes;
  request_.method = request.method;
  request_.target = request.target;
  request_.extra_headers = request.extra_headers;
  request_.credentials = request.credentials;
  request_.body.clear();
  if (body_kept_) request_.body = request.body;
  body_left_ = total_length_ - request.body.size();

  if (streamed_ && body_kept_ && !request.credentials.user.empty() && auth_.scheme() == 0 &&
      !device_ignores_expect_) {
    return SendExpectingContinue();
  }
  const NetError sent = SendRequestHead(request.body, /*answer=*/false, /*expect_continue=*/false);
  if (sent != NetError::kNone) return Failed(sent);
  phase_ = streamed_ ? Phase::kSendingBody : Phase::kAwaitingResponse;
  return true;
}

bool HttpConnection::SendExpectingContinue() {
  awaiting_continue_ = true;
  phase_ = Phase::kAwaitingResponse;
  NetError err = SendRequestHead({}, /*answer=*/false, /*expect_continue=*/true);
  if (err != NetError::kNone) return Failed(err);
  const SteadyTime wait_end =
      std::min(deadline_, SteadyClock::now() + std::chrono::milliseconds(kContinueWaitMs));
  bool head_and_body_sent = false;
  for (;;) {
    HttpResponseHead head;
    err = ReadHead(&head, wait_end);
    if (err == NetError::kTimeout && received_since_send_ == 0 && SteadyClock::now() < deadline_) {
      device_ignores_expect_ = continue_wait_ran_out_ = true;  // it waits for the body: send it
      break;
    }
    if (err != NetError::kNone) return Failed(err);
    if (head.status_code == 100) break;
    if (head.status_code < 200) {
      if (head.status_code == 101) return Failed(NetError::kMalformed);
      if (++interim_responses_ > kMaxInterimResponses) return Failed(NetError::kOverLimit);
      continue;
    }
    const auto framing = DetermineBodyFraming(head, false);
    if (!framing) return Failed(NetError::kMalformed);
    TakeResponse(std::move(head), *framing);
    if (JudgeResponseStep() != Step::kAnswerChallenge) {
      // A final answer before the body: the device will not take it. The
      // answer stays readable; Write() fails; the connection is not reused
      // (the device may still wait for that body).
      framing_.keep_alive = false;
      awaiting_continue_ = false;
      return true;
    }
    if (AnswerChallengeStep() == Step::kFailed) return false;
    head_and_body_sent = true;
    break;
  }
  awaiting_continue_ = false;
  if (!head_and_body_sent && !request_.body.empty()) {
    const SocketError sent =
        socket_.SendAll(request_.body, StepMs(timeouts_.send_ms), &abort_, deadline_);
    if (sent != SocketError::kNone) return Failed(NetErrorFromSocketError(sent));
  }
  phase_ = Phase::kSendingBody;
  return true;
}

bool HttpConnection::Write(std::span<const uint8_t> data) {
  last_error_ = NetError::kNone;
  if (abort_.IsSet()) return Failed(NetError::kAborted);
  if (phase_ == Phase::kReadingBody && has_response_) {
    // The device answered before the body (see SendExpectingContinue).
    last_error_ = head_.status_code == 401 ? NetError::kAuthRefused : NetError::kClosed;
    return false;
  }
  if (phase_ != Phase::kSendingBody) {
    last_error_ = NetError::kIo;
    return false;
  }
  if (data.size() > body_left_) {
    last_error_ = NetError::kOverLimit;
    return false;
  }
  // A peer that answers or closes before the body is complete has ended the
  // exchange: bytes written now would be acknowledged by the kernel and lost.
  // Its answer, when it gave one, is kept (has_response()).
  if (socket_.Wait(POLLIN, 0, nullptr) == SocketError::kNone) {
    HttpResponseHead head;
    const SteadyTime until = SteadyClock::now() + std::chrono::milliseconds(timeouts_.receive_ms);
    if (ReadHead(&head, until) != NetError::kNone || head.status_code < 200) {
      return Failed(NetError::kClosed);
    }
    const auto framing = DetermineBodyFraming(head, false);
    if (!framing) return Failed(NetError::kMalformed);
    TakeResponse(std::move(head), *framing);
    framing_.keep_alive = false;  // the peer may still expect the rest of the body
    // It was only slow to answer: the next upload asks first again, so its
    // body does not go into a refused request.
    if (continue_wait_ran_out_) device_ignores_expect_ = false;
    last_error_ = head_.status_code == 401 ? NetError::kAuthRefused : NetError::kClosed;
    return false;
  }
  const SteadyTime until = SteadyClock::now() + std::chrono::milliseconds(timeouts_.send_ms);
  const SocketError sent = socket_.SendAll(data, timeouts_.send_ms, &abort_, until);
  if (sent != SocketError::kNone) return Failed(NetErrorFromSocketError(sent));
  body_left_ -= data.size();
  if (body_left_ == 0) {
    // The upload may have lasted long: the wait for its answer is a new
    // exchange.
    deadline_ = SteadyClock::now() + std::chrono::milliseconds(timeouts_.total_ms);
    phase_ = Phase::kAwaitingResponse;
  }
  return true;
}

NetError HttpConnection::Fill(SteadyTime deadline, size_t* got) {
  *got = 0;
  if (rbuf_.empty()) {
    rbuf_.reserve(kReceiveBufferBytes);
    rbuf_.resize(kReceiveBufferBytes);
  }
  if (rpos_ == rend_) {
    rpos_ = rend_ = 0;
  } else if (rpos_ > 0 && rend_ == rbuf_.size()) {
    std::memmove(rbuf_.data(), rbuf_.data() + rpos_, rend_ - rpos_);
    rend_ -= rpos_;
    rpos_ = 0;
  }
  // Heads are refused below this size, so a full buffer cannot happen.
  if (rend_ == rbuf_.size()) return NetError::kOverLimit;
  const uint32_t wait = WaitMs(timeouts_.receive_ms, deadline);
  if (wait == 0) return NetError::kTimeout;
  const IoResult r =
      socket_.Receive(std::span(rbuf_.data() + rend_, rbuf_.size() - rend_), wait, &abort_);
  if (!r.ok()) return NetErrorFromSocketError(r.error);
  rend_ += r.bytes;
  received_since_send_ += r.bytes;
  *got = r.bytes;
  return NetError::kNone;
}

NetError HttpConnection::ReadHead(HttpResponseHead* head, SteadyTime deadline) {
  // Bytes after rpos_ already searched for the blank line ending a head; the
  // parser only runs once the end is in sight (or the limit is reached), so a
  // peer that trickles its head byte by byte costs linear, not quadratic, work.
  size_t scanned = 0;
  for (;;) {
    const std::string_view pending(reinterpret_cast<const char*>(rbuf_.data()) + rpos_,
                                   rend_ - rpos_);
    if (LooksLikeTls(pending)) return NetError::kTlsRequired;
    const size_t from = scanned > 2 ? scanned - 2 : 0;
    const bool complete = pending.find("\n\n", from) != std::string_view::npos ||
                          pending.find("\n\r\n", from) != std::string_view::npos;
    scanned = pending.size();
    if (complete || pending.size() >= kMaxHeaderBlockBytes) {
      size_t consumed = 0;
      const HeadParse parsed =
          ParseResponseHead(std::span(rbuf_.data() + rpos_, rend_ - rpos_), head, &consumed);
      if (parsed == HeadParse::kError) return NetError::kMalformed;
      if (parsed == HeadParse::kOverLimit) return NetError::kOverLimit;
      if (parsed == HeadParse::kDone) {
        rpos_ += consumed;
        return NetError::kNone;
      }
    }
    size_t got = 0;
    const NetError err = Fill(deadline, &got);
    if (err != NetError::kNone) return err;
    if (got == 0) return NetError::kClosed;
  }
}

void HttpConnection::TakeResponse(HttpResponseHead head, const BodyFramingInfo& framing) {
  head_ = std::move(head);
  framing_ = framing;
  decoder_.emplace(framing_);
  has_response_ = true;
  phase_ = Phase::kReadingBody;
}

bool HttpConnection::ReceiveResponse() {
  if (phase_ == Phase::kReadingBody && has_response_) return true;
  last_error_ = NetError::kNone;
  if (phase_ != Phase::kAwaitingResponse) {
    last_error_ = abort_.IsSet() ? NetError::kAborted : NetError::kIo;
    return false;
  }
  Step step = Step::kReadHead;
  for (;;) {
    switch (step) {
      case Step::kReadHead:
        step = ReadHeadStep();
        break;
      case Step::kJudgeResponse:
        step = JudgeResponseStep();
        break;
      case Step::kAnswerChallenge:
        step = AnswerChallengeStep();
        break;
      case Step::kResend:
        step = ResendStep();
        break;
      case Step::kDone:
        return true;
      case Step::kFailed:
        return false;
    }
  }
}

HttpConnection::Step HttpConnection::ReadHeadStep() {
  HttpResponseHead head;
  const NetError err = ReadHead(&head, deadline_);
  if (err != NetError::kNone) {
    // A kept-alive connection that the device closed as the request arrived,
    // before any answer: once more on a new connection.
    const bool may_resend = err == NetError::kClosed && sent_on_reused_ &&
                            received_since_send_ == 0 && !resent_ && !streamed_ && body_kept_ &&
                            !abort_.IsSet();
    return may_resend ? Step::kResend : Fail(err);
  }
  if (head.status_code < 200) {
    if (head.status_code == 101) return Fail(NetError::kMalformed);  // we never ask to switch
    if (++interim_responses_ > kMaxInterimResponses) return Fail(NetError::kOverLimit);
    return Step::kReadHead;
  }
  const auto framing = DetermineBodyFraming(head, request_.method == "HEAD");
  if (!framing) return Fail(NetError::kMalformed);
  TakeResponse(std::move(head), *framing);
  return Step::kJudgeResponse;
}

HttpConnection::Step HttpConnection::JudgeResponseStep() {
  if (head_.status_code != 401) return Step::kDone;
  const auto challenges = ParseAuthChallenges(head_.Fields("WWW-Authenticate"));
  const HttpCredentials& cred = request_.credentials;
  // Learn even when this request cannot go again: the next one can answer.
  const bool answer =
      !cred.user.empty() && auth_.OnChallenge(challenges, sent_scheme_, sent_answer_) &&
      challenge_answers_ < kMaxChallengeAnswers && body_kept_ && (!streamed_ || awaiting_continue_);
  if (!answer) {
    last_error_ = NetError::kAuthRefused;
    return Step::kDone;
  }
  return Step::kAnswerChallenge;
}

HttpConnection::Step HttpConnection::AnswerChallengeStep() {
  ++challenge_answers_;
  // Drop the 401 body to answer on the same connection; a long or
  // close-delimited one costs a new connection instead, and so does a
  // refused Expect (the device may still wait for that body).
  if (awaiting_continue_ || !framing_.keep_alive || !DiscardBody()) DropSocket();
  decoder_.reset();
  has_response_ = false;
  head_ = HttpResponseHead();
  phase_ = Phase::kAwaitingResponse;
  const NetError sent = SendRequestHead(request_.body, /*answer=*/true, /*expect_continue=*/false);
  if (sent != NetError::kNone) return Fail(sent);
  return Step::kReadHead;
}

HttpConnection::Step HttpConnection::ResendStep() {
  resent_ = true;
  DropSocket();
  const NetError sent = SendRequestHead(request_.body, sent_answer_, /*expect_continue=*/false);
  if (sent != NetError::kNone) return Fail(sent);
  return Step::kReadHead;
}

bool HttpConnection::DiscardBody() {
  uint8_t scratch[4096];
  size_t total = 0;
  NetError ignored = NetError::kNone;
  for (;;) {
    const auto n = ReadSome(scratch, deadline_, &ignored);
    if (!n) return false;
    if (*n == 0) return true;
    total += *n;
    if (total > kMaxDiscardBodyBytes) return false;
  }
}

std::optional<size_t> HttpConnection::ReadSome(std::span<uint8_t> out, SteadyTime deadline,
                                               NetError* cause) {
  if (abort_.IsSet()) {
    *cause = NetError::kAborted;
    return std::nullopt;
  }
  if (phase_ != Phase::kReadingBody || !decoder_) {
    *cause = NetError::kIo;
    return std::nullopt;
  }
  if (out.empty() || decoder_->done()) return 0;
  // Nothing buffered and a large read inside the payload: receive straight
  // into the caller's buffer, saving a copy. Small reads go through the
  // receive buffer, which takes in much more per system call.
  const uint64_t direct = decoder_->DirectPayloadLimit();
  size_t got = 0;
  if (rpos_ == rend_ && out.size() >= kMinDirectReadBytes && direct > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(out.size(), direct));
    const uint32_t wait = WaitMs(timeouts_.receive_ms, deadline);
    const IoResult r = wait == 0 ? IoResult{SocketError::kTimedOut, 0}
                                 : socket_.Receive(out.first(want), wait, &abort_);
    if (!r.ok()) {
      *cause = NetErrorFromSocketError(r.error);
      return std::nullopt;
    }
    if (r.bytes > 0) {
      decoder_->DirectPayloadReceived(r.bytes);
      return r.bytes;
    }
  } else {
    for (;;) {
      if (rpos_ < rend_) {
        const auto step = decoder_->Decode(std::span(rbuf_.data() + rpos_, rend_ - rpos_), out);
        rpos_ += step.consumed;
        if (decoder_->failed()) {
          *cause = NetError::kMalformed;
          return std::nullopt;
        }
        if (step.produced > 0) return step.produced;
        if (decoder_->done()) return 0;
      }
      const NetError err = Fill(deadline, &got);
      if (err != NetError::kNone) {
        *cause = err;
        return std::nullopt;
      }
      if (got == 0) break;
    }
  }
  // End of stream: the end of a close-delimited body, else cut short.
  decoder_->OnEndOfStream();
  framing_.keep_alive = false;
  if (decoder_->done()) return 0;
  *cause = NetError::kClosed;
  return std::nullopt;
}

std::optional<size_t> HttpConnection::Read(std::span<uint8_t> out) {
  last_error_ = NetError::kNone;
  NetError cause = NetError::kNone;
  const auto n = ReadSome(out, SteadyTime::max(), &cause);
  if (!n) Failed(cause);
  return n;
}

bool HttpConnection::ReadToEnd(std::vector<uint8_t>* body, size_t max_bytes) {
  static constexpr size_t kPieceBytes = 8192;
  last_error_ = NetError::kNone;
  for (;;) {
    const size_t old_size = body->size();
    if (old_size >= max_bytes) {
      if (decoder_ && decoder_->done()) return true;
      last_error_ = NetError::kOverLimit;
      return false;
    }
    const size_t piece = std::min(kPieceBytes, max_bytes - old_size);
    // Grow geometrically, but never past the limit.
    if (old_size + piece > body->capacity()) {
      body->reserve(std::min(max_bytes, std::max(old_size + piece, 2 * body->capacity())));
    }
    body->resize(old_size + piece);
    NetError cause = NetError::kNone;
    const auto n = ReadSome(std::span(body->data() + old_size, piece), deadline_, &cause);
    body->resize(old_size + n.value_or(0));
    if (!n) return Failed(cause);
    if (*n == 0) return true;
  }
}

void HttpConnection::EndRequest() {
  bool reusable = socket_.valid() && phase_ == Phase::kReadingBody && decoder_ &&
                  framing_.keep_alive && !abort_.IsSet() && !awaiting_continue_;
  if (reusable && !decoder_->done()) {
    // Finish the body only from what has already arrived; never block here.
    uint8_t scratch[4096];
    while (rpos_ < rend_ && !decoder_->done() && !decoder_->failed()) {
      const auto step = decoder_->Decode(std::span(rbuf_.data() + rpos_, rend_ - rpos_), scratch);
      rpos_ += step.consumed;
    }
    reusable = decoder_->done();
  }
  if (reusable && rpos_ != rend_) reusable = false;  // bytes beyond the answer: out of step
  if (!reusable) DropSocket();
  rpos_ = rend_ = 0;
  decoder_.reset();
  awaiting_continue_ = false;
  phase_ = Phase::kIdle;
}

}  // namespace korvela::platform
