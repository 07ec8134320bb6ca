#include "platform/http_connection.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/blocking.h"
#include "platform/testing/scripted_server.h"

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

// Every framing the transport reads, cut into two pieces at every byte
// position (small replies) or around the buffer sizes (large ones, whose
// payload large reads take straight from the socket); a second request on
// the same connection proves the first exchange ended exactly where it
// should.
TEST(HttpConnectionTest, BodiesEndExactlyWhereTheirFramingSays) {
  std::string big;
  for (size_t i = 0; i < 3 * HttpConnection::kMinDirectReadBytes + 7; ++i) {
    big.push_back(static_cast<char>('a' + i % 23));
  }
  const std::string first = big.substr(0, 5000);
  const std::string rest = big.substr(5000);
  char sizes[32];
  std::snprintf(sizes, sizeof sizes, "%zx|%zx", first.size(), rest.size());
  const std::string hex(sizes);
  struct Case {
    std::string reply;
    std::string payload;
    std::vector<size_t> cuts;  // empty: every position
  };
  const std::vector<size_t> around_buffers = {1, 40, 41, 4096, 5050, 5060, 9000, 12000};
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello world", "hello world", {}},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "6\r\nhello \r\n5;x=y\r\nworld\r\n0\r\nT: 1\r\n\r\n",
       "hello world",
       {}},
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\nContent-Length: 11\n\nhello world",
       "hello world",
       {}},
      {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n" + big, big,
       around_buffers},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + hex.substr(0, hex.find('|')) +
           "\r\n" + first + "\r\n" + hex.substr(hex.find('|') + 1) + "\r\n" + rest +
           "\r\n0\r\n\r\n",
       big, around_buffers},
  };
  for (const Case& t : cases) {
    std::vector<size_t> cuts = t.cuts;
    for (size_t cut = 1; cuts.empty() && cut < t.reply.size(); ++cut) cuts.push_back(cut);
    ScriptedServer server;
    for (size_t cut : cuts) {
      server.AddConnection({testing::HttpReplySplit(t.reply, {cut}, 1), HttpReply(kNoContent)});
    }
    const size_t piece = t.payload.size() > 100 ? 2 * HttpConnection::kMinDirectReadBytes : 5;
    for (size_t cut : cuts) {
      HttpConnection c = Client(server);
      ASSERT_TRUE(Exchange(c, Get("/a"))) << cut;
      EXPECT_EQ(c.response().status_code, 200);
      EXPECT_TRUE(ReadBody(c, piece).value_or("<error>") == t.payload) << "cut " << cut;
      ASSERT_TRUE(Exchange(c, Get("/b"))) << cut;
      EXPECT_EQ(c.response().status_code, 204) << cut;
      EXPECT_EQ(c.connects(), 1u) << cut;
    }
  }
  // Close-delimited: the body is everything up to the close. A body not read
  // to its end cannot be skipped without blocking. Either way the next
  // request needs a new connection.
  ScriptedServer server;
  server.AddConnection({testing::HttpReplyThenClose("HTTP/1.0 200 OK\r\n\r\n" + big)});
  server.AddConnection({HttpReply("HTTP/1.1 200 OK\r\nContent-Length: 99999\r\n\r\n" + big)});
  server.AddConnection({HttpReply(kNoContent)});
  HttpConnection c = Client(server);
  ASSERT_TRUE(Exchange(c, Get("/a")));
  EXPECT_TRUE(ReadBody(c, 2 * HttpConnection::kMinDirectReadBytes).value_or("") == big);
  ASSERT_TRUE(Exchange(c, Get("/b")));
  ASSERT_TRUE(Exchange(c, Get("/c")));
  EXPECT_EQ(c.response().status_code, 204);
  EXPECT_EQ(c.connects(), 3u);
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
  HttpRequestParams bad[] = {Get("/"), Get(""), Get("/"), Get("/")};
  bad[0].extra_headers = {"X: a\r\nInjected: yes"};
  bad[2].method = "GE T";
  bad[3].method = "";
  for (const auto& request : bad) {
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
  uint16_t free_port;  // nobody listens there any more
  { free_port = ScriptedServer().port(); }
  for (const auto& [host, cause] : {std::pair{"127.0.0.1", NetError::kRefused},
                                    std::pair{"no-such-host.invalid", NetError::kResolve}}) {
    HttpConnection c(host, free_port, kShort, "test");
    EXPECT_FALSE(c.Send(Get("/")));
    EXPECT_EQ(c.last_error(), cause) << host;
  }
}

// Each byte comes well within the receive time-out; only the exchange
// deadline ends a reply trickled too slowly. A server push outlives the
// deadline; a bounded read of a body does not.
TEST(HttpConnectionTest, ExchangeDeadlineBindsHeadAndReadToEndButNotStreamReads) {
  const std::string reply =
      "HTTP/1.1 100 Continue\r\n\r\n"
      "HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n\n3\nabc\n0\n\n";
  for (const uint32_t byte_delay_ms : {0u, 40u}) {  // 40: the reply would take over 3 s
    ScriptedServer server;
    server.AddConnection({testing::Trickle(reply, byte_delay_ms)});
    HttpConnection c = Client(server, HttpTimeouts{2000, 2000, 2000, 400});
    ASSERT_TRUE(c.Send(Get("/")));
    EXPECT_EQ(c.ReceiveResponse(), byte_delay_ms == 0);
    EXPECT_EQ(c.last_error(), byte_delay_ms == 0 ? NetError::kNone : NetError::kTimeout);
  }
  std::string pushed = "HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n";
  std::vector<size_t> cuts;
  for (int i = 0; i < 6; ++i) {
    cuts.push_back(pushed.size());
    pushed += "0123456789";
  }
  ScriptedServer server;
  server.AddConnection({testing::HttpReplySplit(pushed, cuts, 100)});  // 600 ms for the body
  server.AddConnection({testing::HttpReplySplit(pushed, cuts, 100)});
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
// that can be answered, reused for the next request. Offers that cannot be
// answered teach nothing; refused credentials come back as the 401; only a
// stale nonce is answered once more.
TEST(HttpConnectionTest, AnswersTheStrongestOfferedSchemeOnlyWhenAsked) {
  auto challenge = [](const std::string& offers) {
    return "HTTP/1.1 401 Unauthorized\r\n" + offers + "Content-Length: 0\r\n\r\n";
  };
  const std::string digest = challenge(
      "WWW-Authenticate: Basic realm=\"cam\"\r\n"
      "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\", qop=\"auth\", algorithm=MD5\r\n");
  const std::string digest_only =
      challenge("WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\"\r\n");
  const std::string stale =
      challenge("WWW-Authenticate: Digest realm=\"cam\", nonce=\"n2\", stale=true\r\n");
  const std::string basic = challenge("WWW-Authenticate: Basic realm=\"cam\"\r\n");
  // Basic would hand the password to a device that asked for Digest.
  const std::string sha256 = challenge(
      "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n\", algorithm=SHA-256\r\n"
      "WWW-Authenticate: Basic realm=\"cam\"\r\n");
  const std::string ntlm = challenge("WWW-Authenticate: Negotiate\r\nWWW-Authenticate: NTLM\r\n");
  struct Case {
    const char* name;
    std::vector<std::string> replies;
    std::vector<int> statuses;              // per request of the client
    std::vector<std::string> schemes_seen;  // per request on the wire
  };
  const Case cases[] = {
      {"Digest beside Basic", {digest, kOk, kOk}, {200, 200}, {"", "Digest", "Digest"}},
      {"Basic only", {basic, kOk, kOk}, {200, 200}, {"", "Basic", "Basic"}},
      {"SHA-256 Digest beside Basic", {sha256, sha256}, {401, 401}, {"", ""}},
      {"NTLM, then Basic", {ntlm, basic, kOk, kOk}, {401, 200, 200}, {"", "", "Basic", "Basic"}},
      {"Digest only, refused", {digest_only, digest_only}, {401}, {"", "Digest"}},
      {"Basic refused", {basic, basic}, {401}, {"", "Basic"}},
      {"stale nonce", {digest, stale, kOk}, {200}, {"", "Digest", "Digest"}},
  };
  for (const Case& t : cases) {
    ScriptedServer server;
    std::vector<ScriptStep> steps;
    for (const std::string& reply : t.replies) steps.push_back(HttpReply(reply));
    server.AddConnection(steps);
    HttpConnection c = Client(server);
    for (size_t i = 0; i < t.statuses.size(); ++i) {
      ASSERT_TRUE(Exchange(c, Get("/get.oid?1." + std::to_string(i), kUser))) << t.name;
      EXPECT_EQ(c.response().status_code, t.statuses[i]) << t.name << " " << i;
      EXPECT_EQ(c.last_error(), t.statuses[i] == 401 ? NetError::kAuthRefused : NetError::kNone);
      ASSERT_TRUE(ReadBody(c).has_value()) << t.name;
    }
    ASSERT_TRUE(server.WaitForRequests(t.schemes_seen.size(), 2000)) << t.name;
    EXPECT_EQ(SchemesSeen(server), t.schemes_seen) << t.name;
    EXPECT_EQ(c.connects(), 1u) << t.name;
  }
  // The Digest answers carry this request's URI and a counted nonce.
  ScriptedServer server;
  server.AddConnection({HttpReply(digest), HttpReply(kOk), HttpReply(kOk)});
  HttpConnection c = Client(server);
  for (const char* target : {"/get.oid?1.2.7", "/get.oid?1.2.8"}) {
    ASSERT_TRUE(Exchange(c, Get(target, kUser)));
    ASSERT_TRUE(ReadBody(c).has_value());
  }
  ASSERT_TRUE(server.WaitForRequests(3, 2000));
  const auto answer = ParseAuthChallenges({server.Requests()[2].Header("Authorization")});
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0].Param("uri").value_or(""), "/get.oid?1.2.8");
  EXPECT_EQ(answer[0].Param("nc").value_or(""), "00000002");
}

// What answering a challenge may cost, at exactly each limit and one past:
// a 401 body up to kMaxDiscardBodyBytes is dropped so the answer goes out on
// the same connection (beyond: a new one); a request body up to
// kMaxResendBodyBytes is kept for the answer (beyond: the 401 comes back).
TEST(HttpConnectionTest, ChallengeAnswerLimitsExactlyAndOnePast) {
  const std::string challenge =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
      "Content-Length: ";
  for (const size_t past : {0, 1}) {
    const size_t discard = HttpConnection::kMaxDiscardBodyBytes + past;
    ScriptStep long_challenge = HttpReply(challenge + std::to_string(discard) + "\r\n\r\n");
    long_challenge.filler_bytes = discard;
    ScriptedServer server;
    server.AddConnection({long_challenge, HttpReply(kNoContent)});
    server.AddConnection({HttpReply(kNoContent)});
    HttpConnection c = Client(server);
    ASSERT_TRUE(Exchange(c, Get("/", kUser))) << past;
    EXPECT_EQ(c.response().status_code, 204) << past;
    EXPECT_EQ(c.connects(), 1u + past);

    ScriptedServer upload_server;
    upload_server.AddConnection({HttpReply(challenge + "0\r\n\r\n"), HttpReply(kNoContent)});
    HttpConnection u = Client(upload_server);
    HttpRequestParams post = Upload(HttpConnection::kMaxResendBodyBytes + past, kUser);
    post.body.assign(post.total_length, 'b');
    ASSERT_TRUE(Exchange(u, post));
    EXPECT_EQ(u.response().status_code, past == 0 ? 204 : 401);
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

// A device that answers "100 Continue" late is not taken for one that ignores
// Expect: once its refusal arrives, the next upload asks first again, so its
// body does not go into a refused request.
TEST(HttpConnectionTest, UploadRefusedAfterTheContinueWaitAsksFirstAgain) {
  ScriptedServer server;
  ScriptStep late_refusal =
      HeadThen(testing::HttpReplySplit("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n",
                                       {0}, HttpConnection::kContinueWaitMs + 500));
  late_refusal.close_after = true;
  server.AddConnection({late_refusal});
  server.AddConnection({HeadThen(HttpReply("HTTP/1.1 100 Continue\r\n\r\n"))});
  HttpConnection c = Client(server);
  ASSERT_TRUE(c.Send(Upload(6, kUser)));  // the body follows the silent wait
  ASSERT_TRUE(server.WaitForClosedConnections(1, 10000));
  EXPECT_FALSE(c.Write(std::vector<uint8_t>{'c', 'd', 'e', 'f'}));
  EXPECT_EQ(c.response().status_code, 401);
  ASSERT_TRUE(c.Send(Upload(6, kUser)));
  ASSERT_TRUE(server.WaitForRequests(2, 2000));
  EXPECT_EQ(server.Requests()[1].Header("Expect"), "100-continue");
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

// Abort() from another thread ends each blocking step at once, acting only
// once the owner really waits (only the abort can end hour-long waits);
// nothing is resent after it. A write to a device that stopped reading ends
// at its own time-out.
TEST(HttpConnectionTest, BlockedStepsEndAtOnceOnAbortAndWritesAtTheirTimeOut) {
  const std::vector<uint8_t> big(32 * 1024 * 1024, 'z');  // beyond every socket buffer
  ScriptStep stalled = HeadThen(HttpReply(""));
  stalled.stall = true;
  testing::FullListener never_accepts;
  ASSERT_TRUE(never_accepts.ok());
  struct Case {
    const char* name;
    std::optional<ScriptStep> second;  // after a first exchange: a kept-alive connection
    std::function<bool(HttpConnection&)> blocked;
    NetError cause = NetError::kAborted;
  };
  const Case cases[] = {
      {"connect", std::nullopt, [](HttpConnection& c) { return c.Send(Get("/")); }},
      {"response head", testing::HangAfterRequest(),
       [](HttpConnection& c) { return c.Send(Get("/")) && c.ReceiveResponse(); }},
      {"stream read", HttpReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"),
       [](HttpConnection& c) { return Exchange(c, Get("/")) && ReadBody(c).has_value(); }},
      {"write", stalled,
       [&big](HttpConnection& c) { return c.Send(Upload(2 + big.size())) && c.Write(big); }},
      {"write timing out", stalled,
       [&big](HttpConnection& c) { return c.Send(Upload(2 + big.size())) && c.Write(big); },
       NetError::kTimeout},
  };
  for (const Case& t : cases) {
    ScriptedServer server;
    HttpConnection c("127.0.0.1", t.second ? server.port() : never_accepts.port(),
                     HttpTimeouts{kHour, t.cause == NetError::kTimeout ? 200 : kHour, kHour, kHour},
                     "test");
    if (t.second) {
      server.AddConnection({HttpReply(kOk), *t.second});
      ASSERT_TRUE(Exchange(c, Get("/")));
      ASSERT_TRUE(ReadBody(c).has_value());
    }
    const pid_t owner = testing::ThisThreadId();
    std::thread aborter([&] {
      if (t.cause == NetError::kAborted && testing::WaitUntilBlocked(owner, 5000)) c.Abort();
    });
    EXPECT_FALSE(t.blocked(c)) << t.name;
    aborter.join();
    EXPECT_EQ(c.last_error(), t.cause) << t.name;
    EXPECT_EQ(c.connects(), t.second ? 1u : 0u) << t.name;  // nothing resent
  }
}

}  // namespace
}  // namespace korvela::platform
