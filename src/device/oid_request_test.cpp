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

TEST(GetOidTest, SingleOidValue) {
  OidFixture f;
  ASSERT_TRUE(f.server.ok());
  f.server.AddConnection({HttpReply(Reply(200, "OK", OidPage("IQ041S")))});
  std::string value = "stale";
  const Web::CResultDef r = GetOidRD(f.sender, "1.2.7", value);
  EXPECT_EQ(r.code, kCodeOk);
  EXPECT_EQ(r.level, kLevelState);
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(value, "IQ041S");
  EXPECT_EQ(f.RequestLine(0), "GET /get.oid?1.2.7 HTTP/1.1");
}

TEST(GetOidTest, MultiOidDropsRejectedLines) {
  OidFixture f;
  f.server.AddConnection(
      {HttpReply(Reply(200, "OK", OidPage("1.17.1.2=64\n1.9.5=err\n1.9.6=on\n")))});
  std::string value;
  const Web::CResultDef r = GetOidRD(f.sender, "1.17.1.2&1.9.5&1.9.6&1.9.7", value);
  EXPECT_EQ(r.code, kCodeOk);
  EXPECT_EQ(value, "1.17.1.2=64\n1.9.6=on\n");
  // The list goes out unescaped.
  EXPECT_EQ(f.RequestLine(0), "GET /get.oid?1.17.1.2&1.9.5&1.9.6&1.9.7 HTTP/1.1");
}

TEST(GetOidTest, SingleOidErrorReport) {
  OidFixture f;
  f.server.AddConnection({HttpReply(Reply(200, "OK", OidPage("ERROR: unknown OID")))});
  std::string value = "stale";
  const Web::CResultDef r = GetOidRD(f.sender, "9.9.9", value);
  EXPECT_EQ(r.code, kCodeDeviceError);
  EXPECT_EQ(r.level, kLevelFailure);
  EXPECT_EQ(r.message,
            "korvela::HUtils::GetOidRD: device 127.0.0.1 returns error message "
            "\"ERROR: unknown OID\" for request \"/get.oid?9.9.9\"");
  EXPECT_EQ(value, "");
}

TEST(GetOidTest, QuotedErrorTextIsBounded) {
  OidFixture f;
  const std::string at_limit = "ERROR " + std::string(kMaxQuotedErrorChars - 6, 'x');
  const std::string past_limit = at_limit + "y";
  f.server.AddConnection({HttpReply(Reply(200, "OK", OidPage(at_limit))),
                          HttpReply(Reply(200, "OK", OidPage(past_limit)))});
  std::string value;
  const Web::CResultDef whole = GetOidRD(f.sender, "9.9.9", value);
  EXPECT_EQ(whole.code, kCodeDeviceError);
  EXPECT_NE(whole.message.find("\"" + at_limit + "\""), std::string::npos);
  const Web::CResultDef cut = GetOidRD(f.sender, "9.9.9", value);
  EXPECT_EQ(cut.code, kCodeDeviceError);
  EXPECT_NE(cut.message.find("\"" + at_limit + "...\""), std::string::npos);
  EXPECT_EQ(cut.message.find('y'), std::string::npos);
}

TEST(GetOidTest, AttributedBlockIsSkippedOnTheWire) {
  OidFixture f;
  f.server.AddConnection({HttpReply(
      Reply(200, "OK", "<xmp class=\"banner\">ERROR banner</xmp><xmp>1.2.7=IQ762</xmp>"))});
  std::string value;
  EXPECT_EQ(GetOidRD(f.sender, "1.2.7", value).code, kCodeOk);
  EXPECT_EQ(value, "1.2.7=IQ762");
}

TEST(GetOidTest, ReplyWithoutMarkersIsEmptySuccess) {
  OidFixture f;
  f.server.AddConnection({HttpReply(Reply(200, "OK", "<html>no block</html>")),
                          HttpReply(Reply(200, "OK", "<html>no block</html>"))});
  std::string value = "stale";
  EXPECT_EQ(GetOidRD(f.sender, "1.2.7", value).code, kCodeOk);
  EXPECT_EQ(value, "");
  EXPECT_EQ(GetOidRD(f.sender, "1.2.7&1.2.8", value).code, kCodeOk);
  EXPECT_EQ(value, "");
}

TEST(GetOidTest, NotFoundIsCode7WithStatus) {
  OidFixture f;
  f.server.AddConnection({HttpReply(Reply(404, "Not Found", "<html>nope</html>"))});
  std::string value = "stale";
  const Web::CResultDef r = GetOidRD(f.sender, "1.2.7", value);
  EXPECT_EQ(r.code, kCodeBadStatus);
  EXPECT_EQ(r.level, kLevelFailure);
  EXPECT_EQ(r.message, "korvela::HUtils::RequestGetRD: 127.0.0.1:" + f.Port() +
                           " sent does not process request \"/get.oid?1.2.7\", status code = 404");
  EXPECT_EQ(value, "");
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

TEST(GetOidTest, SilentOrGarbledDeviceIsCode10) {
  OidFixture f(/*timeout_ms=*/200);
  f.server.AddConnection({HangAfterRequest()});
  f.server.AddConnection({HttpReplyThenClose("SSH-2.0-OpenSSH_9.2\r\n")});
  std::string value = "stale";
  EXPECT_EQ(GetOidRD(f.sender, "1.2.7", value).code, kCodeNotSent);  // time-out
  EXPECT_EQ(GetOidRD(f.sender, "1.2.7", value).code, kCodeNotSent);  // no status line
  EXPECT_EQ(value, "");
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

TEST(GetOidTest, EmptyBodyIsCode11) {
  OidFixture f;
  f.server.AddConnection({HttpReply(Reply(200, "OK", ""))});
  std::string value;
  const Web::CResultDef r = GetOidRD(f.sender, "1.2.7", value);
  EXPECT_EQ(r.code, kCodeBadResponse);
  EXPECT_EQ(r.level, kLevelFailure);
  EXPECT_EQ(r.message,
            "korvela::HUtils::RequestGetRD: incorrect response for request "
            "\"/get.oid?1.2.7\" from 127.0.0.1:" +
                f.Port());
}

TEST(GetOidTest, EmptyListMakesNoRequest) {
  OidFixture f;
  std::string value = "stale";
  const Web::CResultDef r = GetOidRD(f.sender, "", value);
  EXPECT_EQ(r.code, kCodeEmptyOidList);
  EXPECT_EQ(r.level, kLevelSilent);
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(value, "");
  EXPECT_EQ(f.server.AcceptedConnections(), 0u);
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
                          HttpReply(Reply(200, "OK", OidPage("1")))});
  std::vector<uint8_t> body;
  EXPECT_FALSE(RequestGet("/get.oid?1.3.15", body, f.sender));  // empty body
  EXPECT_FALSE(RequestGet("/get.oid?1.3.15", body, f.sender));  // 404
  EXPECT_TRUE(RequestGet("/get.oid?1.3.15", body, f.sender));
  ASSERT_FALSE(body.empty());
  EXPECT_EQ(body.back(), 0);
  EXPECT_EQ(std::string(body.begin(), body.end() - 1), OidPage("1"));
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
