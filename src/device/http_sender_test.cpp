#include "device/http_sender.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/http_auth.h"
#include "platform/testing/blocking.h"
#include "platform/testing/scripted_server.h"

namespace korvela::Web {
namespace {

using testing::HttpReply;
using testing::ScriptedServer;
using testing::ScriptStep;

const char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
const char kDigestChallenge[] =
    "HTTP/1.1 401 Unauthorized\r\n"
    "WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\", qop=\"auth\"\r\n"
    "WWW-Authenticate: Basic realm=\"cam\"\r\n"
    "Content-Length: 0\r\n\r\n";
const char kBasicChallenge[] =
    "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\nContent-Length: "
    "0\r\n\r\n";

DEVICE_INFO Device(uint16_t port, std::string user = "root", std::string password = "pass") {
  DEVICE_INFO d;
  d.address = "127.0.0.1";
  d.port = port;
  d.user_name = std::move(user);
  d.password = std::move(password);
  d.connect_timeout_ms = 2000;
  return d;
}

std::string AuthSchemeOf(const testing::ReceivedRequest& r) {
  const std::string auth = r.Header("Authorization");
  return auth.substr(0, auth.find(' '));
}

std::string AsString(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(HttpSenderTest, EmptyVerbOrObjectFailsBeforeAnyNetworkActivity) {
  ScriptedServer server;
  CHttpSender sender(Device(server.port()));
  EXPECT_FALSE(sender.SendRequest(HttpRequest("", "/get.oid?1.2.7")));
  EXPECT_FALSE(sender.SendRequest(HttpRequest("GET", "")));
  HttpRequest secure("GET", "/");
  secure.secure = 1;
  EXPECT_FALSE(sender.SendRequest(secure));   // no TLS: never sent in clear text
  EXPECT_FALSE(sender.WriteData({1, 2, 3}));  // no open request
  EXPECT_EQ(sender.GetConnectCount(), 0u);
  EXPECT_EQ(server.AcceptedConnections(), 0u);
  EXPECT_EQ(sender.GetStatusCode(), 0u);
}

TEST(HttpSenderTest, StopRequestsHoldsUntilAllowed) {
  // A worker that starts its request just after the owner's stop must not
  // reach the device: the stop outlasts the call it cuts.
  ScriptedServer server;
  server.AddConnection({HttpReply(kOk)});
  CHttpSender sender(Device(server.port()));
  sender.StopRequests();
  EXPECT_FALSE(sender.SendRequest(HttpRequest("GET", "/get.oid?1.3.15")));
  EXPECT_FALSE(sender.SendRequest(HttpRequest("GET", "/get.oid?1.3.15")));
  EXPECT_EQ(sender.GetConnectCount(), 0u);
  EXPECT_TRUE(server.Requests().empty());

  sender.AllowRequests();
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/get.oid?1.3.15")));
  EXPECT_EQ(sender.GetStatusCode(), 200u);
}

TEST(HttpSenderTest, GetReadsStatusLengthAndBodyOverOneConnection) {
  ScriptedServer server;
  server.AddConnection(
      {HttpReply(kOk), HttpReply("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")});
  CHttpSender sender(Device(server.port()));
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/get.oid?1.2.7")));
  EXPECT_EQ(sender.GetStatusCode(), 200u);
  EXPECT_EQ(sender.GetContentLength(), 5u);
  std::vector<uint8_t> body;
  EXPECT_EQ(sender.ReadAll(body), 5u);
  EXPECT_EQ(AsString(body), "hello");
  sender.CloseRequest();
  // A 404 is a sent request: the caller judges the status.
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/missing")));
  EXPECT_EQ(sender.GetStatusCode(), 404u);
  EXPECT_EQ(sender.GetContentLength(), 0u);
  EXPECT_EQ(sender.GetConnectCount(), 1u);

  ASSERT_TRUE(server.WaitForRequests(2, 2000));
  const auto reqs = server.Requests();
  EXPECT_EQ(reqs[0].RequestLine(), "GET /get.oid?1.2.7 HTTP/1.1");
  EXPECT_EQ(reqs[0].Header("User-Agent"), "Korvela::HttpClient");
  EXPECT_EQ(reqs[0].Header("Authorization"), "");  // not asked for: none sent
}

// The sender's part of authentication: credentials only for a user and an
// auth type other than none, and the scheme learned reported. Which scheme
// is answered and how is the transport's (http_connection_test).
TEST(HttpSenderTest, CredentialsGoOutOnlyWhenAskedForAndAllowed) {
  struct Case {
    const char* name;
    const char* user;
    uint32_t auth_type;
    std::vector<const char*> replies;
    std::vector<uint32_t> statuses;    // per SendRequest
    std::vector<std::string> schemes;  // per request on the wire
    uint32_t learned;
  };
  const Case cases[] = {
      {"Digest",
       "root",
       kAuthTypeBasic,
       {kDigestChallenge, kOk, kOk},
       {200, 200},
       {"", "Digest", "Digest"},
       platform::kAuthSchemeDigest},
      {"refused",
       "root",
       kAuthTypeBasic,
       {kBasicChallenge, kBasicChallenge},
       {401},
       {"", "Basic"},
       platform::kAuthSchemeBasic},
      {"no user",
       "",
       kAuthTypeBasic,
       {kDigestChallenge, kDigestChallenge},
       {401, 401},
       {"", ""},
       0},
      {"auth type none", "root", kAuthTypeNone, {kDigestChallenge}, {401}, {""}, 0},
  };
  for (const Case& c : cases) {
    ScriptedServer server;
    std::vector<ScriptStep> steps;
    for (const char* reply : c.replies) steps.push_back(HttpReply(reply));
    server.AddConnection(steps);
    CHttpSender sender(Device(server.port(), c.user));
    for (uint32_t status : c.statuses) {
      HttpRequest request("GET", "/get.oid?1.2.7");
      request.auth_type = c.auth_type;
      ASSERT_TRUE(sender.SendRequest(request)) << c.name;  // a 401 is a response like any other
      EXPECT_EQ(sender.GetStatusCode(), status) << c.name;
      sender.CloseRequest();
    }
    ASSERT_TRUE(server.WaitForRequests(c.schemes.size(), 2000)) << c.name;
    std::vector<std::string> schemes;
    for (const auto& r : server.Requests()) schemes.push_back(AuthSchemeOf(r));
    EXPECT_EQ(schemes, c.schemes) << c.name;
    if (c.learned != 0) {
      EXPECT_EQ(sender.GetAuthScheme(), c.learned) << c.name;
    }
  }
}

TEST(HttpSenderTest, UploadReturnsBeforeTheResponseAndContinuesWithWriteData) {
  ScriptedServer server;
  ScriptStep head_only;
  head_only.expect = ScriptStep::Expect::kHttpHead;
  head_only.hang = true;  // the device never answers an unfinished upload
  server.AddConnection({head_only});
  CHttpSender sender(Device(server.port(), "audio", "plume"));
  HttpRequest post("POST", "/audiorx.cgi");
  post.headers = {"Content-Type: audio/ulaw"};
  post.body = {1, 2, 3};
  post.total_length = 8;
  ASSERT_TRUE(sender.SendRequest(post));
  EXPECT_TRUE(sender.IsRequestOpen());
  EXPECT_EQ(sender.GetStatusCode(), 0u);  // no response read

  EXPECT_FALSE(sender.WriteData({}));  // nothing to write: fails, no I/O
  EXPECT_TRUE(sender.WriteData({4, 5, 6, 7}));
  EXPECT_FALSE(sender.WriteData({8, 9}));  // beyond the announced total
  ASSERT_TRUE(server.WaitForRequests(1, 2000));
  const auto req = server.Requests()[0];
  EXPECT_EQ(req.Header("Content-Length"), "8");
  EXPECT_EQ(req.Header("Content-Type"), "audio/ulaw");
  // Nothing learned yet: the device may challenge before the body goes out.
  EXPECT_EQ(req.Header("Authorization"), "");
  EXPECT_EQ(req.Header("Expect"), "100-continue");
}

TEST(HttpSenderTest, NoWaitFlagReturnsOnceSent) {
  ScriptedServer server;
  server.AddConnection({testing::HangAfterRequest()});
  CHttpSender sender(Device(server.port()));
  HttpRequest request("GET", "/set.oid?OidTR1.2=3");
  request.flags |= kFlagNoWaitForResponse;
  ASSERT_TRUE(sender.SendRequest(request));  // would time out if it waited
  EXPECT_EQ(sender.GetStatusCode(), 0u);
}

// Reading a chunked stream piece by piece is the lighttpd interop test's.
TEST(HttpSenderTest, CloseRequestFromAnotherThreadEndsABlockedRead) {
  ScriptedServer server;
  server.AddConnection({HttpReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")});
  DEVICE_INFO device = Device(server.port());
  device.connect_timeout_ms = 3600000;  // only the close can end the read
  CHttpSender sender(device);
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/stream")));
  const pid_t reader = testing::ThisThreadId();
  std::thread closer([&] {
    if (testing::WaitUntilBlocked(reader, 5000)) sender.CloseRequest();
  });
  std::vector<uint8_t> chunk;
  EXPECT_EQ(sender.ReadChunk(chunk), 0u);
  closer.join();
  EXPECT_TRUE(chunk.empty());
  EXPECT_FALSE(sender.IsRequestOpen());
  // The sender goes on working after the abort.
  server.AddConnection({HttpReply(kOk)});
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/")));
  EXPECT_EQ(sender.GetStatusCode(), 200u);
}

TEST(HttpSenderTest, StatusCodeSurvivesALaterFailure) {
  ScriptedServer server;
  server.AddConnection({HttpReply(kOk), HttpReply("not http at all\r\n\r\n")});
  CHttpSender sender(Device(server.port()));
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/")));
  std::vector<uint8_t> body;
  sender.ReadAll(body);
  EXPECT_FALSE(sender.SendRequest(HttpRequest("GET", "/")));
  EXPECT_EQ(sender.GetStatusCode(), 200u);
  EXPECT_FALSE(sender.IsRequestOpen());
}

TEST(HttpSenderTest, SetCredentialsClosesTheRequestAndAppliesToTheNext) {
  ScriptedServer server;
  server.AddConnection({HttpReply(kOk), HttpReply(kBasicChallenge), HttpReply(kOk)});
  CHttpSender sender(Device(server.port()));
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/")));
  sender.SetCredentials("audio", "n3w");
  EXPECT_FALSE(sender.IsRequestOpen());
  EXPECT_EQ(sender.GetUserName(), "audio");
  EXPECT_EQ(sender.GetPassword(), "n3w");
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/")));
  ASSERT_TRUE(server.WaitForRequests(3, 2000));
  EXPECT_EQ(server.Requests()[2].Header("Authorization"),
            platform::BasicAuthorization("audio", "n3w"));
}

TEST(HttpSenderTest, RefusedConnectionFails) {
  uint16_t port;
  {
    ScriptedServer server;
    port = server.port();
  }
  CHttpSender sender(Device(port));
  EXPECT_FALSE(sender.SendRequest(HttpRequest("GET", "/")));
  std::vector<uint8_t> body{1};
  EXPECT_EQ(sender.ReadAll(body), 0u);
  EXPECT_TRUE(body.empty());
}

TEST(HttpSenderTest, ReadAllStopsAtTheCapOnAnEndlessBody) {
  // A close-delimited body that never ends.
  ScriptStep endless = HttpReply("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
  endless.filler_bytes = testing::kForever;
  ScriptedServer server;
  server.AddConnection({endless});
  server.AddConnection({endless});
  DEVICE_INFO device = Device(server.port());
  device.connect_timeout_ms = 30000;  // 256 MiB within the exchange deadline, sanitizers included
  CHttpSender sender(device);
  for (const uint32_t limit : {CHttpSender::kMaxReadAllBytes, 65537u}) {  // a caller's own limit
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/endless")));
    std::vector<uint8_t> body;
    EXPECT_EQ(sender.ReadAll(body, limit), limit);
    EXPECT_EQ(body.size(), limit);
    EXPECT_EQ(body.back(), 'x');
    sender.CloseRequest();  // drops the connection, so the peer stops
  }
}

}  // namespace
}  // namespace korvela::Web
