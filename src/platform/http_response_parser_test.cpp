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
}

TEST(HttpHeadTest, AcceptsBareLineFeedsAndHttp10WithoutReason) {
  HttpResponseHead parsed;
  ASSERT_EQ(Parse("HTTP/1.0 200\nServer: x\n\n", &parsed), HeadParse::kDone);
  EXPECT_EQ(parsed.status_code, 200);
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

TEST(HttpHeadTest, LineLengthLimitExactlyAndOnePast) {
  const std::string prefix = "HTTP/1.1 200 OK\r\n";
  // A field line of exactly kMaxHeaderLineBytes (CRLF not counted).
  const std::string name = "X-Long: ";
  const std::string at_limit = name + std::string(kMaxHeaderLineBytes - name.size(), 'a');
  EXPECT_EQ(Parse(prefix + at_limit + "\r\n\r\n"), HeadParse::kDone);
  EXPECT_EQ(Parse(prefix + at_limit + "a\r\n\r\n"), HeadParse::kOverLimit);
  // An unfinished line is refused as soon as it is one past the limit.
  EXPECT_EQ(Parse(prefix + at_limit), HeadParse::kNeedMore);
  EXPECT_EQ(Parse(prefix + at_limit + "a"), HeadParse::kOverLimit);
}

TEST(HttpHeadTest, HeaderBlockLimitExactlyAndOnePast) {
  const std::string status = "HTTP/1.1 200 OK\r\n";
  auto build = [&](size_t total) {
    // Fill with 1000-byte lines, then one line sized to reach `total`.
    std::string head = status;
    const std::string filler = "X-F: " + std::string(993, 'b') + "\r\n";  // 1000 bytes
    while (head.size() + filler.size() + 2 + 10 <= total) head += filler;
    const size_t last = total - head.size() - 2;  // room for the final CRLF
    head += "X-L: " + std::string(last - 7, 'c') + "\r\n";
    head += "\r\n";
    return head;
  };
  const std::string at_limit = build(kMaxHeaderBlockBytes);
  ASSERT_EQ(at_limit.size(), kMaxHeaderBlockBytes);
  HttpResponseHead parsed;
  size_t used = 0;
  EXPECT_EQ(Parse(at_limit + "tail", &parsed, &used), HeadParse::kDone);
  EXPECT_EQ(used, kMaxHeaderBlockBytes);
  const std::string one_past = build(kMaxHeaderBlockBytes + 1);
  ASSERT_EQ(one_past.size(), kMaxHeaderBlockBytes + 1);
  EXPECT_EQ(Parse(one_past), HeadParse::kOverLimit);
  // Without its end in sight, a block is refused once it reaches the limit.
  EXPECT_EQ(Parse(one_past.substr(0, kMaxHeaderBlockBytes)), HeadParse::kOverLimit);
  EXPECT_EQ(Parse(one_past.substr(0, kMaxHeaderBlockBytes - 1)), HeadParse::kNeedMore);
}

TEST(HttpHeadTest, FieldCountLimit) {
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (size_t i = 0; i < kMaxHeaderFields; ++i) head += "A: b\r\n";
  EXPECT_EQ(Parse(head + "\r\n"), HeadParse::kDone);
  EXPECT_EQ(Parse(head + "A: b\r\n\r\n"), HeadParse::kOverLimit);
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
}

TEST(BodyDecoderTest, ChunkedAcceptsBareLineFeeds) {
  Decoded d = DecodeSplit(Chunked(), "3\nabc\n0\n\n", 2);
  EXPECT_TRUE(d.done);
  EXPECT_EQ(d.payload, "abc");
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

TEST(BodyDecoderTest, ChunkSizeLineLimitExactlyAndOnePast) {
  const std::string base = "1;";
  const std::string ext_at_limit(kMaxChunkSizeLineBytes - base.size(), 'e');
  Decoded ok = DecodeSplit(Chunked(), base + ext_at_limit + "\r\nz\r\n0\r\n\r\n", 3);
  EXPECT_TRUE(ok.done);
  EXPECT_EQ(ok.payload, "z");
  Decoded bad = DecodeSplit(Chunked(), base + ext_at_limit + "e\r\nz\r\n0\r\n\r\n", 3);
  EXPECT_TRUE(bad.failed);
}

TEST(BodyDecoderTest, TrailerLineLimit) {
  const std::string line(kMaxHeaderLineBytes, 't');
  EXPECT_TRUE(DecodeSplit(Chunked(), "0\r\n" + line + "\r\n\r\n", 0).done);
  EXPECT_TRUE(DecodeSplit(Chunked(), "0\r\n" + line + "t\r\n\r\n", 0).failed);
}

TEST(BodyDecoderTest, ContentLengthStopsAtLengthAndFailsWhenCut) {
  const BodyFramingInfo info{BodyFraming::kContentLength, 10, true};
  for (size_t cut = 0; cut <= 14; ++cut) {
    Decoded d = DecodeSplit(info, "0123456789XXXX", cut, 3);
    EXPECT_TRUE(d.done);
    EXPECT_EQ(d.payload, "0123456789");
    EXPECT_EQ(d.consumed, 10u);
  }
  HttpBodyDecoder cut_short(info);
  uint8_t out[16];
  const std::string part = "01234";
  cut_short.Decode(std::span(reinterpret_cast<const uint8_t*>(part.data()), part.size()), out);
  EXPECT_EQ(cut_short.remaining(), 5u);
  cut_short.OnEndOfStream();
  EXPECT_TRUE(cut_short.failed());
}

TEST(BodyDecoderTest, DirectPayloadIsOnlyEverPayload) {
  // Chunked: nothing while a size line comes next; the chunk's size inside it.
  HttpBodyDecoder chunked(Chunked());
  EXPECT_EQ(chunked.DirectPayloadLimit(), 0u);
  uint8_t out[16];
  const std::string size_line = "5\r\n";
  chunked.Decode(std::span(reinterpret_cast<const uint8_t*>(size_line.data()), size_line.size()),
                 out);
  EXPECT_EQ(chunked.DirectPayloadLimit(), 5u);
  chunked.DirectPayloadReceived(3);
  EXPECT_EQ(chunked.DirectPayloadLimit(), 2u);
  chunked.DirectPayloadReceived(2);
  EXPECT_EQ(chunked.DirectPayloadLimit(), 0u);  // the chunk's CRLF comes next
  const std::string tail = "\r\n0\r\n\r\n";
  chunked.Decode(std::span(reinterpret_cast<const uint8_t*>(tail.data()), tail.size()), out);
  EXPECT_TRUE(chunked.done());

  HttpBodyDecoder length({BodyFraming::kContentLength, 10, true});
  EXPECT_EQ(length.DirectPayloadLimit(), 10u);
  length.DirectPayloadReceived(10);
  EXPECT_TRUE(length.done());
  EXPECT_EQ(length.DirectPayloadLimit(), 0u);

  HttpBodyDecoder overrun({BodyFraming::kContentLength, 4, true});
  overrun.DirectPayloadReceived(5);
  EXPECT_TRUE(overrun.failed());

  HttpBodyDecoder until_close({BodyFraming::kUntilClose, 0, false});
  EXPECT_EQ(until_close.DirectPayloadLimit(), UINT64_MAX);
  until_close.DirectPayloadReceived(100);
  EXPECT_FALSE(until_close.done());
}

TEST(BodyDecoderTest, CloseDelimitedEndsAtEndOfStream) {
  HttpBodyDecoder decoder({BodyFraming::kUntilClose, 0, false});
  uint8_t out[4];
  const std::string part = "abcdef";
  auto step =
      decoder.Decode(std::span(reinterpret_cast<const uint8_t*>(part.data()), part.size()), out);
  EXPECT_EQ(step.produced, 4u);  // bounded by the output
  EXPECT_EQ(step.consumed, 4u);
  EXPECT_FALSE(decoder.done());
  decoder.OnEndOfStream();
  EXPECT_TRUE(decoder.done());
  // A chunked body cut off by the close is a failure, not a short success.
  HttpBodyDecoder chunked(Chunked());
  const std::string partial = "5\r\nab";
  chunked.Decode(std::span(reinterpret_cast<const uint8_t*>(partial.data()), partial.size()), out);
  chunked.OnEndOfStream();
  EXPECT_TRUE(chunked.failed());
}

}  // namespace
}  // namespace korvela::platform
