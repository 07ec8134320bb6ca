// CBaseRTSPClient: the control side of one RTSP session (RFC 2326) over one
// TCP connection, one request at a time: DESCRIBE, SETUP, PLAY, TEARDOWN and
// OPTIONS with Basic or Digest credentials, each reply framed by its header
// block and Content-Length and handed to the embedded CRTSPResponseParser.
//
// Every wait (connect, send, each read of a reply) is bounded by its time-out
// and ends at once when the stop event given with SetStopEvent is signalled;
// a whole exchange (request and reply) ends at a total deadline of
// kExchangeDeadlineTimeouts receive time-outs, so a peer that trickles cannot
// hold it. A reply that cannot be framed closes the connection: what
// follows on it could not be told apart from the next reply.
//
// Threading: not thread-safe; the owner (a channel's worker thread) calls it
// from one thread at a time. Only the stop event is touched by other threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/http_auth.h"
#include "platform/net_error.h"
#include "platform/socket.h"
#include "rtsp/rtsp_reply_framer.h"
#include "rtsp/rtsp_response_parser.h"

namespace korvela {

struct RtspClientSettings {
  uint16_t port = 554;
  uint16_t clientRtpPort = 0;   // local RTP port announced in SETUP
  uint16_t clientRtcpPort = 0;  // local RTCP port announced in SETUP
  std::string host;             // name or dotted address
  std::string userName;
  std::string password;
  uint32_t connectTimeoutMs = 5000;
  uint32_t receiveTimeoutMs = 5000;        // bound of each wait for reply bytes
  uint32_t receiveBufferSize = 65536;      // bytes asked of one read
  uint32_t defaultSessionTimeoutSec = 60;  // when the Session header names none
  uint32_t authScheme = kAuthNone;         // scheme to send; switched by the 401 retry
  std::string path;                        // appended to the base URL
  uint32_t mediaSelector = kMediaVideo;    // SDP medium that SETUP uses
};

class CBaseRTSPClient {
 public:
  // The total deadline of one exchange, in receive time-outs.
  static constexpr uint32_t kExchangeDeadlineTimeouts = 2;
  // Bytes read per receive call at most.
  static constexpr size_t kMaxReadBytes = 64 * 1024;

  CBaseRTSPClient() = default;
  // Builds the request text of `method`; empty when none is to be sent. Each
  // call takes the next CSeq.
  virtual std::string BuildRequest(uint32_t method);
  virtual ~CBaseRTSPClient();
  CBaseRTSPClient(const CBaseRTSPClient&) = delete;
  CBaseRTSPClient& operator=(const CBaseRTSPClient&) = delete;

  // The event that aborts every wait (the channel's stop event); null: none.
  // It must outlive the client's calls.
  void SetStopEvent(platform::Event* stop) { stop_ = stop; }

  // True at once when connected (the old settings stay); otherwise copies
  // `settings` and connects within connectTimeoutMs.
  bool Connect(const RtspClientSettings& settings);
  void Disconnect();
  bool IsConnected() const { return connected_; }

  // One request and its reply; the parser's result for the reply.
  bool Transact(uint32_t method);
  // Transact with one repeat after a 401 that offers a scheme (or a fresh
  // Digest nonce) we have not answered; true only for a 2xx status.
  bool Execute(uint32_t method);

  uint32_t GetStatusCode() const { return parser_.GetStatusCode(); }
  const std::string& GetSessionId() const { return parser_.GetSessionId(); }
  const std::vector<uint8_t>& GetSps() const { return parser_.GetSps(); }
  const std::vector<uint8_t>& GetPps() const { return parser_.GetPps(); }
  const CRTSPResponseParser& GetParser() const { return parser_; }
  const RtspClientSettings& GetSettings() const { return settings_; }
  // Session time-out (the server's, else the default) in ms.
  uint32_t GetSessionTimeoutMs() const;
  // Why the last Connect or Transact failed; kNone after success and after a
  // well-formed reply with a failing status (GetStatusCode tells).
  platform::NetError GetLastError() const { return lastError_; }

  // The URLs requests go to (exposed for the owners' logs and tests).
  std::string BaseUrl() const;
  std::string TrackUrl() const;

 private:
  std::string AuthorizationLine(uint32_t method);
  bool SendRequest(const std::string& request, platform::SteadyTime deadline);
  bool ReadReply(std::string* reply, platform::SteadyTime deadline);
  void Fail(platform::NetError error);

  RtspClientSettings settings_;
  CRTSPResponseParser parser_;
  platform::TcpSocket socket_;
  bool connected_ = false;
  platform::Event* stop_ = nullptr;
  platform::NetError lastError_ = platform::NetError::kNone;
  // Bytes read past the end of the last reply (the start of the next one).
  std::string pending_;
  RtspReplyFramer framer_;
  platform::DigestAuthenticator digest_;
  uint32_t digestSerial_ = 0;  // parser challenge the authenticator holds
  // The Digest nonce the last request was sent with; empty: none.
  std::string sentNonce_;
};

}  // namespace korvela
