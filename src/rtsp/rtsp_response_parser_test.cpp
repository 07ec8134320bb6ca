#include "rtsp/rtsp_response_parser.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rtsp/rtsp_reply_framer.h"
#include "util/base64.h"
#include "util/str_format.h"

namespace korvela {
namespace {

// The parser's state as one line, so that a case names what it expects.
std::string State(const CRTSPResponseParser& p) {
  return StrFormat(
      "%s %u cseq=%u base=%s session=%s/%u auth=%u %s/%s v=%s/%s a=%s d=%s sps=%zu "
      "pps=%zu config=%zu",
      p.GetProtocol().c_str(), p.GetStatusCode(), p.GetCSeq(), p.GetContentBase().c_str(),
      p.GetSessionId().c_str(), p.GetSessionTimeoutSec(), p.GetOfferedAuthScheme(),
      p.GetRealm().c_str(), p.GetNonce().c_str(), p.GetMedia(1).control.c_str(),
      p.GetMedia(1).transportProfile.c_str(), p.GetMedia(2).control.c_str(),
      p.GetMedia(3).control.c_str(), p.GetSps().size(), p.GetPps().size(), p.GetConfig().size());
}

std::string Reply(const std::string& headers, const std::string& sdp = "") {
  return "RTSP/1.0 200 OK\r\n" + headers +
         (sdp.empty() ? "" : "Content-Length: " + std::to_string(sdp.size()) + "\r\n") + "\r\n" +
         sdp;
}
std::string Video(const std::string& lines) {
  return "a=control:*\r\nm=video 0 RTP/AVP 96\r\n" + lines;
}
std::string Challenge(const std::string& lines) {
  return "RTSP/1.0 401 Unauthorized\r\n" + lines + "\r\n";
}

TEST(CRTSPResponseParserTest, Replies) {
  const std::string set = codec::Base64Encode(std::vector<uint8_t>(1024, 0x42));  // the limit
  const std::string control(CRTSPResponseParser::kMaxTokenLength, 'c');
  const std::string full = Reply("", Video("a=control:track1\r\n"));
  struct Case {
    std::string earlier, reply;
    bool ok;
    std::string state;  // a piece of State() after the reply
  } cases[] = {
      {"", "rtsp/1.0 200 OK\r\nCSeq: 3\r\n\r\n", true, "rtsp/1.0 200 cseq=3 "},
      {"", "RTSP/1.0 404 Not Found\r\nCSeq: 4\r\n\r\n", false, " 404 cseq=0 "},
      {"", "RTSP/1.0 OK\r\n\r\n", false, " 0 "},
      {"", Challenge("WWW-Authenticate: Digest realm=\"c, 1\", nonce=\"ab\", qop=\"auth\"\r\n"),
       true, "auth=2 c, 1/ab "},
      {"", Challenge("WWW-Authenticate: Digest realm=\"cam\"\r\n"), false, "auth=0 /"},
      {"",
       Challenge(
           "WWW-Authenticate: Digest realm=r, nonce=n\r\nWWW-Authenticate: Basic realm=r\r\n"),
       true, "auth=2 r/n "},
      {Challenge("WWW-Authenticate: Digest realm=r, nonce=n\r\n"),
       Challenge("www-authenticate: basic realm=\"b\"\r\n"), true, "auth=1 b/ "},
      {"", Reply("Session: 12AB ; timeout=60\r\n"), true, "session=12AB/60 "},
      {"", Reply("session: 7;timeout=0\r\n"), true, "session=7/30 "},
      {Reply("Session: 1;timeout=45\r\n"), Reply("Session: 2\r\n"), true, "session=2/45 "},
      {"", Reply("CSeq: 5\r\nX-Note: next CSeq follows\r\n"), true, "cseq=5 "},
      {"", Reply("Content-Base: rtsp://Cam/now.mp4/\r\n", Video("a=control:stream=0\r\n")), true,
       "base=rtsp://Cam/now.mp4 session=/0 auth=0 / v=stream=0/RTP/AVP "},
      {"",
       Reply("",
             Video("a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAKeKQ,aM4xsg==\r\n")),
       true, "sps=6 pps=4 "},
      {"",
       "RTSP/1.0 200 OK\nContent-Length: 103\n\nm=video 0 RTP/AVP 96\na=fmtp:96 "
       "sprop-parameter-sets=Z0IAKeKQ,aM4xsg==; packetization-mode=1\na=control:t",
       true, "v=t/RTP/AVP a= d= sps=6 pps=4 "},
      {"", Reply("", Video("a=fmtp:96 sprop-parameter-sets=Z0IAKeKQ\r\n")), false, "sps=0 "},
      {"", Reply("", Video("a=fmtp:96 sprop-parameter-sets=" + set + "," + set + "\r\n")), true,
       "sps=1024 pps=1024 "},
      {"", Reply("", Video("a=fmtp:96 sprop-parameter-sets=" + set + "QkJC,aM4xsg==\r\n")), false,
       "sps=0 pps=4 "},
      {"", Reply("", Video("a=fmtp:96 packetization-mode=1;profile-level-id=42e01f\r\n")), true,
       "sps=0 pps=0 config=0"},
      {"", Reply("", "m=audio 0 RTP/AVP 97\r\na=fmtp:97 streamtype=5;config=1190\r\n"), true,
       "config=2"},
      {"", Reply("", Video("a=control:\r\n")), false, "v=/RTP/AVP "},
      {"", Reply("", Video("a=control:" + control + "\r\n")), true, "v=" + control + "/"},
      {"", Reply("", Video("a=control:" + control + "c\r\n")), false, "v=/"},
      {"",
       Reply("", Video("a=control:t1\r\na=control:t9\r\nm=audio 0 RTP/AVP 0\r\na=control:t2\r\n")),
       true, "v=t1/RTP/AVP a=t2 d= "},
      {"",
       Reply("",
             "m=application 0 RTP/AVP 107\r\na=control:t5\r\nm=data 0 RTP/AVP 98\r\n"
             "a=control:meta\r\n"),
       true, "v=/ a= d=meta "},
      {"", full.substr(0, full.find("rack1")), true, "v=t/RTP/AVP "},  // body cut short
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    CRTSPResponseParser parser;
    parser.Parse(c.earlier, kRtspOptions);
    EXPECT_EQ(parser.Parse(c.reply, kRtspDescribe), c.ok);
    EXPECT_NE(State(parser).find(c.state), std::string::npos) << State(parser);
  }
  CRTSPResponseParser parser;  // only DESCRIBE reads a body
  EXPECT_TRUE(parser.Parse(Reply("", Video("a=control:\r\n")), kRtspSetup));
}

TEST(RtspReplyFramerTest, FindsTheEndOfEachReply) {
  using Status = RtspReplyFramer::Status;
  const size_t kHead = RtspReplyFramer::kMaxHeaderBytes;
  const std::string pad = "RTSP/1.0 200 OK\r\nX: " + std::string(kHead - 24, 'p');
  const std::string body_head = "RTSP/1.0 200 OK\r\nContent-Length: 1048576\r\n\r\n";
  const struct {
    std::string bytes;
    Status status;
    size_t length;
  } cases[] = {
      {"RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\nRTSP/1.0", Status::kComplete, 28},
      {"RTSP/1.0 200 OK\ncontent-length:  3\n\nabcRTSP", Status::kComplete, 39},
      {"RTSP/1.0 200 OK\r\nContent-Length: 2\n\r\nxyz", Status::kComplete, 39},
      {"RTSP/1.0 200 OK\r\nContent-Length-X: 9\r\n\r\n", Status::kComplete, 40},
      {"RTSP/1.0 200 OK\r\nContent-Length: 1x\r\n\r\n", Status::kMalformed, 0},
      {"RTSP/1.0 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", Status::kMalformed,
       0},
      {pad + "\r\n\r\n", Status::kComplete, kHead},  // header block at its limit
      {pad + "p\r\n\r\n", Status::kOverLimit, 0},    // one past
      {body_head + std::string(1048576, 'b'), Status::kComplete, body_head.size() + 1048576},
      {"RTSP/1.0 200 OK\r\nContent-Length: 1048577\r\n\r\n", Status::kOverLimit, 0},
  };
  for (const auto& c : cases) {
    RtspReplyFramer framer;
    EXPECT_EQ(framer.Examine(c.bytes), c.status) << c.bytes.substr(0, 60);
    if (c.status == Status::kComplete) {
      EXPECT_EQ(framer.length(), c.length);
    }
  }
  // Fed byte by byte, as a trickling server sends it.
  const std::string reply = "RTSP/1.0 200 OK\r\nCSeq: 2\nContent-Length: 3\r\n\r\nv=0";
  RtspReplyFramer framer;
  for (size_t n = 1; n < reply.size(); ++n) {
    ASSERT_EQ(framer.Examine(std::string_view(reply).substr(0, n)), Status::kNeedMore) << n;
  }
  EXPECT_EQ(framer.Examine(reply + "RTSP"), Status::kComplete);
  EXPECT_EQ(framer.length(), reply.size());
}

}  // namespace
}  // namespace korvela
