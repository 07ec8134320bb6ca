#include "rtsp/rtsp_response_parser.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "util/base64.h"

namespace korvela {
namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kSps = {0x67, 0x42, 0x00, 0x29, 0xe2, 0x90};  // "Z0IAKeKQ"
const Bytes kPps = {0x68, 0xce, 0x31, 0xb2};              // "aM4xsg=="

// A DESCRIBE reply with `sdp` as its body (CR LF lines unless `sdp` uses LF).
std::string Describe(const std::string& sdp, const std::string& headers = "") {
  return "RTSP/1.0 200 OK\r\nCSeq: 2\r\n" + headers +
         "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(sdp.size()) +
         "\r\n\r\n" + sdp;
}

std::string Video(const std::string& attributes) {
  return "v=0\r\no=- 1 1 IN IP4 0.0.0.0\r\ns=x\r\nt=0 0\r\na=control:*\r\n"
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n" +
         attributes;
}

struct Case {
  const char* name;
  std::vector<std::string> earlier;  // replies parsed first (to OPTIONS)
  std::string reply;
  uint32_t method;
  bool ok;
  std::function<void(const CRTSPResponseParser&)> check;
};

TEST(CRTSPResponseParserTest, Replies) {
  const std::string long_token(CRTSPResponseParser::kMaxTokenLength, 'c');
  const Bytes max_set(CRTSPResponseParser::kMaxParameterSetBytes, 0x42);
  const Bytes over_set(CRTSPResponseParser::kMaxParameterSetBytes + 1, 0x42);
  const std::string sprop_max = codec::Base64Encode(max_set) + "," + codec::Base64Encode(max_set);
  const std::string sprop_over = codec::Base64Encode(over_set) + ",aM4xsg==";
  const std::string full = Describe(Video("a=control:track1\r\n"));
  const std::string cut = full.substr(0, full.find("rack1"));

  const std::vector<Case> cases = {
      {"lower-case status line is scanned",
       {},
       "rtsp/1.0 200 OK\r\nCSeq: 3\r\n\r\n",
       kRtspOptions,
       true,
       [](auto& p) {
         EXPECT_EQ(p.GetProtocol(), "rtsp/1.0");
         EXPECT_EQ(p.GetStatusCode(), 200u);
         EXPECT_EQ(p.GetCSeq(), 3u);
       }},
      {"404 fails, code kept",
       {},
       "RTSP/1.0 404 Not Found\r\nCSeq: 4\r\n\r\n",
       kRtspOptions,
       false,
       [](auto& p) { EXPECT_EQ(p.GetStatusCode(), 404u); }},
      {"204 fails", {}, "RTSP/1.0 204 No Content\r\n\r\n", kRtspOptions, false, nullptr},
      {"no status code", {}, "RTSP/1.0 OK\r\n\r\n", kRtspOptions, false, nullptr},
      {"Digest challenge, quotes removed",
       {},
       "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
       "WWW-Authenticate: Digest realm=\"cam, one\", nonce=\"ab12\", qop=\"auth\"\r\n\r\n",
       kRtspDescribe,
       true,
       [](auto& p) {
         EXPECT_EQ(p.GetOfferedAuthScheme(), kAuthDigest);
         EXPECT_EQ(p.GetRealm(), "cam, one");
         EXPECT_EQ(p.GetNonce(), "ab12");
         EXPECT_EQ(p.GetChallenge().Param("qop").value_or(""), "auth");
       }},
      {"Digest challenge without nonce fails",
       {},
       "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"cam\"\r\n\r\n",
       kRtspDescribe,
       false,
       nullptr},
      {"Digest wins over a later Basic",
       {},
       "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
       "WWW-Authenticate: Basic realm=\"r\"\r\n\r\n",
       kRtspDescribe,
       true,
       [](auto& p) { EXPECT_EQ(p.GetOfferedAuthScheme(), kAuthDigest); }},
      {"a new reply's Basic replaces an old Digest offer",
       {"RTSP/1.0 401 x\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n\r\n"},
       "RTSP/1.0 401 x\r\nwww-authenticate: basic realm=\"r\"\r\n\r\n",
       kRtspDescribe,
       true,
       [](auto& p) { EXPECT_EQ(p.GetOfferedAuthScheme(), kAuthBasic); }},
      {"Session with timeout",
       {},
       "RTSP/1.0 200 OK\r\nSession: 12AB ; timeout=60\r\n\r\n",
       kRtspSetup,
       true,
       [](auto& p) {
         EXPECT_EQ(p.GetSessionId(), "12AB");
         EXPECT_EQ(p.GetSessionTimeoutSec(), 60u);
       }},
      {"Session timeout=0 is 30 s",
       {},
       "RTSP/1.0 200 OK\r\nsession: 7;timeout=0\r\n\r\n",
       kRtspSetup,
       true,
       [](auto& p) { EXPECT_EQ(p.GetSessionTimeoutSec(), 30u); }},
      {"Session without timeout keeps the earlier one",
       {"RTSP/1.0 200 OK\r\nSession: 1;timeout=45\r\n\r\n"},
       "RTSP/1.0 200 OK\r\nSession: 2\r\n\r\n",
       kRtspSetup,
       true,
       [](auto& p) {
         EXPECT_EQ(p.GetSessionId(), "2");
         EXPECT_EQ(p.GetSessionTimeoutSec(), 45u);
       }},
      {"empty Session fails",
       {},
       "RTSP/1.0 200 OK\r\nSession: ;timeout=5\r\n\r\n",
       kRtspSetup,
       false,
       nullptr},
      {"CSeq inside another header is no CSeq line",
       {},
       "RTSP/1.0 200 OK\r\nCSeq: 5\r\nX-Note: next CSeq follows\r\n\r\n",
       kRtspOptions,
       true,
       [](auto& p) { EXPECT_EQ(p.GetCSeq(), 5u); }},
      {"bad CSeq fails", {}, "RTSP/1.0 200 OK\r\nCSeq: x\r\n\r\n", kRtspOptions, false, nullptr},
      {"Content-Base without trailing slash, case kept",
       {},
       Describe(Video("a=control:stream=0\r\n"), "Content-Base: rtsp://Cam:554/now.mp4/\r\n"),
       kRtspDescribe,
       true,
       [](auto& p) {
         EXPECT_EQ(p.GetContentBase(), "rtsp://Cam:554/now.mp4");
         EXPECT_EQ(p.GetContentType(), "application/sdp");
         EXPECT_EQ(p.GetMedia(kMediaVideo).control, "stream=0");
         EXPECT_EQ(p.GetMedia(kMediaVideo).transportProfile, "RTP/AVP");
       }},
      {"sprop-parameter-sets after packetization-mode",
       {},
       Describe(Video("a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAKeKQ,aM4xsg==\r\n")),
       kRtspDescribe,
       true,
       [](auto& p) {
         EXPECT_EQ(p.GetSps(), kSps);
         EXPECT_EQ(p.GetPps(), kPps);
       }},
      {"sprop-parameter-sets first, LF line ends",
       {},
       "RTSP/1.0 200 OK\nCSeq: 2\nContent-Length: 108\n\n"
       "m=video 0 RTP/AVP 96\na=fmtp:96 sprop-parameter-sets=Z0IAKeKQ,aM4xsg==; "
       "packetization-mode=1\na=control:track1",
       kRtspDescribe,
       true,
       [](auto& p) {
         EXPECT_EQ(p.GetSps(), kSps);
         EXPECT_EQ(p.GetPps(), kPps);
         EXPECT_EQ(p.GetMedia(kMediaVideo).control, "track1");
       }},
      {"sprop with one set fails",
       {},
       Describe(Video("a=fmtp:96 sprop-parameter-sets=Z0IAKeKQ\r\n")),
       kRtspDescribe,
       false,
       nullptr},
      {"parameter sets at the size limit",
       {},
       Describe(Video("a=fmtp:96 sprop-parameter-sets=" + sprop_max + "\r\n")),
       kRtspDescribe,
       true,
       [&](auto& p) { EXPECT_EQ(p.GetSps(), max_set); }},
      {"parameter set one past the limit fails",
       {},
       Describe(Video("a=fmtp:96 sprop-parameter-sets=" + sprop_over + "\r\n")),
       kRtspDescribe,
       false,
       [](auto& p) { EXPECT_TRUE(p.GetSps().empty()); }},
      {"fmtp without parameter sets is fine",
       {},
       Describe(Video("a=fmtp:96 packetization-mode=1;profile-level-id=42e01f\r\n"
                      "a=control:track1\r\n")),
       kRtspDescribe,
       true,
       [](auto& p) { EXPECT_TRUE(p.GetSps().empty()); }},
      {"config in hex",
       {},
       Describe("m=audio 0 RTP/AVP 97\r\na=fmtp:97 streamtype=5;config=1190\r\n"),
       kRtspDescribe,
       true,
       [](auto& p) {
         EXPECT_EQ(p.GetConfig(), (Bytes{0x11, 0x90}));
       }},
      {"empty control after video fails",
       {},
       Describe(Video("a=control:\r\n")),
       kRtspDescribe,
       false,
       nullptr},
      {"control at the token limit",
       {},
       Describe(Video("a=control:" + long_token + "\r\n")),
       kRtspDescribe,
       true,
       [&](auto& p) { EXPECT_EQ(p.GetMedia(kMediaVideo).control, long_token); }},
      {"control one past the token limit fails",
       {},
       Describe(Video("a=control:" + long_token + "c\r\n")),
       kRtspDescribe,
       false,
       nullptr},
      {"second control line of a medium is not stored",
       {},
       Describe(Video("a=control:track1\r\na=control:track9\r\n"
                      "m=audio 0 RTP/AVP 0\r\na=control:track2\r\n")),
       kRtspDescribe,
       true,
       [](auto& p) {
         EXPECT_EQ(p.GetMedia(kMediaVideo).control, "track1");
         EXPECT_EQ(p.GetMedia(kMediaAudio).control, "track2");
       }},
      {"application medium changes no record",
       {},
       Describe("m=application 0 RTP/AVP 107\r\na=control:track5\r\n"),
       kRtspDescribe,
       true,
       [](auto& p) {
         for (uint32_t s : {1u, 2u, 3u}) EXPECT_TRUE(p.GetMedia(s).control.empty());
       }},
      {"metadata medium",
       {},
       Describe("m=data 0 RTP/AVP 98\r\na=control:meta\r\n"),
       kRtspDescribe,
       true,
       [](auto& p) { EXPECT_EQ(p.GetMedia(kMediaData).control, "meta"); }},
      {"body shorter than Content-Length is parsed as far as it goes",
       {},
       cut,
       kRtspDescribe,
       true,
       [](auto& p) { EXPECT_EQ(p.GetMedia(kMediaVideo).control, "t"); }},
      {"only DESCRIBE reads a body",
       {},
       Describe(Video("a=control:\r\n")),
       kRtspSetup,
       true,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CRTSPResponseParser parser;
    for (const std::string& earlier : c.earlier) parser.Parse(earlier, kRtspOptions);
    EXPECT_EQ(parser.Parse(c.reply, c.method), c.ok);
    if (c.check) {
      c.check(parser);
    }
  }
}

}  // namespace
}  // namespace korvela
