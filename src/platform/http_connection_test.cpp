#include "platform/http_connection.h"

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/scripted_server.h"
#include "util/md5.h"

namespace korvela::platform {
namespace {

using testing::HttpReply;
using testing::ScriptedServer;
using testing::ScriptStep;

constexpr HttpTimeouts kShort{2000, 2000, 2000};

HttpRequestParams Get(std::string target, HttpCredentials credentials = {}) {
  HttpRequestParams params;
  params.method = "GET";
  params.target = std::move(target);
  params.credentials = std::move(credentials);
  return params;
}

// Reads the whole body through Read() with a small buffer.
std::optional<std::string> ReadBody(HttpConnection& c, size_t piece = 5) {
  std::string body;
  std::vector<uint8_t> buf(piece);
  for (;;) {
    auto n = c.Read(buf);
    if (!n) return std::nullopt;
    if (*n == 0) return body;
    body.append(reinterpret_cast<char*>(buf.data()), *n);
  }
}

std::string HeaderOf(const std::string& head, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  const size_t at = head.find(key);
  if (at == std::string::npos) return {};
  const size_t start = at + key.size();
  return head.substr(start, head.find("\r\n", start) - start);
}

// Large reads take the payload straight from the socket: the body must still
// end exactly at its framing, at any cut of the reply, in every framing, and
// the next exchange on the connection must start where the body ended.
TEST(HttpConnectionTest, LargeReadsEndExactlyWhereTheBodyEnds) {
  std::string payload;
  for (size_t i = 0; i < 3 * HttpConnection::kMinDirectReadBytes + 7; ++i) {
    payload.push_back(static_cast<char>('a' + i % 23));
  }
  auto hex = [](size_t n) {
    char text[20];
    std::snprintf(text, sizeof text, "%zx", n);
    return std::string(text);
  };
  const std::string first = payload.substr(0, 5000);
  const std::string rest = payload.substr(5000);
  const std::vector<std::string> replies = {
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(payload.size()) + "\r\n\r\n" + payload,
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + hex(first.size()) + "\r\n" + first +
          "\r\n" + hex(rest.size()) + "\r\n" + rest + "\r\n0\r\n\r\n",
  };
  const std::string second = "HTTP/1.1 204 No Content\r\n\r\n";
  for (const std::string& reply : replies) {
    const std::vector<size_t> cuts = {1, 40, 41, 4096, 5050, 5060, 9000, reply.size() - 3};
    ScriptedServer server;
    for (size_t cut : cuts) {
      server.AddConnection({testing::HttpReplySplit(reply, {cut}, 5), HttpReply(second)});
    }
    for (size_t cut : cuts) {
      HttpConnection c("127.0.0.1", server.port(), kShort, "test");
      ASSERT_TRUE(c.Send(Get("/a")));
      ASSERT_TRUE(c.ReceiveResponse()) << cut;
      const auto body = ReadBody(c, 2 * HttpConnection::kMinDirectReadBytes);
      ASSERT_TRUE(body.has_value()) << cut;
      EXPECT_TRUE(*body == payload) << "cut " << cut << ", " << body->size() << " bytes";
      c.EndRequest();
      ASSERT_TRUE(c.Send(Get("/b")));
      ASSERT_TRUE(c.ReceiveResponse()) << cut;
      EXPECT_EQ(c.response().status_code, 204) << cut;
      EXPECT_EQ(c.connects(), 1u) << cut;
    }
  }
  // Close-delimited: the body is everything up to the close.
  ScriptedServer server;
  server.AddConnection({testing::HttpReplyThenClose("HTTP/1.0 200 OK\r\n\r\n" + payload)});
  HttpConnection c("127.0.0.1", server.port(), kShort, "test");
  ASSERT_TRUE(c.Send(Get("/a")));
  ASSERT_TRUE(c.ReceiveResponse());
  EXPECT_TRUE(ReadBody(c, 2 * HttpConnection::kMinDirectReadBytes).value_or("") == payload);
}

// Every framing the transport reads, with the reply cut into two pieces at
// every byte position; a second request on the same connection proves the
// first exchange ended exactly where it should.
TEST(HttpConnectionTest, FramingSplitAtEveryBytePosition) {
  const std::vector<std::string> replies = {
      "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello world",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "6\r\nhello \r\n5;x=y\r\nworld\r\n0\r\nT: 1\r\n\r\n",
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello world",
  };
  const std::string second = "HTTP/1.1 204 No Content\r\n\r\n";
  for (const std::string& reply : replies) {
    ScriptedServer server;
    for (size_t cut = 1; cut < reply.size(); ++cut) {
      server.AddConnection({testing::HttpReplySplit(reply, {cut}, 0), HttpReply(second)});
    }
    for (size_t cut = 1; cut < reply.size(); ++cut) {
      HttpConnection c("127.0.0.1", server.port(), kShort, "test");
      ASSERT_TRUE(c.Send(Get("/a")));
      ASSERT_TRUE(c.ReceiveResponse()) << cut;
      EXPECT_EQ(c.response().status_code, 200);
      EXPECT_EQ(ReadBody(c).value_or("<error>"), "hello world") << "cut " << cut;
      c.EndRequest();
      ASSERT_TRUE(c.Send(Get("/b")));
      ASSERT_TRUE(c.ReceiveResponse()) << cut;
      EXPECT_EQ(c.response().status_code, 204);
      EXPECT_EQ(c.connects(), 1u) << cut;
    }
  }
}

TEST(HttpConnectionTest, ReplyTrickledByteByByte) {
  const std::string reply =
      "HTTP/1.1 100 Continue\r\n\r\n"
      "HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n\n3\nabc\n0\n\n";
  std::vector<size_t> every;
  for (size_t i = 1; i < reply.size(); ++i) every.push_back(i);
  ScriptedServer server;
  server.AddConnection({testing::HttpReplySplit(reply, every, 0)});
  HttpConnection c("127.0.0.1", server.port(), kShort, "test");
  ASSERT_TRUE(c.Send(Get("/")));
  ASSERT_TRUE(c.ReceiveResponse());
  EXPECT_EQ(c.response().status_code, 200);
  EXPECT_EQ(ReadBody(c, 1).value_or("<error>"), "abc");
}

TEST(HttpConnectionTest, CloseDelimitedBodyEndsWithTheConnection) {
  ScriptedServer server;
  server.AddConnection({testing::HttpReplyThenClose("HTTP/1.0 200 OK\r\n\r\nuntil close")});
  server.AddConnection({HttpReply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
  HttpConnection c("127.0.0.1", server.port(), kShort, "test");
  ASSERT_TRUE(c.Send(Get("/")));
  ASSERT_TRUE(c.ReceiveResponse());
  EXPECT_EQ(ReadBody(c).value_or("<error>"), "until close");
  c.EndRequest();
  EXPECT_FALSE(c.connected());
  ASSERT_TRUE(c.Send(Get("/")));
  ASSERT_TRUE(c.ReceiveResponse());
  EXPECT_EQ(ReadBody(c).value_or("<error>"), "ok");
  EXPECT_EQ(c.connects(), 2u);
}

TEST(HttpConnectionTest, RequestHeadCarriesHostAgentHeadersAndLength) {
  ScriptedServer server;
  server.AddConnection({HttpReply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")});
  HttpConnection c("127.0.0.1", server.port(), kShort, "Agent/1");
  HttpRequestParams params;
  params.method = "POST";
  params.target = "/set.oid?OidTR1.2=a b";
  params.extra_headers = {"Content-Type: audio/ulaw", "User-Agent: replaced\r\n"};
  params.body = {'x', 'y'};
  ASSERT_TRUE(c.Send(params));
  ASSERT_TRUE(c.ReceiveResponse());
  ASSERT_TRUE(server.WaitForRequests(1, 2000));
  const auto req = server.Requests()[0];
  EXPECT_EQ(req.head.substr(0, req.head.find("\r\n")), "POST /set.oid?OidTR1.2=a%20b HTTP/1.1");
  EXPECT_EQ(HeaderOf(req.head, "Host"), "127.0.0.1:" + std::to_string(server.port()));
  EXPECT_EQ(HeaderOf(req.head, "User-Agent"), "replaced");
  EXPECT_EQ(HeaderOf(req.head, "Content-Type"), "audio/ulaw");
  EXPECT_EQ(HeaderOf(req.head, "Content-Length"), "2");
  EXPECT_EQ(req.body, "xy");
}

TEST(HttpConnectionTest, RefusesBadRequestsWithoutNetworkActivity) {
  ScriptedServer server;
  HttpConnection c("127.0.0.1", server.port(), kShort, "test");
  HttpRequestParams injected = Get("/");
  injected.extra_headers = {"X: a\r\nInjected: yes"};
  EXPECT_FALSE(c.Send(injected));
  EXPECT_FALSE(c.Send(Get("")));
  HttpRequestParams no_method = Get("/");
  no_method.method = "";
  EXPECT_FALSE(c.Send(no_method));
  HttpRequestParams bad_method = Get("/");
  bad_method.method = "GE T";
  EXPECT_FALSE(c.Send(bad_method));
  EXPECT_EQ(c.connects(), 0u);
  EXPECT_EQ(server.AcceptedConnections(), 0u);
}

TEST(HttpConnectionTest, MalformedOrOversizeResponsesFailTheRequest) {
  const std::vector<std::string> bad = {
      "garbage\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nx",
      "HTTP/1.1 200 OK\r\n" + std::string(kMaxHeaderBlockBytes, 'a'),
      "HTTP/1.1 101 Switching Protocols\r\n\r\n",
  };
  ScriptedServer server;
  for (const auto& reply : bad) server.AddConnection({HttpReply(reply)});
  for (const auto& reply : bad) {
    HttpConnection c("127.0.0.1", server.port(), kShort, "test");
    ASSERT_TRUE(c.Send(Get("/")));
    EXPECT_FALSE(c.ReceiveResponse()) << reply.substr(0, 40);
    EXPECT_FALSE(c.connected());
  }
  // A broken chunked body fails the read, not the process.
  server.AddConnection(
      {HttpReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcdef\r\n")});
  HttpConnection c("127.0.0.1", server.port(), kShort, "test");
  ASSERT_TRUE(c.Send(Get("/")));
  ASSERT_TRUE(c.ReceiveResponse());
  EXPECT_FALSE(ReadBody(c).has_value());
}

TEST(HttpConnectionTest, SilentPeerTimesOut) {
  ScriptedServer server;
  server.AddConnection({testing::HangAfterRequest()});
  HttpConnection c("127.0.0.1", server.port(), HttpTimeouts{2000, 2000, 30}, "test");
  ASSERT_TRUE(c.Send(Get("/")));
  EXPECT_FALSE(c.ReceiveResponse());
}

TEST(HttpConnectionTest, AbortFromAnotherThreadEndsABlockedRead) {
  ScriptedServer server;
  ScriptStep head_only =
      HttpReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n");
  server.AddConnection({head_only});
  // An hour-long time-out: only the abort can end the read.
  HttpConnection c("127.0.0.1", server.port(), HttpTimeouts{2000, 2000, 3600000}, "test");
  ASSERT_TRUE(c.Send(Get("/stream")));
  ASSERT_TRUE(c.ReceiveResponse());
  std::vector<uint8_t> buf(16);
  auto first = c.Read(buf);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(*first, 2u);
  std::thread aborter([&] { c.Abort(); });
  EXPECT_FALSE(c.Read(buf).has_value());
  aborter.join();
  EXPECT_FALSE(c.Send(Get("/again")));  // still aborted until re-armed
  c.ClearAbort();
  EXPECT_FALSE(c.connected());
}

TEST(HttpConnectionTest, UploadContinuesUpToTheAnnouncedLength) {
  ScriptedServer server;
  ScriptStep step;
  step.expect = ScriptStep::Expect::kHttpHead;
  step.hang = true;
  server.AddConnection({step});
  HttpConnection c("127.0.0.1", server.port(), kShort, "test");
  HttpRequestParams params;
  params.method = "POST";
  params.target = "/audiorx.cgi";
  params.body = {'a', 'b'};
  params.total_length = 6;
  ASSERT_TRUE(c.Send(params));
  EXPECT_FALSE(c.ReceiveResponse());  // body unfinished: no response yet
  const std::vector<uint8_t> three = {'c', 'd', 'e'};
  EXPECT_TRUE(c.Write(three));
  EXPECT_FALSE(c.Write(std::vector<uint8_t>{'f', 'g'}));  // one past the announced length
  EXPECT_TRUE(c.Write(std::vector<uint8_t>{'f'}));
  EXPECT_FALSE(c.Write(std::vector<uint8_t>{'g'}));
  ASSERT_TRUE(server.WaitForRequests(1, 2000));
  EXPECT_EQ(HeaderOf(server.Requests()[0].head, "Content-Length"), "6");
  const size_t head_size = server.Requests()[0].head.size();
  ASSERT_TRUE(server.WaitForReceivedBytes(0, head_size + 6, 2000));
  EXPECT_EQ(server.Received(0).substr(head_size), "abcdef");
}

TEST(HttpConnectionTest, AnswersDigestChallengeAndReusesIt) {
  const std::string challenge =
      "HTTP/1.1 401 Unauthorized\r\n"
      "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\", qop=\"auth\", algorithm=MD5\r\n"
      "WWW-Authenticate: Basic realm=\"cam\"\r\n"
      "Content-Length: 6\r\n\r\ndenied";
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  ScriptedServer server;
  server.AddConnection({HttpReply(challenge), HttpReply(ok), HttpReply(ok)});
  HttpConnection c("127.0.0.1", server.port(), kShort, "test");
  const HttpCredentials digest{kAuthSchemeDigest, "admin", "secret"};
  ASSERT_TRUE(c.Send(Get("/get.oid?1.2.7", digest)));
  ASSERT_TRUE(c.ReceiveResponse());
  EXPECT_EQ(c.response().status_code, 200);
  EXPECT_EQ(ReadBody(c).value_or(""), "ok");
  c.EndRequest();
  ASSERT_TRUE(c.Send(Get("/get.oid?1.2.8", digest)));
  ASSERT_TRUE(c.ReceiveResponse());
  EXPECT_EQ(c.response().status_code, 200);

  ASSERT_TRUE(server.WaitForRequests(3, 2000));
  const auto reqs = server.Requests();
  EXPECT_EQ(HeaderOf(reqs[0].head, "Authorization"), "");  // nothing to answer yet
  const std::string ha1 = codec::Md5HexOf("admin:cam:secret");
  for (int i = 1; i <= 2; ++i) {
    auto parsed = ParseAuthChallenges({HeaderOf(reqs[i].head, "Authorization")});
    ASSERT_EQ(parsed.size(), 1u);
    const auto& a = parsed[0];
    const std::string uri = i == 1 ? "/get.oid?1.2.7" : "/get.oid?1.2.8";
    const std::string nc = i == 1 ? "00000001" : "00000002";
    EXPECT_EQ(a.Param("uri").value_or(""), uri);
    EXPECT_EQ(a.Param("nc").value_or(""), nc);
    const std::string cnonce(a.Param("cnonce").value_or(""));
    EXPECT_EQ(a.Param("response").value_or(""),
              codec::Md5HexOf(ha1 + ":n1:" + nc + ":" + cnonce +
                              ":auth:" + codec::Md5HexOf("GET:" + uri)));
  }
  EXPECT_EQ(c.connects(), 1u);
}

TEST(HttpConnectionTest, RejectedDigestAnswerIsReturnedNotRepeated) {
  const std::string challenge =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
      "Content-Length: 0\r\n\r\n";
  ScriptedServer server;
  server.AddConnection({HttpReply(challenge), HttpReply(challenge)});
  HttpConnection c("127.0.0.1", server.port(), kShort, "test");
  ASSERT_TRUE(c.Send(Get("/", {kAuthSchemeDigest, "u", "wrong"})));
  ASSERT_TRUE(c.ReceiveResponse());
  EXPECT_EQ(c.response().status_code, 401);
  EXPECT_EQ(c.first_offered_scheme(), kAuthSchemeDigest);
  ASSERT_TRUE(server.WaitForRequests(2, 2000));
  EXPECT_EQ(server.Requests().size(), 2u);
}

// A 401 body up to kMaxDiscardBodyBytes is read and dropped so the answer
// goes out on the same connection; a longer one costs a new connection.
TEST(HttpConnectionTest, ChallengeBodyDiscardLimitExactlyAndOnePast) {
  for (size_t body_size :
       {HttpConnection::kMaxDiscardBodyBytes, HttpConnection::kMaxDiscardBodyBytes + 1}) {
    const std::string challenge =
        "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
        "Content-Length: " +
        std::to_string(body_size) + "\r\n\r\n" + std::string(body_size, 'd');
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    ScriptedServer server;
    server.AddConnection({HttpReply(challenge), HttpReply(ok)});
    server.AddConnection({HttpReply(ok)});
    HttpConnection c("127.0.0.1", server.port(), kShort, "test");
    ASSERT_TRUE(c.Send(Get("/", {kAuthSchemeDigest, "u", "p"})));
    ASSERT_TRUE(c.ReceiveResponse()) << body_size;
    EXPECT_EQ(c.response().status_code, 200) << body_size;
    EXPECT_EQ(c.connects(), body_size == HttpConnection::kMaxDiscardBodyBytes ? 1u : 2u);
  }
}

// A request body is kept for the Digest answer up to kMaxResendBodyBytes;
// beyond that the 401 goes back to the caller.
TEST(HttpConnectionTest, ResendBodyLimitExactlyAndOnePast) {
  const std::string challenge =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
      "Content-Length: 0\r\n\r\n";
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
  for (size_t body_size :
       {HttpConnection::kMaxResendBodyBytes, HttpConnection::kMaxResendBodyBytes + 1}) {
    ScriptedServer server;
    server.AddConnection({HttpReply(challenge), HttpReply(ok)});
    HttpConnection c("127.0.0.1", server.port(), kShort, "test");
    HttpRequestParams post;
    post.method = "POST";
    post.target = "/upload";
    post.body.assign(body_size, 'b');
    post.credentials = {kAuthSchemeDigest, "u", "p"};
    ASSERT_TRUE(c.Send(post));
    ASSERT_TRUE(c.ReceiveResponse());
    const bool resent = body_size == HttpConnection::kMaxResendBodyBytes;
    EXPECT_EQ(c.response().status_code, resent ? 200 : 401) << body_size;
    if (resent) {
      ASSERT_TRUE(server.WaitForRequests(2, 5000));
      EXPECT_EQ(server.Requests()[1].body.size(), body_size);
    }
  }
}

TEST(HttpConnectionTest, StaleKeptAliveConnectionIsReplaced) {
  ScriptedServer server;
  // The first connection answers once and is closed by the peer.
  server.AddConnection(
      {testing::HttpReplyThenClose("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na")});
  server.AddConnection({HttpReply("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb")});
  HttpConnection c("127.0.0.1", server.port(), kShort, "test");
  ASSERT_TRUE(c.Send(Get("/")));
  ASSERT_TRUE(c.ReceiveResponse());
  EXPECT_EQ(ReadBody(c).value_or(""), "a");
  c.EndRequest();
  ASSERT_TRUE(server.WaitForClosedConnections(1, 2000));
  ASSERT_TRUE(c.Send(Get("/")));
  ASSERT_TRUE(c.ReceiveResponse());
  EXPECT_EQ(ReadBody(c).value_or(""), "b");
  EXPECT_EQ(c.connects(), 2u);
}

TEST(HttpConnectionTest, UnreadBodyDropsTheConnection) {
  ScriptedServer server;
  ScriptStep big =
      HttpReply("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'x'));
  server.AddConnection({big});
  server.AddConnection({HttpReply("HTTP/1.1 204 No Content\r\n\r\n")});
  HttpConnection c("127.0.0.1", server.port(), kShort, "test");
  ASSERT_TRUE(c.Send(Get("/")));
  ASSERT_TRUE(c.ReceiveResponse());
  c.EndRequest();  // most of the body never came: cannot be reused
  EXPECT_FALSE(c.connected());
  ASSERT_TRUE(c.Send(Get("/")));
  ASSERT_TRUE(c.ReceiveResponse());
  EXPECT_EQ(c.response().status_code, 204);
}

TEST(HttpConnectionTest, ConnectFailureFails) {
  uint16_t port;
  {
    ScriptedServer server;  // a port that was just freed
    port = server.port();
  }
  HttpConnection refused("127.0.0.1", port, kShort, "test");
  EXPECT_FALSE(refused.Send(Get("/")));
  HttpConnection unresolvable("no-such-host.invalid", port, kShort, "test");
  EXPECT_FALSE(unresolvable.Send(Get("/")));
}

}  // namespace
}  // namespace korvela::platform
