#include "rtsp/base_rtsp_client.h"

#include <algorithm>
#include <chrono>

#include "util/str_format.h"

namespace korvela {
namespace {

using platform::NetError;
using platform::SocketError;
using SteadyClock = std::chrono::steady_clock;

constexpr char kVersion[] = "RTSP/1.0\r\n";
constexpr char kUserAgent[] = "User-Agent: Korvela\r\n";
constexpr size_t kMinReadBytes = 256;

}  // namespace

CBaseRTSPClient::~CBaseRTSPClient() { Disconnect(); }

bool CBaseRTSPClient::Connect(const RtspClientSettings& settings) {
  if (connected_) return true;
  settings_ = settings;
  pending_.clear();
  const uint32_t address = platform::ResolveHostIpv4(settings_.host);
  if (address == 0) {
    Fail(NetError::kResolve);
    return false;
  }
  const SocketError err = socket_.Connect(platform::Endpoint{address, settings_.port},
                                          settings_.connectTimeoutMs, stop_);
  if (err != SocketError::kNone) {
    socket_.Close();
    Fail(platform::NetErrorFromSocketError(err));
    return false;
  }
  connected_ = true;
  lastError_ = NetError::kNone;
  return true;
}

void CBaseRTSPClient::Disconnect() {
  socket_.Close();
  connected_ = false;
  pending_.clear();
}

void CBaseRTSPClient::Fail(NetError error) { lastError_ = error; }

uint32_t CBaseRTSPClient::GetSessionTimeoutMs() const {
  uint32_t seconds = parser_.GetSessionTimeoutSec();
  if (seconds == 0) seconds = settings_.defaultSessionTimeoutSec;
  seconds = std::min(seconds, CRTSPResponseParser::kMaxSessionTimeoutSec);
  return seconds * 1000;
}

std::string CBaseRTSPClient::BaseUrl() const {
  const std::string& base = parser_.GetContentBase();
  if (base.find("rtsp://") != std::string::npos) return base;
  std::string url = StrFormat("rtsp://%s:%u/", settings_.host.c_str(), settings_.port);
  const size_t first = settings_.path.find_first_not_of('/');
  if (first != std::string::npos) url += settings_.path.substr(first);
  return url;
}

std::string CBaseRTSPClient::TrackUrl() const {
  const std::string& control = parser_.GetMedia(settings_.mediaSelector).control;
  if (control.find("://") != std::string::npos) return control;
  std::string url = BaseUrl();
  if (control.empty()) return url;
  if (!url.empty() && url.back() == '/') url.pop_back();
  if (control.front() != '/') url += '/';
  return url + control;
}

std::string CBaseRTSPClient::AuthorizationLine(uint32_t method) {
  sentNonce_.clear();
  if (settings_.authScheme == kAuthBasic) {
    return "Authorization: " +
           platform::BasicAuthorization(settings_.userName, settings_.password) + "\r\n";
  }
  if (settings_.authScheme != kAuthDigest || parser_.GetOfferedAuthScheme() != kAuthDigest) {
    return {};
  }
  // The URI is the base URL for every method, SETUP included.
  const std::string uri = BaseUrl();
  if (parser_.GetRealm().empty() || parser_.GetNonce().empty() || settings_.userName.empty() ||
      settings_.password.empty() || uri.empty()) {
    return {};
  }
  if (digestSerial_ != parser_.GetChallengeSerial()) {
    if (!digest_.Accept(parser_.GetChallenge())) return {};
    digestSerial_ = parser_.GetChallengeSerial();
  }
  sentNonce_ = digest_.nonce();
  return "Authorization: " +
         digest_.Authorize(RtspMethodToken(method), uri, settings_.userName, settings_.password) +
         "\r\n";
}

std::string CBaseRTSPClient::BuildRequest(uint32_t method) {
  const std::string cseq = StrFormat("CSeq: %u\r\n", parser_.NextCSeq());
  const std::string& session_id = parser_.GetSessionId();
  const std::string session =
      session_id.empty() ? std::string() : StrFormat("Session: %s\r\n", session_id.c_str());
  if (method == kRtspSetup) {
    const std::string& profile = parser_.GetMedia(settings_.mediaSelector).transportProfile;
    const std::string transport = StrFormat("Transport: %s;unicast;client_port=%u-%u\r\n",
                                            profile.empty() ? "RTP/AVP/UDP" : profile.c_str(),
                                            settings_.clientRtpPort, settings_.clientRtcpPort);
    return StrFormat("SETUP %s %s%s%s%s%s\r\n", TrackUrl().c_str(), kVersion, cseq.c_str(),
                     AuthorizationLine(method).c_str(), transport.c_str(), kUserAgent);
  }
  if (method == kRtspTeardown && session_id.empty()) return {};
  const char* token = RtspMethodToken(method);
  if (*token == '\0') return {};
  const std::string url = BaseUrl();
  const std::string auth = AuthorizationLine(method);
  switch (method) {
    case kRtspDescribe:
      return StrFormat("DESCRIBE %s %s%s%s%s%s\r\n", url.c_str(), kVersion, cseq.c_str(),
                       auth.c_str(), kUserAgent, "Accept: application/sdp\r\n");
    case kRtspPlay:
      return StrFormat("PLAY %s %s%s%s%s%s%s\r\n", url.c_str(), kVersion, cseq.c_str(),
                       auth.c_str(), session.c_str(), "Range: npt=0.000-\r\n", kUserAgent);
    default:  // TEARDOWN, OPTIONS
      return StrFormat("%s %s %s%s%s%s%s\r\n", token, url.c_str(), kVersion, cseq.c_str(),
                       auth.c_str(), session.c_str(), kUserAgent);
  }
}

bool CBaseRTSPClient::SendRequest(const std::string& request, platform::SteadyTime deadline) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(request.data());
  const SocketError err =
      socket_.SendAll({bytes, request.size()}, settings_.receiveTimeoutMs, stop_, deadline);
  if (err == SocketError::kNone) return true;
  Fail(platform::NetErrorFromSocketError(err));
  Disconnect();
  return false;
}

bool CBaseRTSPClient::ReadReply(std::string* reply, platform::SteadyTime deadline) {
  constexpr size_t kMaxBuffered = RtspReplyFramer::kMaxHeaderBytes + RtspReplyFramer::kMaxBodyBytes;
  const size_t read_size =
      std::clamp<size_t>(settings_.receiveBufferSize, kMinReadBytes, kMaxReadBytes);
  framer_.Reset();
  for (;;) {
    switch (framer_.Examine(pending_)) {
      case RtspReplyFramer::Status::kComplete:
        reply->assign(pending_, 0, framer_.length());
        pending_.erase(0, framer_.length());
        return true;
      case RtspReplyFramer::Status::kOverLimit:
        Fail(NetError::kOverLimit);
        Disconnect();
        return false;
      case RtspReplyFramer::Status::kMalformed:
        Fail(NetError::kMalformed);
        Disconnect();
        return false;
      case RtspReplyFramer::Status::kNeedMore:
        break;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    const size_t room = kMaxBuffered - std::min(kMaxBuffered, pending_.size());
    if (left <= 0 || room == 0) {
      Fail(left <= 0 ? NetError::kTimeout : NetError::kOverLimit);
      Disconnect();
      return false;
    }
    const size_t old_size = pending_.size();
    pending_.resize(old_size + std::min(read_size, room));
    const uint32_t wait = static_cast<uint32_t>(
        std::min<int64_t>(left, static_cast<int64_t>(settings_.receiveTimeoutMs)));
    const platform::IoResult r = socket_.Receive(
        {reinterpret_cast<uint8_t*>(pending_.data()) + old_size, pending_.size() - old_size}, wait,
        stop_);
    pending_.resize(old_size + r.bytes);
    if (!r.ok()) {
      Fail(platform::NetErrorFromSocketError(r.error));
      Disconnect();
      return false;
    }
    if (r.bytes == 0) {
      // The server closed the connection: what arrived is all there is.
      const bool any = !pending_.empty();
      *reply = std::move(pending_);
      Disconnect();
      if (!any) Fail(NetError::kClosed);
      return any;
    }
  }
}

bool CBaseRTSPClient::Transact(uint32_t method) {
  if (!connected_) {
    Fail(NetError::kClosed);
    return false;
  }
  lastError_ = NetError::kNone;
  const std::string request = BuildRequest(method);
  if (request.empty()) return false;
  const auto deadline =
      SteadyClock::now() +
      std::chrono::milliseconds(uint64_t{settings_.receiveTimeoutMs} * kExchangeDeadlineTimeouts);
  std::string reply;
  if (!SendRequest(request, deadline) || !ReadReply(&reply, deadline)) return false;
  const bool ok = parser_.Parse(reply, method);
  const uint32_t status = parser_.GetStatusCode();
  if (!ok && (status == 200 || status == 401)) Fail(NetError::kMalformed);
  return ok;
}

bool CBaseRTSPClient::Execute(uint32_t method) {
  bool ok = Transact(method);
  if (ok && parser_.GetStatusCode() == 401) {
    const uint32_t offered = parser_.GetOfferedAuthScheme();
    // A stale or connection-bound Digest nonce is answered once with the new one.
    const bool fresh_nonce = offered == kAuthDigest && parser_.GetNonce() != sentNonce_;
    if (offered != kAuthNone && (offered != settings_.authScheme || fresh_nonce)) {
      settings_.authScheme = offered;
      ok = Transact(method);
    }
    if (ok && parser_.GetStatusCode() == 401) Fail(NetError::kAuthRefused);
  }
  const uint32_t status = parser_.GetStatusCode();
  return ok && status >= 200 && status <= 299;
}

}  // namespace korvela
