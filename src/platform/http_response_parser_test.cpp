#include "platform/http_response_parser.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace korvela::platform {
namespace {

std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

HeadParse Parse(const std::string& text, HttpResponseHead* head = nullptr, size_t* used = nullptr) {
  HttpResponseHead local;
  size_t consumed = 0;
  HeadParse r = ParseResponseHead(Bytes(text), head ? head : &local, &consumed);
  if (used) *used = consumed;
  return r;
}

// Decodes `wire` fed in pieces cut at `cut` (and, for the rest, one go).
struct Decoded {
  std::string payload;
  bool done = false;
  bool failed = false;
  size_t consumed = 0;
};
Decoded DecodeSplit(BodyFramingInfo info, const std::string& wire, size_t cut,
                    size_t out_size = 7) {
  HttpBodyDecoder decoder(info);
  Decoded d;
  std::vector<uint8_t> out(out_size);
  auto feed = [&](std::string_view part) {
    size_t pos = 0;
    while (pos < part.size() && !decoder.done() && !decoder.failed()) {
      auto step = decoder.Decode(
          std::span(reinterpret_cast<const uint8_t*>(part.data()) + pos, part.size() - pos), out);
      pos += step.consumed;
      d.consumed += step.consumed;
      d.payload.append(reinterpret_cast<char*>(out.data()), step.produced);
      if (step.consumed == 0 && step.produced == 0) break;
    }
  };
  feed(std::string_view(wire).substr(0, cut));
  feed(std::string_view(wire).substr(cut));
  d.done = decoder.done();
  d.failed = decoder.failed();
  return d;
}

BodyFramingInfo Chunked() { return {BodyFraming::kChunked, 0, true}; }

TEST(HttpHeadTest, ParsesStatusLineAndFieldsAtEverySplit) {
  const std::string head =
      "HTTP/1.1 401 Unauthorized\r\n"
      "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
      "Content-Length:   12  \r\n"
      "X-Folded: first\r\n"
      "\t second\r\n"
      "\r\n";
  const std::string wire = head + "body follows";
  for (size_t cut = 0; cut < head.size(); ++cut) {
    EXPECT_EQ(Parse(wire.substr(0, cut)), HeadParse::kNeedMore) << cut;
  }
  HttpResponseHead parsed;
  size_t used = 0;
  ASSERT_EQ(Parse(wire, &parsed, &used), HeadParse::kDone);
  EXPECT_EQ(used, head.size());
  EXPECT_EQ(parsed.status_code, 401);
  EXPECT_EQ(parsed.version_minor, 1);
  EXPECT_EQ(parsed.reason, "Unauthorized");
  EXPECT_EQ(parsed.Field("content-length").value_or(""), "12");
  EXPECT_EQ(parsed.Field("x-folded").value_or(""), "first second");
  EXPECT_FALSE(parsed.Field("Missing").has_value());
  ASSERT_EQ(Parse("HTTP/1.0 200\nServer: x\n\n", &parsed), HeadParse::kDone);  // bare LF, no reason
  EXPECT_EQ(parsed.version_minor, 0);
  EXPECT_EQ(parsed.reason, "");
}

TEST(HttpHeadTest, RejectsMalformedHeads) {
  const char* kBad[] = {
      "HTTP/2 200 OK\r\n\r\n",      // not HTTP/1.x
      "HTTP/1.1 20 OK\r\n\r\n",     // two-digit status
      "HTTP/1.1 200OK\r\n\r\n",     // no blank after the code
      "HTTP/1.1 600 Nope\r\n\r\n",  // status out of range
      "ICY 200 OK\r\n\r\n",         // foreign protocol
      "HTTP/1.1 200 OK\r\nNo colon\r\n\r\n",
      "HTTP/1.1 200 OK\r\n: empty name\r\n\r\n",
      "HTTP/1.1 200 OK\r\nBad Name: x\r\n\r\n",
      "HTTP/1.1 200 OK\r\n folded-first: x\r\n\r\n",
      "HTTP/1.1 200 OK\r\nX: a\rb\r\n\r\n",  // bare CR inside a value
  };
  for (const char* bad : kBad) EXPECT_EQ(Parse(bad), HeadParse::kError) << bad;
  EXPECT_EQ(Parse(std::string("HTTP/1.1 200 OK\r\nX: a\0b\r\n\r\n", 27)), HeadParse::kError);
}

// Every limit a device could push against, at exactly the limit and one
// past: head lines (finished or not), the head block (finished or not), the
// field count, chunk-size lines and trailer lines.
TEST(HttpLimitsTest, EachLimitExactlyAndOnePast) {
  const std::string status = "HTTP/1.1 200 OK\r\n";
  auto head_of = [&](size_t total) {  // 1000-byte lines, then one sized to reach `total`
    std::string head = status;
    const std::string filler = "X-F: " + std::string(993, 'b') + "\r\n";
    while (head.size() + filler.size() + 2 + 10 <= total) head += filler;
    const size_t last = total - head.size() - 2;
    return head + "X-L: " + std::string(last - 7, 'c') + "\r\n\r\n";
  };
  const std::string block_past = head_of(kMaxHeaderBlockBytes + 1);
  ASSERT_EQ(block_past.size(), kMaxHeaderBlockBytes + 1);
  const std::string line = "X-Long: " + std::string(kMaxHeaderLineBytes - 8, 'a');
  std::string fields;
  for (size_t i = 0; i < kMaxHeaderFields; ++i) fields += "A: b\r\n";
  struct Case {
    const char* name;
    std::string at_limit;
    HeadParse at_limit_result;
    std::string one_past;
  };
  const Case cases[] = {
      {"line", status + line + "\r\n\r\n", HeadParse::kDone, status + line + "a\r\n\r\n"},
      {"unfinished line", status + line, HeadParse::kNeedMore, status + line + "a"},
      {"block", head_of(kMaxHeaderBlockBytes) + "tail", HeadParse::kDone, block_past},
      {"unfinished block", block_past.substr(0, kMaxHeaderBlockBytes - 1), HeadParse::kNeedMore,
       block_past.substr(0, kMaxHeaderBlockBytes)},
      {"fields", status + fields + "\r\n", HeadParse::kDone, status + fields + "A: b\r\n\r\n"},
  };
  for (const Case& t : cases) {
    EXPECT_EQ(Parse(t.at_limit), t.at_limit_result) << t.name;
    EXPECT_EQ(Parse(t.one_past), HeadParse::kOverLimit) << t.name;
  }
  const std::string ext(kMaxChunkSizeLineBytes - 2, 'e');  // "1;" + ext: the limit
  const std::string trailer(kMaxHeaderLineBytes, 't');
  const std::pair<std::string, std::string> bodies[] = {
      {"1;" + ext + "\r\nz\r\n0\r\n\r\n", "1;" + ext + "e\r\nz\r\n0\r\n\r\n"},
      {"0\r\n" + trailer + "\r\n\r\n", "0\r\n" + trailer + "t\r\n\r\n"},
  };
  for (const auto& [at_limit, one_past] : bodies) {
    EXPECT_TRUE(DecodeSplit(Chunked(), at_limit, 3).done) << at_limit.size();
    EXPECT_TRUE(DecodeSplit(Chunked(), one_past, 3).failed) << one_past.size();
  }
}

TEST(BodyFramingTest, DecidesFramingAndReuse) {
  struct Case {
    std::string head;
    bool head_request;
    std::optional<BodyFraming> framing;
    uint64_t length;
    bool keep_alive;
  };
  const Case kCases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", false, BodyFraming::kContentLength, 5, true},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5, 5\r\n\r\n", false, BodyFraming::kContentLength, 5,
       true},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", false, std::nullopt, 0,
       false},
      {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false, std::nullopt, 0, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", false, std::nullopt, 0,
       false},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", false, BodyFraming::kChunked, 0,
       true},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n", false, BodyFraming::kChunked,
       0, true},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n", false,
       BodyFraming::kChunked, 0, false},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", false, BodyFraming::kUntilClose, 0,
       false},
      {"HTTP/1.1 200 OK\r\n\r\n", false, BodyFraming::kUntilClose, 0, false},
      {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\n", false,
       BodyFraming::kContentLength, 1, false},
      {"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\n", false, BodyFraming::kContentLength, 1,
       false},
      {"HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 1\r\n\r\n", false,
       BodyFraming::kContentLength, 1, true},
      {"HTTP/1.1 204 No Content\r\n\r\n", false, BodyFraming::kNone, 0, true},
      {"HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n", false, BodyFraming::kNone, 0,
       true},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n", true, BodyFraming::kNone, 0, true},
  };
  for (const Case& c : kCases) {
    HttpResponseHead head;
    ASSERT_EQ(Parse(c.head, &head), HeadParse::kDone) << c.head;
    auto info = DetermineBodyFraming(head, c.head_request);
    ASSERT_EQ(info.has_value(), c.framing.has_value()) << c.head;
    if (!info) continue;
    EXPECT_EQ(info->framing, *c.framing) << c.head;
    EXPECT_EQ(info->content_length, c.length) << c.head;
    EXPECT_EQ(info->keep_alive, c.keep_alive) << c.head;
  }
}

TEST(BodyDecoderTest, ChunkedBodyAtEverySplit) {
  const std::string wire =
      "5\r\nhello\r\n"
      "0A;name=value\r\n0123456789\r\n"  // upper/lower hex, extension
      "001\r\n!\r\n"                     // leading zeros
      "0\r\n"
      "Trailer: x\r\n"
      "\r\n";
  for (size_t cut = 0; cut <= wire.size(); ++cut) {
    Decoded d = DecodeSplit(Chunked(), wire + "NEXT", cut);
    EXPECT_TRUE(d.done) << cut;
    EXPECT_EQ(d.payload, "hello0123456789!") << cut;
    EXPECT_EQ(d.consumed, wire.size()) << cut;  // stops before the next message
  }
  EXPECT_EQ(DecodeSplit(Chunked(), "3\nabc\n0\n\n", 2).payload, "abc");  // bare line feeds
}

TEST(BodyDecoderTest, ChunkedRejectsBrokenFraming) {
  const char* kBad[] = {
      "\r\n",                  // empty size line
      "x\r\n",                 // not hex
      "-1\r\n",                // sign
      "5 x\r\nhello\r\n",      // junk after the size
      "3\r\nabcX\r\n",         // data longer than announced
      "3\r\nabc\rX",           // CR not followed by LF
      "1000000000000000\r\n",  // 16 significant digits
  };
  for (const char* bad : kBad) {
    Decoded d = DecodeSplit(Chunked(), bad, 1);
    EXPECT_TRUE(d.failed) << bad;
    EXPECT_FALSE(d.done) << bad;
  }
  // 15 significant digits (plus leading zeros) are still accepted as a size.
  HttpBodyDecoder decoder(Chunked());
  const std::string size_line = "000fffffffffffffff\r\nab";
  uint8_t out[8];
  auto step = decoder.Decode(
      std::span(reinterpret_cast<const uint8_t*>(size_line.data()), size_line.size()), out);
  EXPECT_FALSE(decoder.failed());
  EXPECT_EQ(step.produced, 2u);
}

// The end of the stream ends a close-delimited body and fails every other
// unfinished one (a cut body is not a short success).
TEST(BodyDecoderTest, EndOfStreamEndsOnlyACloseDelimitedBody) {
  const std::pair<BodyFramingInfo, std::string> cases[] = {
      {{BodyFraming::kUntilClose, 0, false}, "abcdef"},
      {{BodyFraming::kContentLength, 10, true}, "01234"},
      {Chunked(), "5\r\nab"},
  };
  for (const auto& [info, part] : cases) {
    HttpBodyDecoder decoder(info);
    uint8_t out[16];
    decoder.Decode(Bytes(part), out);
    EXPECT_FALSE(decoder.done()) << part;
    decoder.OnEndOfStream();
    EXPECT_EQ(decoder.done(), info.framing == BodyFraming::kUntilClose) << part;
    EXPECT_EQ(decoder.failed(), info.framing != BodyFraming::kUntilClose) << part;
  }
}

}  // namespace
}  // namespace korvela::platform
