// CRTSPResponseParser: the text of one RTSP reply (RFC 2326) turned into the
// state the client and the channels need: status, CSeq, session and its
// time-out, the server's authentication challenge and, for DESCRIBE, the SDP
// (RFC 4566) media records with the H.264 parameter sets (RFC 6184
// sprop-parameter-sets) or the MPEG-4 "config" bytes.
//
// Fields persist from reply to reply; each reply overwrites what it carries
// (a failed parse keeps whatever it had set before the failing line).
//
// Threading: none of its own; used by the thread that owns the RTSP client.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_auth.h"

namespace korvela {

// Method codes of the client's requests (also the Digest method token).
enum RtspMethod : uint32_t {
  kRtspDescribe = 1,
  kRtspSetup = 2,
  kRtspPlay = 3,
  kRtspTeardown = 4,
  kRtspOptions = 5,
};
// "DESCRIBE" ... "OPTIONS"; "" for any other code.
const char* RtspMethodToken(uint32_t method);

// Authentication schemes, both sent and offered.
enum AuthScheme : uint32_t { kAuthNone = 0, kAuthBasic = 1, kAuthDigest = 2 };

// SDP media records by selector.
enum MediaSelector : uint32_t { kMediaVideo = 1, kMediaAudio = 2, kMediaData = 3 };

struct RtspMediaRecord {
  std::string control;           // "a=control" of the medium
  std::string transportProfile;  // third token of its "m=" line, e.g. "RTP/AVP"
};

class CRTSPResponseParser {
 public:
  // Longest single token (protocol, content type, control); longer fails.
  static constexpr size_t kMaxTokenLength = 254;
  // Largest decoded parameter set; a longer one fails the fmtp line.
  static constexpr size_t kMaxParameterSetBytes = 1024;
  // A session time-out beyond a day is taken as a day (keeps ms in 32 bits).
  static constexpr uint32_t kMaxSessionTimeoutSec = 86400;

  CRTSPResponseParser() = default;
  virtual ~CRTSPResponseParser() = default;

  // Parses one whole reply to the request `method`; only DESCRIBE reads a
  // body. True for a well-formed 200 or 401 reply (and, for DESCRIBE with a
  // body, a well-formed SDP); any other status returns false with the status
  // code stored.
  bool Parse(std::string_view reply, uint32_t method);

  const std::string& GetProtocol() const { return protocol_; }
  uint32_t GetStatusCode() const { return statusCode_; }
  uint32_t GetCSeq() const { return cseq_; }
  // The client's request counter: the last reply's CSeq plus one.
  uint32_t NextCSeq() { return ++cseq_; }
  const std::string& GetContentBase() const { return contentBase_; }
  const std::string& GetContentType() const { return contentType_; }
  uint32_t GetContentLength() const { return contentLength_; }
  const std::string& GetSessionId() const { return sessionId_; }
  uint32_t GetSessionTimeoutSec() const { return sessionTimeoutSec_; }
  // The record of selector 1..3; an empty record for any other selector.
  const RtspMediaRecord& GetMedia(uint32_t selector) const;
  uint32_t GetOfferedAuthScheme() const { return offeredAuthScheme_; }
  const std::string& GetRealm() const { return realm_; }
  const std::string& GetNonce() const { return nonce_; }
  // The whole challenge behind realm and nonce (qop, opaque, algorithm), and a
  // number that changes whenever a new one is stored.
  const platform::AuthChallenge& GetChallenge() const { return challenge_; }
  uint32_t GetChallengeSerial() const { return challengeSerial_; }
  const std::vector<uint8_t>& GetSps() const { return sps_; }
  const std::vector<uint8_t>& GetPps() const { return pps_; }
  const std::vector<uint8_t>& GetConfig() const { return config_; }

 private:
  bool ParseStatusLine(std::string_view line);
  bool ParseHeader(std::string_view line, bool* first_challenge);
  bool OnSession(std::string_view value);
  bool OnAuthenticate(std::string_view value, bool* first_challenge);
  bool ParseSdp(std::string_view body);
  bool OnMediaLine(std::string_view value);
  bool OnControl(std::string_view value);
  bool OnFmtp(std::string_view value);

  std::string protocol_;
  uint32_t statusCode_ = 0;
  uint32_t cseq_ = 0;
  std::string contentBase_;
  std::string contentType_;
  uint32_t contentLength_ = 0;
  std::string sessionId_;
  uint32_t sessionTimeoutSec_ = 0;
  std::array<RtspMediaRecord, 3> media_;
  uint32_t offeredAuthScheme_ = kAuthNone;
  std::string realm_;
  std::string nonce_;
  platform::AuthChallenge challenge_;
  uint32_t challengeSerial_ = 0;
  std::vector<uint8_t> sps_;
  std::vector<uint8_t> pps_;
  std::vector<uint8_t> config_;
  // SDP: the medium whose first control line is still to come (0: none).
  uint32_t currentSelector_ = 0;
};

}  // namespace korvela
