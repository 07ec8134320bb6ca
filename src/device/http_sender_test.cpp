#include "device/http_sender.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/http_auth.h"
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

std::string HeaderOf(const std::string& head, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  const size_t at = head.find(key);
  if (at == std::string::npos) return {};
  const size_t start = at + key.size();
  return head.substr(start, head.find("\r\n", start) - start);
}

std::string AuthSchemeOf(const testing::ReceivedRequest& r) {
  const std::string auth = HeaderOf(r.head, "Authorization");
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
  EXPECT_FALSE(sender.SendRequest(secure));  // no TLS: never sent in clear text
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
  EXPECT_EQ(reqs[0].head.substr(0, reqs[0].head.find("\r\n")), "GET /get.oid?1.2.7 HTTP/1.1");
  EXPECT_EQ(HeaderOf(reqs[0].head, "User-Agent"), "Korvela::HttpClient");
  EXPECT_EQ(HeaderOf(reqs[0].head, "Authorization"), "");  // not asked for: none sent
}

TEST(HttpSenderTest, DigestChallengeIsAnsweredThenReused) {
  ScriptedServer server;
  server.AddConnection({HttpReply(kDigestChallenge), HttpReply(kOk), HttpReply(kOk)});
  CHttpSender sender(Device(server.port()));
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/get.oid?1.2.7")));
  EXPECT_EQ(sender.GetStatusCode(), 200u);
  EXPECT_EQ(sender.GetAuthScheme(), platform::kAuthSchemeDigest);
  sender.CloseRequest();
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/get.oid?1.2.8")));
  EXPECT_EQ(sender.GetStatusCode(), 200u);

  ASSERT_TRUE(server.WaitForRequests(3, 2000));
  const auto reqs = server.Requests();
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_EQ(AuthSchemeOf(reqs[0]), "");        // nothing before the device asks
  EXPECT_EQ(AuthSchemeOf(reqs[1]), "Digest");  // the answer
  EXPECT_EQ(AuthSchemeOf(reqs[2]), "Digest");  // Digest from the start
  auto later = platform::ParseAuthChallenges({HeaderOf(reqs[2].head, "Authorization")});
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(later[0].Param("nc").value_or(""), "00000002");
}

TEST(HttpSenderTest, EmptyUserNeverSendsCredentials) {
  ScriptedServer server;
  server.AddConnection({HttpReply(kDigestChallenge), HttpReply(kDigestChallenge)});
  CHttpSender sender(Device(server.port(), "", "ignored"));
  // A 401 is a response like any other.
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/")));
  EXPECT_EQ(sender.GetStatusCode(), 401u);
  sender.CloseRequest();
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/")));
  EXPECT_EQ(sender.GetStatusCode(), 401u);
  ASSERT_TRUE(server.WaitForRequests(2, 2000));
  for (const auto& r : server.Requests()) EXPECT_EQ(HeaderOf(r.head, "Authorization"), "");
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST(HttpSenderTest, AuthTypeNoneSendsNoCredentials) {
  ScriptedServer server;
  server.AddConnection({HttpReply(kOk)});
  CHttpSender sender(Device(server.port()));
  HttpRequest request("GET", "/");
  request.auth_type = kAuthTypeNone;
  ASSERT_TRUE(sender.SendRequest(request));
  ASSERT_TRUE(server.WaitForRequests(1, 2000));
  EXPECT_EQ(HeaderOf(server.Requests()[0].head, "Authorization"), "");
}

TEST(HttpSenderTest, RefusedCredentialsComeBackAsThe401) {
  ScriptedServer server;
  server.AddConnection({HttpReply(kBasicChallenge), HttpReply(kBasicChallenge)});
  CHttpSender sender(Device(server.port()));
  EXPECT_TRUE(sender.SendRequest(HttpRequest("GET", "/")));
  EXPECT_EQ(sender.GetStatusCode(), 401u);
  EXPECT_EQ(sender.GetAuthScheme(), platform::kAuthSchemeBasic);
  ASSERT_TRUE(server.WaitForRequests(2, 2000));
  EXPECT_EQ(server.Requests().size(), 2u);  // asked once, answered once, not again
  EXPECT_EQ(AuthSchemeOf(server.Requests()[1]), "Basic");
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
  EXPECT_EQ(HeaderOf(req.head, "Content-Length"), "8");
  EXPECT_EQ(HeaderOf(req.head, "Content-Type"), "audio/ulaw");
  // Nothing learned yet: the device may challenge before the body goes out.
  EXPECT_EQ(HeaderOf(req.head, "Authorization"), "");
  EXPECT_EQ(HeaderOf(req.head, "Expect"), "100-continue");
}

TEST(HttpSenderTest, WriteDataWithoutOpenRequestFails) {
  ScriptedServer server;
  CHttpSender sender(Device(server.port()));
  EXPECT_FALSE(sender.WriteData({1, 2, 3}));
  EXPECT_EQ(sender.GetConnectCount(), 0u);
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

TEST(HttpSenderTest, ReadChunkFollowsAnEndlessChunkedStream) {
  std::string reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 5; ++i) reply += "4\r\nfram\r\n";
  ScriptedServer server;
  ScriptStep step = HttpReply(reply);  // no final chunk: the stream goes on
  server.AddConnection({step});
  CHttpSender sender(Device(server.port()));
  sender.SetReadChunkSize(6);
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/now.jpg?snap=spush1.00")));
  std::string got;
  std::vector<uint8_t> chunk;
  while (got.size() < 20) {
    const uint32_t n = sender.ReadChunk(chunk);
    ASSERT_GT(n, 0u);
    ASSERT_LE(n, 6u);
    EXPECT_EQ(chunk.size(), n);
    got += AsString(chunk);
  }
  EXPECT_EQ(got, "framframframframfram");
  sender.CloseRequest();
  EXPECT_EQ(sender.ReadChunk(chunk), 0u);
  EXPECT_TRUE(chunk.empty());
}

TEST(HttpSenderTest, CloseRequestFromAnotherThreadEndsABlockedRead) {
  ScriptedServer server;
  server.AddConnection({HttpReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")});
  DEVICE_INFO device = Device(server.port());
  device.connect_timeout_ms = 3600000;  // only the close can end the read
  CHttpSender sender(device);
  ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/stream")));
  std::atomic<bool> reading{false};
  std::thread closer([&] {
    while (!reading.load()) std::this_thread::yield();
    sender.CloseRequest();
  });
  reading = true;
  std::vector<uint8_t> chunk;
  EXPECT_EQ(sender.ReadChunk(chunk), 0u);
  closer.join();
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
  EXPECT_EQ(HeaderOf(server.Requests()[2].head, "Authorization"),
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

// A peer that answers with a close-delimited body and then streams without
// end, until the client goes away.
class EndlessPeer {
 public:
  EndlessPeer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 1);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~EndlessPeer() {
    ::shutdown(fd_, SHUT_RDWR);  // wakes an accept that never got its client
    thread_.join();
    ::close(fd_);
  }
  uint16_t port() const { return port_; }
  uint64_t sent() const { return sent_; }

 private:
  void Run() {
    const int c = ::accept(fd_, nullptr, nullptr);
    if (c < 0) return;
    char request[4096];
    ::recv(c, request, sizeof request, 0);
    const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
    ::send(c, head.data(), head.size(), MSG_NOSIGNAL);
    const std::vector<char> block(65536, 'z');
    for (;;) {
      const ssize_t n = ::send(c, block.data(), block.size(), MSG_NOSIGNAL);
      if (n <= 0) break;
      sent_ += static_cast<uint64_t>(n);
    }
    ::close(c);
  }
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<uint64_t> sent_{0};
  std::thread thread_;
};

TEST(HttpSenderTest, ReadAllStopsAtTheCapOnAnEndlessBody) {
  EndlessPeer peer;
  DEVICE_INFO device = Device(peer.port());
  device.connect_timeout_ms = 30000;  // 256 MiB within the exchange deadline, sanitizers included
  CHttpSender sender(device);
  {
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/endless")));
    std::vector<uint8_t> body;
    EXPECT_EQ(sender.ReadAll(body), CHttpSender::kMaxReadAllBytes);
    EXPECT_EQ(body.size(), CHttpSender::kMaxReadAllBytes);
    EXPECT_EQ(body.back(), 'z');
  }
  sender.CloseRequest();  // drops the connection, so the peer stops

  // A caller's own, smaller limit.
  EndlessPeer small_peer;
  CHttpSender small_sender(Device(small_peer.port()));
  ASSERT_TRUE(small_sender.SendRequest(HttpRequest("GET", "/endless")));
  std::vector<uint8_t> body;
  EXPECT_EQ(small_sender.ReadAll(body, 65537), 65537u);
  EXPECT_EQ(body.size(), 65537u);
  small_sender.CloseRequest();
}

}  // namespace
}  // namespace korvela::Web
