#include "platform/http_connection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

}  // namespace

HttpConnection::HttpConnection(std::string host, uint16_t port, HttpTimeouts timeouts,
                               std::string user_agent)
    : host_(std::move(host)),
      port_(port),
      timeouts_(timeouts),
      user_agent_(std::move(user_agent)) {}

HttpConnection::~HttpConnection() { Disconnect(); }

void HttpConnection::Disconnect() {
  socket_.Close();
  rpos_ = rend_ = 0;
  reused_ = false;
  decoder_.reset();
  phase_ = Phase::kIdle;
}

void HttpConnection::Fail() {
  socket_.Close();
  rpos_ = rend_ = 0;
  reused_ = false;
  decoder_.reset();
  phase_ = Phase::kBroken;
}

void HttpConnection::ClearAbort() {
  if (!abort_.IsSet()) return;
  abort_.Reset();
  Disconnect();
}

bool HttpConnection::EnsureConnected() {
  if (abort_.IsSet()) return false;
  if (socket_.valid()) {
    // An idle kept-alive connection must be silent: readable means the peer
    // closed it (or sent bytes nobody asked for). Either way start afresh.
    if (rpos_ != rend_ || socket_.Wait(POLLIN, 0, nullptr) != SocketError::kTimedOut) {
      socket_.Close();
      rpos_ = rend_ = 0;
    }
  }
  if (socket_.valid()) return true;
  const uint32_t address = ResolveHostIpv4(host_);
  if (address == 0) return false;
  if (socket_.Connect(Endpoint{address, port_}, timeouts_.connect_ms, &abort_) !=
      SocketError::kNone) {
    return false;
  }
  ++connects_;
  reused_ = false;
  rpos_ = rend_ = 0;
  return true;
}

std::optional<std::string> HttpConnection::BuildHead(const HttpRequestParams& request,
                                                     bool authorize) {
  if (request.method.empty() ||
      !std::all_of(request.method.begin(), request.method.end(), IsTokenChar)) {
    return std::nullopt;
  }
  const std::string target = EncodeTarget(request.target);
  const uint64_t total = std::max<uint64_t>(request.body.size(), request.total_length);

  HeaderList headers;
  headers.emplace_back("Host", port_ == 80 ? host_ : host_ + ":" + std::to_string(port_));
  headers.emplace_back("User-Agent", user_agent_);
  const HttpCredentials& cred = request.credentials;
  if (authorize) sent_digest_ = false;
  if (authorize && !cred.user.empty()) {
    if (cred.scheme == kAuthSchemeBasic) {
      headers.emplace_back("Authorization", BasicAuthorization(cred.user, cred.password));
    } else if (cred.scheme == kAuthSchemeDigest && digest_.ready()) {
      headers.emplace_back("Authorization",
                           digest_.Authorize(request.method, target, cred.user, cred.password));
      sent_digest_ = true;
    }
  }
  if (total > 0 || request.method == "POST" || request.method == "PUT") {
    headers.emplace_back("Content-Length", std::to_string(total));
  }
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
  head.append(request.method).append(" ").append(target).append(" HTTP/1.1\r\n");
  for (const auto& [name, value] : headers)
    head.append(name).append(": ").append(value).append("\r\n");
  head.append("\r\n");
  return head;
}

bool HttpConnection::SendHead(const HttpRequestParams& request, bool* wrote_anything) {
  *wrote_anything = false;
  auto head = BuildHead(request, /*authorize=*/true);
  if (!head) return false;
  std::vector<uint8_t> wire(head->begin(), head->end());
  wire.insert(wire.end(), request.body.begin(), request.body.end());
  *wrote_anything = true;
  return socket_.SendAll(wire, timeouts_.send_ms, &abort_) == SocketError::kNone;
}

bool HttpConnection::Send(const HttpRequestParams& request) {
  if (phase_ != Phase::kIdle) EndRequest();
  has_response_ = false;
  head_ = HttpResponseHead();
  offered_schemes_ = first_offered_scheme_ = 0;
  if (request.method.empty() || request.target.empty()) return false;
  if (abort_.IsSet()) return false;

  const uint64_t total = std::max<uint64_t>(request.body.size(), request.total_length);
  resend_possible_ = request.body.size() == total && total <= kMaxResendBodyBytes;
  resend_.method = request.method;
  resend_.target = request.target;
  resend_.extra_headers = request.extra_headers;
  resend_.total_length = request.total_length;
  resend_.credentials = request.credentials;
  resend_.body.clear();
  if (resend_possible_) resend_.body = request.body;
  method_ = request.method;
  // A bad method or header line fails before any I/O.
  if (!BuildHead(request, /*authorize=*/false)) return false;

  for (int attempt = 0;; ++attempt) {
    if (!EnsureConnected()) {
      Fail();
      return false;
    }
    const bool was_reused = reused_;
    sent_on_reused_ = was_reused;
    bool wrote = false;
    if (SendHead(request, &wrote)) break;
    // A kept-alive connection may have died while idle: one fresh try.
    if (!was_reused || attempt > 0 || abort_.IsSet()) {
      Fail();
      return false;
    }
    socket_.Close();
  }
  reused_ = true;
  body_left_ = total - request.body.size();
  phase_ = body_left_ > 0 ? Phase::kSendingBody : Phase::kAwaitingResponse;
  return true;
}

bool HttpConnection::Write(std::span<const uint8_t> data) {
  if (phase_ != Phase::kSendingBody || data.size() > body_left_) return false;
  if (socket_.SendAll(data, timeouts_.send_ms, &abort_) != SocketError::kNone) {
    Fail();
    return false;
  }
  body_left_ -= data.size();
  if (body_left_ == 0) phase_ = Phase::kAwaitingResponse;
  return true;
}

std::optional<size_t> HttpConnection::Fill() {
  if (rbuf_.empty()) rbuf_.resize(kMaxHeaderBlockBytes + 1);
  if (rpos_ == rend_) {
    rpos_ = rend_ = 0;
  } else if (rpos_ > 0 && rend_ == rbuf_.size()) {
    std::memmove(rbuf_.data(), rbuf_.data() + rpos_, rend_ - rpos_);
    rend_ -= rpos_;
    rpos_ = 0;
  }
  if (rend_ == rbuf_.size()) return std::nullopt;  // cannot happen: heads are bounded below this
  const IoResult r = socket_.Receive(std::span(rbuf_.data() + rend_, rbuf_.size() - rend_),
                                     timeouts_.receive_ms, &abort_);
  last_receive_error_ = r.error;
  if (!r.ok()) return std::nullopt;
  rend_ += r.bytes;
  return r.bytes;
}

bool HttpConnection::ReadHead() {
  // Bytes after rpos_ already searched for the blank line ending a head; the
  // parser only runs once the end is in sight (or the limit is reached), so a
  // peer that trickles its head byte by byte costs linear, not quadratic, work.
  size_t scanned = 0;
  for (;;) {
    const std::string_view pending(reinterpret_cast<const char*>(rbuf_.data()) + rpos_,
                                   rend_ - rpos_);
    const size_t from = scanned > 2 ? scanned - 2 : 0;
    const bool complete = pending.find("\n\n", from) != std::string_view::npos ||
                          pending.find("\n\r\n", from) != std::string_view::npos;
    scanned = pending.size();
    if (complete || pending.size() >= kMaxHeaderBlockBytes) {
      HttpResponseHead head;
      size_t consumed = 0;
      const HeadParse parsed =
          ParseResponseHead(std::span(rbuf_.data() + rpos_, rend_ - rpos_), &head, &consumed);
      if (parsed == HeadParse::kError) return false;
      if (parsed == HeadParse::kDone) {
        rpos_ += consumed;
        scanned = 0;
        if (head.status_code == 101) return false;  // we never ask to switch protocols
        if (head.status_code < 200) continue;       // interim answer (100 Continue, ...)
        const auto framing = DetermineBodyFraming(head, method_ == "HEAD");
        if (!framing) return false;
        head_ = std::move(head);
        framing_ = *framing;
        decoder_.emplace(framing_);
        return true;
      }
    }
    const auto got = Fill();
    if (!got || *got == 0) return false;
  }
}

bool HttpConnection::DiscardBody() {
  uint8_t scratch[4096];
  size_t total = 0;
  for (;;) {
    const auto n = Read(scratch);
    if (!n) return false;
    if (*n == 0) return true;
    total += *n;
    if (total > kMaxDiscardBodyBytes) return false;
  }
}

bool HttpConnection::ReceiveResponse() {
  if (phase_ != Phase::kAwaitingResponse) return false;
  bool answered_digest = false;
  bool retried_stale_connection = false;
  for (;;) {
    const bool nothing_buffered = rpos_ == rend_;
    last_receive_error_ = SocketError::kNone;
    if (!ReadHead()) {
      // A reused connection that the peer closed just as we sent: once more
      // on a new one, when nothing of an answer arrived.
      const bool closed_by_peer = last_receive_error_ == SocketError::kNone ||
                                  last_receive_error_ == SocketError::kConnectionReset;
      if (sent_on_reused_ && closed_by_peer && nothing_buffered && rend_ == 0 &&
          !retried_stale_connection && resend_possible_ && !abort_.IsSet()) {
        retried_stale_connection = true;
        sent_on_reused_ = false;
        socket_.Close();
        bool wrote = false;
        if (EnsureConnected() && SendHead(resend_, &wrote)) {
          reused_ = true;
          continue;
        }
      }
      Fail();
      return false;
    }
    has_response_ = true;
    if (head_.status_code != 401) break;

    const auto challenges = ParseAuthChallenges(head_.Fields("WWW-Authenticate"));
    for (const AuthChallenge& c : challenges) {
      if (c.scheme_bit == 0) continue;
      if (first_offered_scheme_ == 0) first_offered_scheme_ = c.scheme_bit;
      offered_schemes_ |= c.scheme_bit;
    }
    const std::string used_nonce = digest_.nonce();
    DigestAuthenticator candidate = digest_;
    if (!candidate.AcceptFirst(challenges)) break;
    bool stale = false;
    for (const AuthChallenge& c : challenges) {
      if (c.scheme_bit == kAuthSchemeDigest &&
          EqualsIgnoreCase(c.Param("stale").value_or(""), "true")) {
        stale = true;
      }
    }
    // Remember the challenge even when this request used another scheme: a
    // later request with Digest credentials can then answer it at once.
    const bool wants_digest =
        resend_.credentials.scheme == kAuthSchemeDigest && !resend_.credentials.user.empty();
    const bool rejected_answer = sent_digest_ && !stale && candidate.nonce() == used_nonce;
    digest_ = candidate;
    if (!wants_digest || answered_digest || !resend_possible_ || rejected_answer) break;

    // Answer the challenge: drop the 401 body, then resend with credentials.
    answered_digest = true;
    phase_ = Phase::kReadingBody;
    if (!DiscardBody() || !framing_.keep_alive) {
      socket_.Close();
      rpos_ = rend_ = 0;
    }
    decoder_.reset();
    has_response_ = false;
    offered_schemes_ = first_offered_scheme_ = 0;
    phase_ = Phase::kAwaitingResponse;
    bool wrote = false;
    if (!EnsureConnected() || !SendHead(resend_, &wrote)) {
      Fail();
      return false;
    }
    reused_ = true;
  }
  phase_ = Phase::kReadingBody;
  return true;
}

std::optional<size_t> HttpConnection::Read(std::span<uint8_t> out) {
  if (phase_ != Phase::kReadingBody || !decoder_) return std::nullopt;
  if (out.empty() || decoder_->done()) return 0;
  // Nothing buffered and a large read inside the payload: receive straight
  // into the caller's buffer, saving a copy. Small reads go through the
  // receive buffer, which takes in much more per system call.
  if (rpos_ == rend_ && out.size() >= kMinDirectReadBytes) {
    const uint64_t limit = decoder_->DirectPayloadLimit();
    if (limit > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(out.size(), limit));
      const IoResult r = socket_.Receive(out.first(want), timeouts_.receive_ms, &abort_);
      last_receive_error_ = r.error;
      if (!r.ok()) {
        Fail();
        return std::nullopt;
      }
      if (r.bytes > 0) {
        decoder_->DirectPayloadReceived(r.bytes);
        return r.bytes;
      }
      decoder_->OnEndOfStream();
      framing_.keep_alive = false;
      if (decoder_->done()) return 0;
      Fail();
      return std::nullopt;
    }
  }
  for (;;) {
    if (rpos_ < rend_) {
      const auto step = decoder_->Decode(std::span(rbuf_.data() + rpos_, rend_ - rpos_), out);
      rpos_ += step.consumed;
      if (decoder_->failed()) {
        Fail();
        return std::nullopt;
      }
      if (step.produced > 0) return step.produced;
      if (decoder_->done()) return 0;
    }
    const auto got = Fill();
    if (!got) {
      Fail();
      return std::nullopt;
    }
    if (*got == 0) {
      decoder_->OnEndOfStream();
      framing_.keep_alive = false;
      if (decoder_->done()) return 0;
      Fail();
      return std::nullopt;
    }
  }
}

void HttpConnection::EndRequest() {
  bool reusable = socket_.valid() && phase_ == Phase::kReadingBody && decoder_ &&
                  framing_.keep_alive && !abort_.IsSet();
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
  if (!reusable) {
    socket_.Close();
    reused_ = false;
  }
  rpos_ = rend_ = 0;
  decoder_.reset();
  phase_ = Phase::kIdle;
}

}  // namespace korvela::platform
