#include "device/http_sender.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace korvela::Web {
namespace {

platform::HttpTimeouts TimeoutsOf(const DEVICE_INFO& device) {
  // One time-out for every step, as the device description gives it.
  return platform::HttpTimeouts::Uniform(device.connect_timeout_ms);
}

}  // namespace

CHttpSender::CHttpSender(const DEVICE_INFO& device)
    : device_(device), connection_(device.address, device.port, TimeoutsOf(device), kAgent) {}

CHttpSender::~CHttpSender() {
  MutexLock lock(mu_);
  CloseRequestLocked();
  // The connection closes itself when destroyed.
}

bool CHttpSender::LeaveCallLocked() {
  in_call_ = false;
  return !connection_.aborted();
}

void CHttpSender::CloseRequestLocked() {
  if (request_open_) connection_.EndRequest();
  request_open_ = false;
}

void CHttpSender::CloseRequest() {
  MutexLock lock(mu_);
  if (in_call_) {
    // The owner is blocked in a network step: make it fail at once; it
    // cleans up itself.
    request_open_ = false;
    connection_.Abort();
    return;
  }
  CloseRequestLocked();
}

void CHttpSender::StopRequests() {
  MutexLock lock(mu_);
  stopped_ = true;
  if (in_call_) {
    request_open_ = false;
    connection_.Abort();
    return;
  }
  CloseRequestLocked();
}

void CHttpSender::AllowRequests() {
  MutexLock lock(mu_);
  stopped_ = false;
}

void CHttpSender::SetDeadlineIn(uint32_t ms) {
  MutexLock lock(mu_);
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

void CHttpSender::ClearDeadline() {
  MutexLock lock(mu_);
  deadline_ = platform::SteadyTime::max();
}

bool CHttpSender::Usable() const { return connection_.usable(); }

platform::NetError CHttpSender::Fail(platform::NetError cause) {
  last_error_ = cause;
  return cause;
}

platform::NetError CHttpSender::TransportError() const {
  if (connection_.aborted()) return platform::NetError::kAborted;
  const platform::NetError cause = connection_.last_error();
  return cause != platform::NetError::kNone ? cause : platform::NetError::kIo;
}

SendResult CHttpSender::SendRequest(const HttpRequest& request) {
  using platform::NetError;
  MutexLock lock(mu_);
  CloseRequestLocked();
  if (stopped_) return {Fail(NetError::kAborted)};
  if (std::chrono::steady_clock::now() >= deadline_) return {Fail(NetError::kTimeout)};
  connection_.ClearAbort();
  if (request.verb.empty() || request.object.empty()) return {Fail(NetError::kIo)};
  // No TLS in this client; a secure request fails rather than going out
  // in clear text.
  if (request.secure != 0) return {Fail(NetError::kTlsRequired)};
  if (request.auth_type > kAuthTypeNone) return {Fail(NetError::kIo)};

  platform::HttpRequestParams params;
  params.method = request.verb;
  params.target = request.object;
  params.extra_headers = request.headers;
  params.body = request.body;
  params.total_length = request.total_length;
  params.not_after = deadline_;
  // The connection answers the device's challenge itself, with the
  // strongest scheme offered; nothing goes out before it asks.
  if (!device_.user_name.empty() && request.auth_type != kAuthTypeNone) {
    params.credentials.user = device_.user_name;
    params.credentials.password = device_.password;
  }
  const bool upload_continues = request.body.size() < request.total_length;
  const bool wait_for_response = !upload_continues && !(request.flags & kFlagNoWaitForResponse);

  in_call_ = true;
  lock.Unlock();
  bool ok = connection_.Send(params);
  if (ok && wait_for_response) ok = connection_.ReceiveResponse();
  lock.Lock();
  if (!LeaveCallLocked() || !ok) {
    const NetError cause = TransportError();
    connection_.EndRequest();
    request_open_ = false;
    return {Fail(cause)};
  }
  if (!wait_for_response) {
    if (upload_continues) status_code_ = 0;  // until the device answers the upload
    if (upload_continues && connection_.has_response()) {
      // The device gave its final answer (a refusal) before taking the body:
      // the upload never began.
      status_code_ = static_cast<uint32_t>(connection_.response().status_code);
      connection_.EndRequest();
      request_open_ = false;
      return {Fail(status_code_ == 401 ? NetError::kAuthRefused : NetError::kIo)};
    }
    request_open_ = true;
    return {Fail(NetError::kNone)};
  }

  const platform::HttpResponseHead& head = connection_.response();
  status_code_ = 0;
  content_length_ = 0;
  status_code_ = static_cast<uint32_t>(head.status_code);
  if (auto value = head.Field("Content-Length")) {
    if (auto n = platform::ParseContentLength(*value)) {
      content_length_ =
          static_cast<uint32_t>(std::min<uint64_t>(*n, std::numeric_limits<uint32_t>::max()));
    }
  }

  auth_scheme_ = connection_.auth_scheme();
  request_open_ = true;
  // A 401 that came back is a response: its status says the rest.
  return {Fail(NetError::kNone)};
}

uint32_t CHttpSender::ReadAll(std::vector<uint8_t>& body, uint32_t max_bytes) {
  body.clear();
  const size_t cap = std::min(max_bytes, kMaxReadAllBytes);
  MutexLock lock(mu_);
  if (!request_open_) return 0;
  in_call_ = true;
  lock.Unlock();
  // Bounded by the exchange deadline as well as by the cap.
  const bool ok = connection_.ReadToEnd(&body, cap);
  lock.Lock();
  Fail(LeaveCallLocked() && ok ? platform::NetError::kNone : TransportError());
  return static_cast<uint32_t>(body.size());
}

uint32_t CHttpSender::ReadChunk(std::vector<uint8_t>& chunk) {
  chunk.resize(GetReadChunkSize());
  chunk.resize(Read(chunk));
  return static_cast<uint32_t>(chunk.size());
}

uint32_t CHttpSender::Read(std::span<uint8_t> out) {
  out = out.first(std::min<size_t>(out.size(), std::numeric_limits<uint32_t>::max()));
  MutexLock lock(mu_);
  if (!request_open_) return 0;
  in_call_ = true;
  lock.Unlock();
  const auto n = connection_.Read(out);
  lock.Lock();
  if (!LeaveCallLocked() || !n) {
    Fail(TransportError());
    return 0;
  }
  Fail(platform::NetError::kNone);
  return static_cast<uint32_t>(*n);
}

bool CHttpSender::WriteData(const std::vector<uint8_t>& data) {
  if (data.empty()) return false;
  MutexLock lock(mu_);
  if (!request_open_) return false;
  in_call_ = true;
  lock.Unlock();
  const bool ok = connection_.Write(data);
  lock.Lock();
  // The device answered the upload before its end: its status tells why.
  if (!ok && connection_.has_response())
    status_code_ = static_cast<uint32_t>(connection_.response().status_code);
  if (!LeaveCallLocked() || !ok) {
    Fail(TransportError());
    return false;
  }
  Fail(platform::NetError::kNone);
  return true;
}

void CHttpSender::SetCredentials(const std::string& user, const std::string& password) {
  MutexLock lock(mu_);
  device_.user_name = user;
  device_.password = password;
  CloseRequestLocked();
}

platform::NetError CHttpSender::last_error() const {
  MutexLock lock(mu_);
  return last_error_;
}

uint32_t CHttpSender::GetStatusCode() const {
  MutexLock lock(mu_);
  return status_code_;
}

uint32_t CHttpSender::GetContentLength() const {
  MutexLock lock(mu_);
  return content_length_;
}

uint32_t CHttpSender::GetAuthScheme() const {
  MutexLock lock(mu_);
  return auth_scheme_;
}

bool CHttpSender::IsRequestOpen() const {
  MutexLock lock(mu_);
  return request_open_;
}

void CHttpSender::SetReadChunkSize(uint32_t bytes) {
  MutexLock lock(mu_);
  read_chunk_size_ = std::max<uint32_t>(bytes, 1);
}

uint32_t CHttpSender::GetReadChunkSize() const {
  MutexLock lock(mu_);
  return read_chunk_size_;
}

std::string CHttpSender::GetAddress() const {
  MutexLock lock(mu_);
  return device_.address;
}

uint16_t CHttpSender::GetPort() const {
  MutexLock lock(mu_);
  return device_.port;
}

std::string CHttpSender::GetUserName() const {
  MutexLock lock(mu_);
  return device_.user_name;
}

std::string CHttpSender::GetPassword() const {
  MutexLock lock(mu_);
  return device_.password;
}

uint32_t CHttpSender::GetConnectCount() const {
  MutexLock lock(mu_);
  return connection_.connects();
}

}  // namespace korvela::Web
