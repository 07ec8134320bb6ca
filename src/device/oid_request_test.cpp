#include "device/oid_request.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/testing/scripted_server.h"

namespace korvela::HUtils {
namespace {

using korvela::testing::HangAfterRequest;
using korvela::testing::HttpReply;
using korvela::testing::HttpReplyThenClose;
using korvela::testing::ScriptedServer;
using korvela::testing::ScriptStep;

constexpr uint32_t kWaitMs = 5000;

std::string Reply(int status, const std::string& reason, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string OidPage(const std::string& content) {
  return "<html><head><title>OID</title></head><body><xmp>" + content + "</xmp></body></html>\n";
}

// A loopback port nobody listens on: bound once, then released.
uint16_t UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

DEVICE_INFO Device(uint16_t port, uint32_t timeout_ms = kWaitMs) {
  DEVICE_INFO device;
  device.address = "127.0.0.1";
  device.port = port;
  device.connect_timeout_ms = timeout_ms;
  device.receive_timeout_ms = timeout_ms;
  return device;
}

// The scripted device and a sender pointed at it.
struct OidFixture {
  explicit OidFixture(uint32_t timeout_ms = kWaitMs) : sender(Device(server.port(), timeout_ms)) {}

  std::string RequestLine(size_t index) const {
    const auto requests = server.Requests();
    if (index >= requests.size()) return {};
    const std::string& head = requests[index].head;
    return head.substr(0, head.find("\r\n"));
  }
  std::string Port() const { return std::to_string(server.port()); }

  ScriptedServer server;
  Web::CHttpSender sender;
};

// One read through a scripted device: what the reply makes of the result.
// "{dev}" in a message stands for the device as address and port.
struct GetOidCase {
  const char* name;
  std::string oids;
  std::vector<ScriptStep> replies;
  uint32_t code;
  uint32_t level;
  std::string message;
  std::string value;
  uint32_t timeout_ms = kWaitMs;
};

std::string OidReply200(const std::string& content) { return Reply(200, "OK", OidPage(content)); }

// A page of exactly `size` bytes whose value is all 'v'.
std::string PageOfSize(size_t size) { return OidPage(std::string(size - OidPage("").size(), 'v')); }

TEST(GetOidTest, RepliesGiveCodeLevelMessageAndValue) {
  const std::string kReq = "korvela::HUtils::RequestGetRD: ";
  const std::string kOid = "korvela::HUtils::GetOidRD: device 127.0.0.1 returns error message ";
  const std::string kLong = std::string(kMaxQuotedErrorChars - 6, 'x');
  const GetOidCase cases[] = {
      {"empty list: no request", "", {}, kCodeEmptyOidList, kLevelSilent, "", ""},
      {"single value",
       "1.2.7",
       {HttpReply(OidReply200("IQ041S"))},
       kCodeOk,
       kLevelState,
       "",
       "IQ041S"},
      {"several, rejected lines dropped",
       "1.17.1.2&1.9.5&1.9.6&1.9.7",
       {HttpReply(OidReply200("1.17.1.2=64\n1.9.5=err\n1.9.6=on\n"))},
       kCodeOk,
       kLevelState,
       "",
       "1.17.1.2=64\n1.9.6=on\n"},
      {"single error report",
       "9.9.9",
       {HttpReply(OidReply200("ERROR: unknown OID"))},
       kCodeDeviceError,
       kLevelFailure,
       kOid + "\"ERROR: unknown OID\" for request \"/get.oid?9.9.9\"",
       ""},
      {"error text at the quoting limit",
       "9.9.9",
       {HttpReply(OidReply200("ERROR " + kLong))},
       kCodeDeviceError,
       kLevelFailure,
       kOid + "\"ERROR " + kLong + "\" for request \"/get.oid?9.9.9\"",
       ""},
      {"error text one past it",
       "9.9.9",
       {HttpReply(OidReply200("ERROR " + kLong + "y"))},
       kCodeDeviceError,
       kLevelFailure,
       kOid + "\"ERROR " + kLong + "...\" for request \"/get.oid?9.9.9\"",
       ""},
      {"error text with line breaks and escapes",
       "9.9.9",
       {HttpReply(OidReply200("ERR\r\nfake: Camera x is online\x1b[2J"))},
       kCodeDeviceError,
       kLevelFailure,
       kOid + "\"ERR??fake: Camera x is online?[2J\" for request \"/get.oid?9.9.9\"",
       ""},
      {"attributed block skipped",
       "1.2.7",
       {HttpReply(
           Reply(200, "OK", "<xmp class=\"banner\">ERROR banner</xmp><xmp>1.2.7=IQ762</xmp>"))},
       kCodeOk,
       kLevelState,
       "",
       "1.2.7=IQ762"},
      {"no markers, single",
       "1.2.7",
       {HttpReply(Reply(200, "OK", "<html>no block</html>"))},
       kCodeOk,
       kLevelState,
       "",
       ""},
      {"no markers, several",
       "1.2.7&1.2.8",
       {HttpReply(Reply(200, "OK", "<html>none</html>"))},
       kCodeOk,
       kLevelState,
       "",
       ""},
      {"404",
       "1.2.7",
       {HttpReply(Reply(404, "Not Found", "<html>nope</html>"))},
       kCodeBadStatus,
       kLevelFailure,
       kReq + "{dev} sent does not process request \"/get.oid?1.2.7\", status code = 404",
       ""},
      {"silent device",
       "1.2.7",
       {HangAfterRequest()},
       kCodeNotSent,
       kLevelSilent,
       kReq + "can not send request \"/get.oid?1.2.7\" to {dev}",
       "",
       200},
      {"no status line",
       "1.2.7",
       {HttpReplyThenClose("SSH-2.0-OpenSSH_9.2\r\n")},
       kCodeNotSent,
       kLevelSilent,
       kReq + "can not send request \"/get.oid?1.2.7\" to {dev}",
       ""},
      {"empty body",
       "1.2.7",
       {HttpReply(Reply(200, "OK", ""))},
       kCodeBadResponse,
       kLevelFailure,
       kReq + "incorrect response for request \"/get.oid?1.2.7\" from {dev}",
       ""},
      {"reply at the size limit",
       "1.2.7",
       {HttpReply(Reply(200, "OK", PageOfSize(kMaxOidReplyBytes)))},
       kCodeOk,
       kLevelState,
       "",
       std::string(kMaxOidReplyBytes - OidPage("").size(), 'v')},
      {"reply one byte past it",
       "1.2.7",
       {HttpReply(Reply(200, "OK", PageOfSize(kMaxOidReplyBytes + 1)))},
       kCodeBadResponse,
       kLevelFailure,
       kReq + "response to request \"/get.oid?1.2.7\" from {dev} is longer than 65536 bytes",
       ""},
      // Announces 256 MiB and sends 1 MiB of line feeds, then nothing: the
      // read ends at the limit instead of holding the bytes and waiting.
      {"endless reply of line feeds",
       "1.2.7&1.2.8",
       {HttpReply("HTTP/1.1 200 OK\r\nContent-Length: 268435456\r\n\r\n<xmp>" +
                  std::string(1 << 20, '\n'))},
       kCodeBadResponse,
       kLevelFailure,
       kReq + "response to request \"/get.oid?1.2.7&1.2.8\" from {dev} is longer than 65536 bytes",
       "",
       60000},
  };
  for (const GetOidCase& c : cases) {
    SCOPED_TRACE(c.name);
    OidFixture f(c.timeout_ms);
    ASSERT_TRUE(f.server.ok());
    f.server.AddConnection(c.replies);
    std::string value = "stale";
    const Web::CResultDef r = GetOidRD(f.sender, c.oids, value);
    std::string message = c.message;
    if (const size_t at = message.find("{dev}"); at != std::string::npos)
      message.replace(at, 5, "127.0.0.1:" + f.Port());
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.level, c.level);
    EXPECT_EQ(r.message, message);
    EXPECT_TRUE(value == c.value) << value.substr(0, 100);
    if (c.oids.empty()) {
      EXPECT_EQ(f.server.AcceptedConnections(), 0u);
    } else {  // the list goes out as given, unescaped
      EXPECT_EQ(f.RequestLine(0), "GET /get.oid?" + c.oids + " HTTP/1.1");
    }
  }
}

TEST(GetOidTest, RefusedConnectionIsSilentCode10) {
  const uint16_t port = UnusedPort();
  Web::CHttpSender sender(Device(port));
  std::string value = "stale";
  const Web::CResultDef r = GetOidRD(sender, "1.2.7", value);
  EXPECT_EQ(r.code, kCodeNotSent);
  EXPECT_EQ(r.level, kLevelSilent);
  EXPECT_EQ(r.message,
            "korvela::HUtils::RequestGetRD: can not send request \"/get.oid?1.2.7\" "
            "to 127.0.0.1:" +
                std::to_string(port));
  EXPECT_EQ(GetOid(sender, "1.2.7"), "");
}

TEST(GetOidTest, AbortFromAnotherThreadEndsTheRead) {
  // The capability query aborts a blocked read by closing the request from
  // its stop path; the read must fail at once instead of running into the
  // (here long) time-out.
  OidFixture f(/*timeout_ms=*/60000);
  f.server.AddConnection({HangAfterRequest()});
  std::thread aborter([&f] {
    if (f.server.WaitForRequests(1, kWaitMs)) f.sender.CloseRequest();
  });
  std::string value;
  const Web::CResultDef r = GetOidRD(f.sender, "1.2.7", value);
  aborter.join();
  EXPECT_EQ(r.code, kCodeNotSent);
  EXPECT_EQ(r.level, kLevelSilent);
}

TEST(GetOidTest, GetOidKeepsValueOnlyOnSuccess) {
  OidFixture f;
  f.server.AddConnection({HttpReply(Reply(200, "OK", OidPage("1.3.15=1"))),
                          HttpReply(Reply(200, "OK", OidPage("Error")))});
  EXPECT_EQ(GetOid(f.sender, "1.3.15"), "1.3.15=1");
  EXPECT_EQ(GetOid(f.sender, "1.3.15"), "");
}

TEST(RequestTest, BodyGetsATerminatingZero) {
  OidFixture f;
  f.server.AddConnection({HttpReply(Reply(200, "OK", "abc"))});
  std::vector<uint8_t> body;
  EXPECT_TRUE(RequestGetBody("/basicset.html", body, f.sender));
  EXPECT_EQ(body, (std::vector<uint8_t>{'a', 'b', 'c', 0}));
  EXPECT_EQ(f.RequestLine(0), "GET /basicset.html HTTP/1.1");
}

TEST(RequestTest, RedirectStatusCountsAsSuccessAndIsNotFollowed) {
  OidFixture f;
  f.server.AddConnection(
      {HttpReply("HTTP/1.1 302 Found\r\nLocation: /other\r\n"
                 "Content-Length: 5\r\n\r\nmoved")});
  EXPECT_TRUE(RequestOk("/set.oid?OidTR1.2.3=4", f.sender));
  EXPECT_EQ(f.server.Requests().size(), 1u);
}

TEST(RequestTest, RequestOkNeedsANonEmptyReply) {
  OidFixture f;
  f.server.AddConnection({HttpReply(Reply(200, "OK", "")), HttpReply(Reply(200, "OK", "OK"))});
  EXPECT_FALSE(RequestOk("/set.oid?OidTR1.2.3=4", f.sender));
  EXPECT_TRUE(RequestOk("/set.oid?OidTR1.2.3=4", f.sender));
}

TEST(RequestTest, StatusOnlyWritesIgnoreTheBody) {
  OidFixture f;
  f.server.AddConnection(
      {HttpReply(Reply(200, "OK", "")), HttpReply(Reply(500, "Internal Server Error", "x"))});
  EXPECT_EQ(RequestStatus("/set.oid?OidTB1.6.1.1=1", f.sender).code, kCodeOk);
  const Web::CResultDef r = RequestStatus("/set.oid?OidTB1.6.1.1=1", f.sender);
  EXPECT_EQ(r.code, kCodeBadStatus);
  EXPECT_NE(r.message.find("status code = 500"), std::string::npos);
}

TEST(RequestTest, SilentGet) {
  OidFixture f;
  f.server.AddConnection({HttpReply(Reply(200, "OK", "")), HttpReply(Reply(404, "Not Found", "x")),
                          HttpReply(Reply(200, "OK", OidPage("1"))),
                          HttpReply(Reply(200, "OK", PageOfSize(kMaxOidReplyBytes + 1)))});
  std::vector<uint8_t> body;
  EXPECT_FALSE(RequestGet("/get.oid?1.3.15", body, f.sender));  // empty body
  EXPECT_FALSE(RequestGet("/get.oid?1.3.15", body, f.sender));  // 404
  EXPECT_TRUE(RequestGet("/get.oid?1.3.15", body, f.sender));
  ASSERT_FALSE(body.empty());
  EXPECT_EQ(body.back(), 0);
  EXPECT_EQ(std::string(body.begin(), body.end() - 1), OidPage("1"));
  EXPECT_FALSE(RequestGet("/get.oid?1.3.15", body, f.sender));  // too long
  EXPECT_TRUE(body.empty());
}

TEST(RequestTest, SendGetLeavesTheStreamOpen) {
  OidFixture f;
  f.server.AddConnection(
      {HttpReply("HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace\r\n\r\nframe-1")});
  ASSERT_TRUE(SendGet("/now.jpg?snap=spush0.10", f.sender));
  EXPECT_EQ(f.sender.GetStatusCode(), 200u);
  std::vector<uint8_t> chunk;
  EXPECT_GT(f.sender.ReadChunk(chunk), 0u);
  EXPECT_EQ(std::string(chunk.begin(), chunk.end()), "frame-1");
  f.sender.CloseRequest();
}

TEST(RequestTest, FailureMessagesHideTheTalkBackPassword) {
  OidFixture f;
  f.server.AddConnection({HttpReply(Reply(403, "Forbidden", "no"))});
  const Web::CResultDef r = RequestStatus("/set.oid?OidTR1.9.3=on&OidTR1.9.10=s3cretPw", f.sender);
  EXPECT_EQ(r.code, kCodeBadStatus);
  EXPECT_EQ(r.message.find("s3cretPw"), std::string::npos);
  EXPECT_NE(r.message.find("\"/set.oid?OidTR1.9.3=on&OidTR1.9.10=***\""), std::string::npos);
  // The device still receives the real value.
  EXPECT_NE(f.RequestLine(0).find("OidTR1.9.10=s3cretPw"), std::string::npos);

  const uint16_t port = UnusedPort();
  Web::CHttpSender refused(Device(port));
  EXPECT_EQ(RequestStatus("/set.oid?OidTR1.9.10=s3cretPw", refused).message.find("s3cretPw"),
            std::string::npos);
}

TEST(RedactPathTest, OnlySecretValuesAreHidden) {
  EXPECT_EQ(RedactPath("/set.oid?OidTR1.9.10=abc"), "/set.oid?OidTR1.9.10=***");
  EXPECT_EQ(RedactPath("/set.oid?OidTR1.9.3=on&OidTR1.9.10=abc&OidTR1.9.7=full"),
            "/set.oid?OidTR1.9.3=on&OidTR1.9.10=***&OidTR1.9.7=full");
  EXPECT_EQ(RedactPath("/set.oid?OidTR1.9.100=abc"), "/set.oid?OidTR1.9.100=abc");
  EXPECT_EQ(RedactPath("/get.oid?1.9.10"), "/get.oid?1.9.10");
  EXPECT_EQ(RedactPath("/basicset.html"), "/basicset.html");
  EXPECT_EQ(RedactPath("/set.oid?&&OidTR1.9.10=&"), "/set.oid?&&OidTR1.9.10=***&");
}

}  // namespace
}  // namespace korvela::HUtils
