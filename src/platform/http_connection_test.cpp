#include "platform/http_connection.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/blocking.h"
#include "platform/testing/scripted_server.h"
#include "util/md5.h"

namespace korvela::platform {
namespace {

using testing::HttpReply;
using testing::ScriptedServer;
using testing::ScriptStep;

constexpr HttpTimeouts kShort{2000, 2000, 2000, 10000};
constexpr uint32_t kHour = 3600000;
const char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
const char kNoContent[] = "HTTP/1.1 204 No Content\r\n\r\n";
const HttpCredentials kUser{"admin", "secret"};

HttpRequestParams Get(std::string target, HttpCredentials credentials = {}) {
  HttpRequestParams params;
  params.method = "GET";
  params.target = std::move(target);
  params.credentials = std::move(credentials);
  return params;
}

// A talk-back style upload: "ab" with the head, `total` bytes announced.
HttpRequestParams Upload(uint64_t total, HttpCredentials credentials = {}) {
  HttpRequestParams params = Get("/audiorx.cgi", std::move(credentials));
  params.method = "POST";
  params.body = {'a', 'b'};
  params.total_length = total;
  return params;
}

HttpConnection Client(const ScriptedServer& server, HttpTimeouts timeouts = kShort) {
  return HttpConnection("127.0.0.1", server.port(), timeouts, "test");
}

bool Exchange(HttpConnection& c, const HttpRequestParams& request) {
  return c.Send(request) && c.ReceiveResponse();
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

// The scheme of each request's Authorization ("" for none).
std::vector<std::string> SchemesSeen(const ScriptedServer& server) {
  std::vector<std::string> out;
  for (const auto& r : server.Requests()) {
    const std::string auth = r.Header("Authorization");
    out.push_back(auth.substr(0, auth.find(' ')));
  }
  return out;
}

ScriptStep HeadThen(ScriptStep step) {
  step.expect = ScriptStep::Expect::kHttpHead;
  return step;
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
  for (const std::string& reply : replies) {
    const std::vector<size_t> cuts = {1, 40, 41, 4096, 5050, 5060, 9000, reply.size() - 3};
    ScriptedServer server;
    for (size_t cut : cuts) {
      server.AddConnection({testing::HttpReplySplit(reply, {cut}, 5), HttpReply(kNoContent)});
    }
    for (size_t cut : cuts) {
      HttpConnection c = Client(server);
      ASSERT_TRUE(Exchange(c, Get("/a"))) << cut;
      const auto body = ReadBody(c, 2 * HttpConnection::kMinDirectReadBytes);
      ASSERT_TRUE(body.has_value()) << cut;
      EXPECT_TRUE(*body == payload) << "cut " << cut << ", " << body->size() << " bytes";
      ASSERT_TRUE(Exchange(c, Get("/b"))) << cut;
      EXPECT_EQ(c.response().status_code, 204) << cut;
      EXPECT_EQ(c.connects(), 1u) << cut;
    }
  }
  // Close-delimited: the body is everything up to the close, and the next
  // request needs a new connection.
  ScriptedServer server;
  server.AddConnection({testing::HttpReplyThenClose("HTTP/1.0 200 OK\r\n\r\n" + payload)});
  server.AddConnection({HttpReply(kNoContent)});
  HttpConnection c = Client(server);
  ASSERT_TRUE(Exchange(c, Get("/a")));
  EXPECT_TRUE(ReadBody(c, 2 * HttpConnection::kMinDirectReadBytes).value_or("") == payload);
  ASSERT_TRUE(Exchange(c, Get("/b")));
  EXPECT_EQ(c.connects(), 2u);
}

// Every framing the transport reads, with the reply cut into two pieces at
// every byte position; a second request on the same connection proves the
// first exchange ended exactly where it should.
TEST(HttpConnectionTest, FramingSplitAtEveryBytePosition) {
  const std::vector<std::string> replies = {
      "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello world",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "6\r\nhello \r\n5;x=y\r\nworld\r\n0\r\nT: 1\r\n\r\n",
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\nContent-Length: 11\n\nhello world",
  };
  for (const std::string& reply : replies) {
    ScriptedServer server;
    for (size_t cut = 1; cut < reply.size(); ++cut) {
      server.AddConnection({testing::HttpReplySplit(reply, {cut}, 0), HttpReply(kNoContent)});
    }
    for (size_t cut = 1; cut < reply.size(); ++cut) {
      HttpConnection c = Client(server);
      ASSERT_TRUE(Exchange(c, Get("/a"))) << cut;
      EXPECT_EQ(c.response().status_code, 200);
      EXPECT_EQ(ReadBody(c).value_or("<error>"), "hello world") << "cut " << cut;
      ASSERT_TRUE(Exchange(c, Get("/b"))) << cut;
      EXPECT_EQ(c.response().status_code, 204);
      EXPECT_EQ(c.connects(), 1u) << cut;
    }
  }
}

// The head as the device sees it, and an upload continued up to exactly its
// announced length.
TEST(HttpConnectionTest, RequestHeadAndUploadUpToTheAnnouncedLength) {
  ScriptedServer server;
  server.AddConnection({HttpReply(kOk)});
  HttpConnection c("127.0.0.1", server.port(), kShort, "Agent/1");
  HttpRequestParams params = Upload(6);
  params.target = "/set.oid?OidTR1.2=a b";
  params.extra_headers = {"Content-Type: audio/ulaw", "User-Agent: replaced\r\n"};
  ASSERT_TRUE(c.Send(params));
  EXPECT_FALSE(c.ReceiveResponse());  // body unfinished: no response yet
  EXPECT_TRUE(c.Write(std::vector<uint8_t>{'c', 'd'}));
  EXPECT_FALSE(c.Write(std::vector<uint8_t>{'e', 'f', 'g'}));  // one past
  EXPECT_EQ(c.last_error(), NetError::kOverLimit);
  EXPECT_TRUE(c.Write(std::vector<uint8_t>{'e', 'f'}));
  ASSERT_TRUE(c.ReceiveResponse());
  ASSERT_TRUE(server.WaitForRequests(1, 2000));
  const auto req = server.Requests()[0];
  EXPECT_EQ(req.RequestLine(), "POST /set.oid?OidTR1.2=a%20b HTTP/1.1");
  EXPECT_EQ(req.Header("Host"), "127.0.0.1:" + std::to_string(server.port()));
  EXPECT_EQ(req.Header("User-Agent"), "replaced");
  EXPECT_EQ(req.Header("Content-Type"), "audio/ulaw");
  EXPECT_EQ(req.Header("Content-Length"), "6");
  EXPECT_EQ(req.body, "abcdef");
}

TEST(HttpConnectionTest, RefusesBadRequestsWithoutNetworkActivity) {
  ScriptedServer server;
  HttpConnection c = Client(server);
  HttpRequestParams injected = Get("/");
  injected.extra_headers = {"X: a\r\nInjected: yes"};
  HttpRequestParams bad_method = Get("/");
  bad_method.method = "GE T";
  HttpRequestParams no_method = Get("/");
  no_method.method = "";
  for (const auto& request : {injected, Get(""), no_method, bad_method}) {
    EXPECT_FALSE(c.Send(request));
    EXPECT_EQ(c.last_error(), NetError::kIo);
  }
  EXPECT_EQ(c.connects(), 0u);
  EXPECT_EQ(server.AcceptedConnections(), 0u);
}

// What each kind of broken device makes a request fail with.
TEST(HttpConnectionTest, FailuresReportTheirCause) {
  struct Case {
    const char* name;
    ScriptStep peer;
    NetError cause;
    bool head_arrives = false;  // the failure comes with the body
  };
  ScriptStep endless_interim = HttpReply("HTTP/1.1 100 Continue\r\n\r\n");
  endless_interim.repeat = testing::kForever;
  const Case cases[] = {
      {"garbage", HttpReply("garbage\r\n\r\n"), NetError::kMalformed},
      {"two lengths",
       HttpReply("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nx"),
       NetError::kMalformed},
      {"switch protocols", HttpReply("HTTP/1.1 101 Switching Protocols\r\n\r\n"),
       NetError::kMalformed},
      {"huge head", HttpReply("HTTP/1.1 200 OK\r\n" + std::string(kMaxHeaderBlockBytes, 'a')),
       NetError::kOverLimit},
      {"endless 1xx", endless_interim, NetError::kOverLimit},
      {"TLS alert", HttpReply(std::string("\x15\x03\x01\x00\x02\x02\x46", 7)),
       NetError::kTlsRequired},
      {"silent", testing::HangAfterRequest(), NetError::kTimeout},
      {"closes unanswered", testing::CloseAfterRequest(), NetError::kClosed},
      {"bad chunk",
       HttpReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcdef\r\n"),
       NetError::kMalformed, true},
      {"cut body", testing::HttpReplyThenClose("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc"),
       NetError::kClosed, true},
  };
  for (const Case& t : cases) {
    ScriptedServer server;
    server.AddConnection({t.peer});
    HttpConnection c = Client(server, HttpTimeouts{2000, 2000, 300, 10000});
    ASSERT_TRUE(c.Send(Get("/"))) << t.name;
    EXPECT_EQ(c.ReceiveResponse(), t.head_arrives) << t.name;
    if (t.head_arrives) {
      EXPECT_FALSE(ReadBody(c).has_value()) << t.name;
    }
    EXPECT_EQ(c.last_error(), t.cause) << t.name << ": " << NetErrorText(c.last_error());
    EXPECT_FALSE(c.connected()) << t.name;
  }
  uint16_t free_port;
  {
    ScriptedServer gone;
    free_port = gone.port();
  }
  HttpConnection refused("127.0.0.1", free_port, kShort, "test");
  EXPECT_FALSE(refused.Send(Get("/")));
  EXPECT_EQ(refused.last_error(), NetError::kRefused);
  HttpConnection unresolvable("no-such-host.invalid", free_port, kShort, "test");
  EXPECT_FALSE(unresolvable.Send(Get("/")));
  EXPECT_EQ(unresolvable.last_error(), NetError::kResolve);
}

// Each byte comes well within the receive time-out; only the exchange
// deadline ends a reply trickled too slowly.
TEST(HttpConnectionTest, TrickledReplyEndsAtTheExchangeDeadline) {
  const std::string reply =
      "HTTP/1.1 100 Continue\r\n\r\n"
      "HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n\n3\nabc\n0\n\n";
  for (const uint32_t byte_delay_ms : {0u, 40u}) {
    ScriptedServer server;
    server.AddConnection({testing::Trickle(reply, byte_delay_ms)});
    HttpConnection c = Client(server, HttpTimeouts{2000, 2000, 2000, 400});
    ASSERT_TRUE(c.Send(Get("/")));
    if (byte_delay_ms == 0) {
      ASSERT_TRUE(c.ReceiveResponse());
      EXPECT_EQ(ReadBody(c, 1).value_or("<error>"), "abc");
    } else {  // the reply would take over 3 s
      EXPECT_FALSE(c.ReceiveResponse());
      EXPECT_EQ(c.last_error(), NetError::kTimeout);
    }
  }
}

// A server push outlives the exchange deadline; a bounded read does not.
TEST(HttpConnectionTest, DeadlineBindsReadToEndButNotStreamReads) {
  std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n";
  std::vector<size_t> cuts;
  for (int i = 0; i < 6; ++i) {
    cuts.push_back(reply.size());
    reply += "0123456789";
  }
  ScriptedServer server;
  server.AddConnection({testing::HttpReplySplit(reply, cuts, 100)});  // 600 ms for the body
  server.AddConnection({testing::HttpReplySplit(reply, cuts, 100)});
  const HttpTimeouts timeouts{2000, 2000, 2000, 250};
  HttpConnection stream = Client(server, timeouts);
  ASSERT_TRUE(Exchange(stream, Get("/stream")));
  EXPECT_EQ(ReadBody(stream, 64).value_or("<error>").size(), 60u);
  HttpConnection bounded = Client(server, timeouts);
  ASSERT_TRUE(Exchange(bounded, Get("/bounded")));
  std::vector<uint8_t> body;
  EXPECT_FALSE(bounded.ReadToEnd(&body, 1000));
  EXPECT_EQ(bounded.last_error(), NetError::kTimeout);
  EXPECT_LT(body.size(), 60u);
}

// Memory held for a body: the caller's limit and the fixed receive buffer,
// whatever the device sends.
TEST(HttpConnectionTest, ReadToEndHoldsAtMostItsLimit) {
  constexpr size_t kLimit = 256 * 1024;
  struct Case {
    uint64_t length;
    bool endless;
    bool whole;
  };
  for (const Case& t : {Case{kLimit, false, true}, Case{kLimit + 1, false, false},
                        Case{uint64_t{1} << 40, true, false}}) {
    ScriptStep huge =
        HttpReply("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(t.length) + "\r\n\r\n");
    huge.filler_bytes = t.endless ? testing::kForever : t.length;
    ScriptedServer server;
    server.AddConnection({huge});
    HttpConnection c = Client(server);
    ASSERT_TRUE(Exchange(c, Get("/")));
    std::vector<uint8_t> body;
    EXPECT_EQ(c.ReadToEnd(&body, kLimit), t.whole) << t.length;
    EXPECT_EQ(body.size(), kLimit);
    EXPECT_LE(body.capacity(), kLimit);
    EXPECT_EQ(c.receive_buffer_capacity(), HttpConnection::kReceiveBufferBytes);
    EXPECT_EQ(c.last_error(), t.whole ? NetError::kNone : NetError::kOverLimit);
  }
}

// No credentials before the device asks; then the strongest scheme offered
// that can be answered, and the same again for the next request.
TEST(HttpConnectionTest, AnswersTheStrongestOfferedSchemeOnlyWhenAsked) {
  struct Case {
    const char* name;
    std::string offers;
    std::vector<std::string> schemes_seen;  // per request on the wire
    int status;
  };
  const Case cases[] = {
      {"Digest beside Basic",
       "WWW-Authenticate: Basic realm=\"cam\"\r\n"
       "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\", qop=\"auth\", algorithm=MD5\r\n",
       {"", "Digest", "Digest"},
       200},
      {"Basic only", "WWW-Authenticate: Basic realm=\"cam\"\r\n", {"", "Basic", "Basic"}, 200},
      // Digest we cannot answer: Basic would hand the password to a device
      // that asked for Digest. Nothing learned, nothing sent.
      {"SHA-256 Digest beside Basic",
       "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n\", algorithm=SHA-256\r\n"
       "WWW-Authenticate: Basic realm=\"cam\"\r\n",
       {"", ""},
       401},
  };
  for (const Case& t : cases) {
    const std::string challenge =
        "HTTP/1.1 401 Unauthorized\r\n" + t.offers + "Content-Length: 6\r\n\r\ndenied";
    ScriptedServer server;
    server.AddConnection(
        {HttpReply(challenge), HttpReply(t.status == 200 ? kOk : challenge), HttpReply(kOk)});
    HttpConnection c = Client(server);
    for (const char* target : {"/get.oid?1.2.7", "/get.oid?1.2.8"}) {
      ASSERT_TRUE(Exchange(c, Get(target, kUser))) << t.name;
      EXPECT_EQ(c.response().status_code, t.status) << t.name;
      EXPECT_EQ(c.last_error(), t.status == 401 ? NetError::kAuthRefused : NetError::kNone);
      EXPECT_EQ(ReadBody(c).value_or(""), t.status == 200 ? "ok" : "denied") << t.name;
    }
    ASSERT_TRUE(server.WaitForRequests(t.schemes_seen.size(), 2000));
    EXPECT_EQ(SchemesSeen(server), t.schemes_seen) << t.name;
    EXPECT_EQ(c.connects(), 1u) << t.name;
  }
  // The Digest answers: this request's URI, a counted nonce.
  ScriptedServer server;
  server.AddConnection({HttpReply("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest "
                                  "realm=\"cam\", nonce=\"n1\", qop=\"auth\"\r\n"
                                  "Content-Length: 0\r\n\r\n"),
                        HttpReply(kOk), HttpReply(kOk)});
  HttpConnection c = Client(server);
  ASSERT_TRUE(Exchange(c, Get("/get.oid?1.2.7", kUser)));
  ASSERT_TRUE(ReadBody(c).has_value());
  ASSERT_TRUE(Exchange(c, Get("/get.oid?1.2.8", kUser)));
  ASSERT_TRUE(server.WaitForRequests(3, 2000));
  const std::string ha1 = codec::Md5HexOf("admin:cam:secret");
  for (int i = 1; i <= 2; ++i) {
    const auto parsed = ParseAuthChallenges({server.Requests()[i].Header("Authorization")});
    ASSERT_EQ(parsed.size(), 1u);
    const std::string uri = i == 1 ? "/get.oid?1.2.7" : "/get.oid?1.2.8";
    const std::string nc = i == 1 ? "00000001" : "00000002";
    EXPECT_EQ(parsed[0].Param("uri").value_or(""), uri);
    EXPECT_EQ(parsed[0].Param("nc").value_or(""), nc);
    const std::string cnonce(parsed[0].Param("cnonce").value_or(""));
    EXPECT_EQ(parsed[0].Param("response").value_or(""),
              codec::Md5HexOf(ha1 + ":n1:" + nc + ":" + cnonce +
                              ":auth:" + codec::Md5HexOf("GET:" + uri)));
  }
}

// An offer we cannot answer is not remembered: the next challenge teaches.
TEST(HttpConnectionTest, UnanswerableOfferTeachesNothingAndALaterChallengeTeaches) {
  ScriptedServer server;
  server.AddConnection({HttpReply("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Negotiate\r\n"
                                  "WWW-Authenticate: NTLM\r\nContent-Length: 0\r\n\r\n"),
                        HttpReply("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic "
                                  "realm=\"cam\"\r\nContent-Length: 0\r\n\r\n"),
                        HttpReply(kOk), HttpReply(kOk)});
  HttpConnection c = Client(server);
  ASSERT_TRUE(Exchange(c, Get("/1", kUser)));
  EXPECT_EQ(c.response().status_code, 401);
  EXPECT_EQ(c.last_error(), NetError::kAuthRefused);
  EXPECT_EQ(c.offered_schemes(), kAuthSchemeNegotiate | kAuthSchemeNtlm);
  EXPECT_EQ(c.auth_scheme(), 0u);
  for (const char* target : {"/2", "/3"}) {
    ASSERT_TRUE(Exchange(c, Get(target, kUser)));
    EXPECT_EQ(c.response().status_code, 200);
    EXPECT_EQ(ReadBody(c).value_or(""), "ok");
  }
  EXPECT_EQ(c.auth_scheme(), kAuthSchemeBasic);
  EXPECT_EQ(SchemesSeen(server), (std::vector<std::string>{"", "", "Basic", "Basic"}));
}

// Refused credentials come back as the 401; only a stale nonce is answered
// once more.
TEST(HttpConnectionTest, RefusedCredentialsAreReturnedNotRepeated) {
  const std::string digest =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
      "Content-Length: 0\r\n\r\n";
  const std::string stale =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"m\", "
      "stale=true\r\nContent-Length: 0\r\n\r\n";
  const std::string basic =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
      "Content-Length: 0\r\n\r\n";
  struct Case {
    std::vector<std::string> replies;
    int status;
  };
  for (const Case& t :
       {Case{{digest, digest}, 401}, Case{{basic, basic}, 401}, Case{{digest, stale, kOk}, 200}}) {
    ScriptedServer server;
    std::vector<ScriptStep> steps;
    for (const auto& r : t.replies) steps.push_back(HttpReply(r));
    server.AddConnection(steps);
    HttpConnection c = Client(server);
    ASSERT_TRUE(Exchange(c, Get("/", kUser)));
    EXPECT_EQ(c.response().status_code, t.status);
    ASSERT_TRUE(server.WaitForRequests(t.replies.size(), 2000));
    EXPECT_EQ(server.Requests().size(), t.replies.size());
  }
}

// A 401 body up to kMaxDiscardBodyBytes is read and dropped so the answer
// goes out on the same connection; a longer one costs a new connection.
TEST(HttpConnectionTest, ChallengeBodyDiscardLimitExactlyAndOnePast) {
  for (size_t body_size :
       {HttpConnection::kMaxDiscardBodyBytes, HttpConnection::kMaxDiscardBodyBytes + 1}) {
    ScriptStep challenge = HttpReply(
        "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
        "Content-Length: " +
        std::to_string(body_size) + "\r\n\r\n");
    challenge.filler_bytes = body_size;
    ScriptedServer server;
    server.AddConnection({challenge, HttpReply(kNoContent)});
    server.AddConnection({HttpReply(kNoContent)});
    HttpConnection c = Client(server);
    ASSERT_TRUE(Exchange(c, Get("/", kUser))) << body_size;
    EXPECT_EQ(c.response().status_code, 204) << body_size;
    EXPECT_EQ(c.connects(), body_size == HttpConnection::kMaxDiscardBodyBytes ? 1u : 2u);
  }
}

// A request body is kept for a resend up to kMaxResendBodyBytes; beyond that
// the 401 goes back to the caller.
TEST(HttpConnectionTest, ResendBodyLimitExactlyAndOnePast) {
  const std::string challenge =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
      "Content-Length: 0\r\n\r\n";
  for (size_t body_size :
       {HttpConnection::kMaxResendBodyBytes, HttpConnection::kMaxResendBodyBytes + 1}) {
    ScriptedServer server;
    server.AddConnection({HttpReply(challenge), HttpReply(kNoContent)});
    HttpConnection c = Client(server);
    HttpRequestParams post = Upload(body_size, kUser);
    post.body.assign(body_size, 'b');
    ASSERT_TRUE(Exchange(c, post));
    const bool resent = body_size == HttpConnection::kMaxResendBodyBytes;
    EXPECT_EQ(c.response().status_code, resent ? 204 : 401) << body_size;
    if (resent) {
      ASSERT_TRUE(server.WaitForRequests(2, 5000));
      EXPECT_EQ(server.Requests()[1].body.size(), body_size);
    }
  }
}

// An upload that continues with Write() cannot be sent twice: while nothing
// is learned it asks first, so a challenge is answered before the body.
TEST(HttpConnectionTest, StreamedUploadAsksBeforeItsBodyGoesOut) {
  ScriptStep challenge = HeadThen(testing::HttpReplyThenClose(
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
      "Content-Length: 0\r\n\r\n"));
  ScriptStep agree = HeadThen(HttpReply("HTTP/1.1 100 Continue\r\n\r\n"));
  ScriptStep silent = HeadThen(testing::HangAfterRequest());
  struct Case {
    const char* name;
    std::vector<std::vector<ScriptStep>> connections;
    const char* final_scheme;
  };
  const Case cases[] = {
      {"challenge", {{challenge}, {silent}}, "Digest"},
      {"100 Continue", {{agree}}, ""},
      {"no answer", {{silent}}, ""},
  };
  for (const Case& t : cases) {
    ScriptedServer server;
    for (const auto& steps : t.connections) server.AddConnection(steps);
    HttpConnection c = Client(server);
    ASSERT_TRUE(c.Send(Upload(6, kUser))) << t.name;
    ASSERT_TRUE(c.Write(std::vector<uint8_t>{'c', 'd', 'e', 'f'})) << t.name;
    const size_t last = t.connections.size() - 1;
    ASSERT_TRUE(server.WaitForRequests(last + 1, 2000)) << t.name;
    const auto requests = server.Requests();
    EXPECT_EQ(requests[0].Header("Expect"), "100-continue") << t.name;
    EXPECT_EQ(requests[0].Header("Authorization"), "") << t.name;
    EXPECT_EQ(SchemesSeen(server).back(), t.final_scheme) << t.name;
    const size_t head = requests[last].head.size();
    ASSERT_TRUE(server.WaitForReceivedBytes(last, head + 6, 3000)) << t.name;
    EXPECT_EQ(server.Received(last).substr(head), "abcdef") << t.name;
  }
}

// The idle check alone: a streamed upload cannot be resent, so only seeing
// the close before sending saves it.
TEST(HttpConnectionTest, IdleConnectionClosedByThePeerIsNotUsed) {
  ScriptedServer server;
  server.AddConnection({testing::HttpReplyThenClose(kOk)});
  server.AddConnection({HeadThen(testing::HangAfterRequest())});
  HttpConnection c = Client(server);
  ASSERT_TRUE(Exchange(c, Get("/")));
  ASSERT_TRUE(ReadBody(c).has_value());
  c.EndRequest();
  ASSERT_TRUE(server.WaitForClosedConnections(1, 2000));
  ASSERT_TRUE(c.Send(Upload(6)));
  EXPECT_TRUE(c.Write(std::vector<uint8_t>{'c', 'd', 'e', 'f'}));
  ASSERT_TRUE(server.WaitForRequests(2, 2000));
  const size_t head = server.Requests()[1].head.size();
  ASSERT_TRUE(server.WaitForReceivedBytes(1, head + 6, 2000));
  EXPECT_EQ(server.Received(1).substr(head), "abcdef");
  EXPECT_EQ(c.connects(), 2u);
}

// The resend alone: the peer takes the request on a kept-alive connection
// and closes without a word; the request goes once more, never twice.
TEST(HttpConnectionTest, RequestTheDeviceDroppedGoesExactlyOnceMore) {
  for (const bool second_answers : {true, false}) {
    ScriptedServer server;
    server.AddConnection({HttpReply(kOk), testing::CloseAfterRequest()});
    server.AddConnection({second_answers ? HttpReply(kOk) : testing::CloseAfterRequest()});
    HttpConnection c = Client(server);
    ASSERT_TRUE(Exchange(c, Get("/1")));
    ASSERT_TRUE(ReadBody(c).has_value());
    ASSERT_TRUE(c.Send(Get("/2")));
    EXPECT_EQ(c.ReceiveResponse(), second_answers);
    EXPECT_EQ(c.last_error(), second_answers ? NetError::kNone : NetError::kClosed);
    EXPECT_EQ(c.connects(), 2u);
    ASSERT_TRUE(server.WaitForRequests(3, 2000));
    EXPECT_EQ(server.Requests().back().RequestLine(), "GET /2 HTTP/1.1");
  }
  // A streamed upload is never sent twice.
  ScriptedServer server;
  server.AddConnection({HttpReply(kOk), HeadThen(testing::CloseAfterRequest())});
  HttpConnection c = Client(server);
  ASSERT_TRUE(Exchange(c, Get("/1")));
  ASSERT_TRUE(ReadBody(c).has_value());
  ASSERT_TRUE(c.Send(Upload(2 + 4)));
  c.Write(std::vector<uint8_t>{'c', 'd', 'e', 'f'});  // may or may not fail
  EXPECT_FALSE(c.ReceiveResponse());
  EXPECT_EQ(c.connects(), 1u);
}

TEST(HttpConnectionTest, UnreadBodyDropsTheConnection) {
  ScriptedServer server;
  server.AddConnection(
      {HttpReply("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'x'))});
  server.AddConnection({HttpReply(kNoContent)});
  HttpConnection c = Client(server);
  ASSERT_TRUE(Exchange(c, Get("/")));
  c.EndRequest();  // most of the body never came: cannot be reused
  EXPECT_FALSE(c.connected());
  ASSERT_TRUE(Exchange(c, Get("/")));
  EXPECT_EQ(c.response().status_code, 204);
}

// Abort() from another thread once the owner really waits, in each blocking
// step; with hour-long time-outs only the abort can end them. Nothing is
// resent after an abort.
TEST(HttpConnectionTest, AbortEndsEachBlockedStepAtOnce) {
  const std::vector<uint8_t> big(32 * 1024 * 1024, 'z');  // beyond every socket buffer
  ScriptStep stalled = HeadThen(HttpReply(""));
  stalled.stall = true;
  struct Case {
    const char* name;
    ScriptStep second;  // after a first exchange, so the connection is a kept-alive one
    std::function<bool(HttpConnection&)> blocked;
  };
  const Case cases[] = {
      {"response head", testing::HangAfterRequest(),
       [](HttpConnection& c) { return c.Send(Get("/")) && c.ReceiveResponse(); }},
      {"stream read", HttpReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"),
       [](HttpConnection& c) { return Exchange(c, Get("/")) && ReadBody(c).has_value(); }},
      {"write", stalled,
       [&big](HttpConnection& c) { return c.Send(Upload(2 + big.size())) && c.Write(big); }},
  };
  for (const Case& t : cases) {
    ScriptedServer server;
    server.AddConnection({HttpReply(kOk), t.second});
    HttpConnection c = Client(server, HttpTimeouts{kHour, kHour, kHour, kHour});
    ASSERT_TRUE(Exchange(c, Get("/")));
    ASSERT_TRUE(ReadBody(c).has_value());
    pid_t owner = 0;
    bool result = true;
    std::atomic<bool> started{false};
    std::thread thread([&] {
      owner = testing::ThisThreadId();
      started = true;
      result = t.blocked(c);
    });
    while (!started) std::this_thread::yield();
    ASSERT_TRUE(testing::WaitUntilBlocked(owner, 5000)) << t.name;
    c.Abort();
    thread.join();
    EXPECT_FALSE(result) << t.name;
    EXPECT_EQ(c.last_error(), NetError::kAborted) << t.name;
    EXPECT_EQ(c.connects(), 1u) << t.name;
  }
  // A connect that the device never completes.
  testing::FullListener listener;
  ASSERT_TRUE(listener.ok());
  HttpConnection c("127.0.0.1", listener.port(), HttpTimeouts{kHour, kHour, kHour, kHour}, "t");
  const pid_t owner = testing::ThisThreadId();
  std::thread aborter([&] {
    if (testing::WaitUntilBlocked(owner, 5000)) c.Abort();
  });
  EXPECT_FALSE(c.Send(Get("/")));
  aborter.join();
  EXPECT_EQ(c.last_error(), NetError::kAborted);
}

TEST(HttpConnectionTest, WriteEndsAtItsTimeOutWhenThePeerStopsReading) {
  ScriptStep stalled = HeadThen(HttpReply(""));
  stalled.stall = true;
  ScriptedServer server;
  server.AddConnection({stalled});
  HttpConnection c = Client(server, HttpTimeouts{2000, 200, 2000, 10000});
  const std::vector<uint8_t> big(32 * 1024 * 1024, 'z');
  ASSERT_TRUE(c.Send(Upload(2 + big.size())));
  EXPECT_FALSE(c.Write(big));
  EXPECT_EQ(c.last_error(), NetError::kTimeout);
}

}  // namespace
}  // namespace korvela::platform
