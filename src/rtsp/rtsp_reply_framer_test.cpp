#include "rtsp/rtsp_reply_framer.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace korvela {
namespace {

using Status = RtspReplyFramer::Status;

// A header block of exactly `size` bytes (status line, padding header, CR LF).
std::string HeadOfSize(size_t size) {
  const std::string start = "RTSP/1.0 200 OK\r\nX-Pad: ";
  return start + std::string(size - start.size() - 4, 'p') + "\r\n\r\n";
}

TEST(RtspReplyFramerTest, FindsTheEndOfEachReply) {
  const std::string body(RtspReplyFramer::kMaxBodyBytes, 'b');
  const std::string max_body_head =
      "RTSP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    Status status;
    size_t length;
  } cases[] = {
      {"no body", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\nRTSP/1.0", Status::kComplete, 28},
      {"LF lines and body", "RTSP/1.0 200 OK\ncontent-length:  3\n\nabcRTSP", Status::kComplete,
       39},
      {"mixed line ends", "RTSP/1.0 200 OK\r\nContent-Length: 2\n\r\nxyz", Status::kComplete, 39},
      {"body still coming", "RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc", Status::kNeedMore,
       0},
      {"head still coming", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", Status::kNeedMore, 0},
      {"similar header name is no length", "RTSP/1.0 200 OK\r\nContent-Length-X: 9\r\n\r\n",
       Status::kComplete, 40},
      {"non-numeric length", "RTSP/1.0 200 OK\r\nContent-Length: 1x\r\n\r\n", Status::kMalformed,
       0},
      {"two different lengths",
       "RTSP/1.0 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", Status::kMalformed,
       0},
      {"header block at the limit", HeadOfSize(RtspReplyFramer::kMaxHeaderBytes), Status::kComplete,
       RtspReplyFramer::kMaxHeaderBytes},
      {"header block one past the limit", HeadOfSize(RtspReplyFramer::kMaxHeaderBytes + 1),
       Status::kOverLimit, 0},
      {"body at the limit", max_body_head + body, Status::kComplete,
       max_body_head.size() + body.size()},
      {"body one past the limit", "RTSP/1.0 200 OK\r\nContent-Length: 1048577\r\n\r\n",
       Status::kOverLimit, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RtspReplyFramer framer;
    EXPECT_EQ(framer.Examine(c.bytes), c.status);
    if (c.status == Status::kComplete) {
      EXPECT_EQ(framer.length(), c.length);
    }
  }
}

TEST(RtspReplyFramerTest, ReplyArrivingInTwoPiecesSplitAnywhere) {
  const std::string reply =
      "RTSP/1.0 200 OK\r\nCSeq: 2\nContent-Base: rtsp://h/x/\r\nContent-Length: 13\r\n\r\n"
      "v=0\r\nm=video\n";
  for (size_t cut = 0; cut < reply.size(); ++cut) {
    SCOPED_TRACE(cut);
    RtspReplyFramer framer;
    EXPECT_EQ(framer.Examine(std::string_view(reply).substr(0, cut)), Status::kNeedMore);
    EXPECT_EQ(framer.Examine(reply + "RTSP/1.0 200"), Status::kComplete);
    EXPECT_EQ(framer.length(), reply.size());
  }
  // Byte by byte, as a trickling server sends it.
  RtspReplyFramer framer;
  for (size_t n = 1; n < reply.size(); ++n) {
    ASSERT_EQ(framer.Examine(std::string_view(reply).substr(0, n)), Status::kNeedMore) << n;
  }
  EXPECT_EQ(framer.Examine(reply), Status::kComplete);
}

}  // namespace
}  // namespace korvela
