#include "device/oid_request.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/scripted_server.h"

namespace korvela::HUtils {
namespace {

using korvela::testing::HangAfterRequest;
using korvela::testing::HttpReply;
using korvela::testing::HttpReplyThenClose;
using korvela::testing::HttpResponse;
using korvela::testing::ScriptedServer;
using korvela::testing::ScriptStep;

constexpr uint32_t kWaitMs = 5000;

std::string OidPage(const std::string& content) {
  return "<html><head><title>OID</title></head><body><xmp>" + content + "</xmp></body></html>\n";
}

// A loopback port nobody listens on any more.
uint16_t UnusedPort() { return ScriptedServer().port(); }

DEVICE_INFO Device(uint16_t port, uint32_t timeout_ms = kWaitMs) {
  DEVICE_INFO device;
  device.address = "127.0.0.1";
  device.port = port;
  device.connect_timeout_ms = timeout_ms;
  device.receive_timeout_ms = timeout_ms;
  return device;
}

// Script words for a device that never answers, and for an address where
// nobody listens; any other reply that is not HTTP is sent, then the
// connection closed.
const std::string kHang = "HANG";
const std::string kRefused = "REFUSED";

// A scripted device answering `replies` on one connection, and a sender
// pointed at it.
struct OidFixture {
  explicit OidFixture(const std::vector<std::string>& replies = {}, uint32_t timeout_ms = kWaitMs)
      : port(replies.size() == 1 && replies[0] == kRefused ? UnusedPort() : server.port()),
        sender(Device(port, timeout_ms)) {
    std::vector<ScriptStep> steps;
    for (const std::string& reply : replies) {
      if (reply == kRefused) return;
      steps.push_back(reply == kHang               ? HangAfterRequest()
                      : reply.starts_with("HTTP/") ? HttpReply(reply)
                                                   : HttpReplyThenClose(reply));
    }
    if (!steps.empty()) server.AddConnection(std::move(steps));
  }

  // The message text with "{dev}" replaced by address and port.
  std::string WithDevice(std::string text) const {
    if (const size_t at = text.find("{dev}"); at != std::string::npos)
      text.replace(at, 5, "127.0.0.1:" + std::to_string(port));
    return text;
  }

  ScriptedServer server;
  uint16_t port;
  Web::CHttpSender sender;
};

// A page of exactly `size` bytes whose value is all 'v'.
std::string PageOfSize(size_t size) { return OidPage(std::string(size - OidPage("").size(), 'v')); }

TEST(GetOidTest, RepliesGiveCodeLevelMessageAndValue) {
  struct Case {
    std::string oids;
    std::string reply;
    uint32_t code;
    uint32_t level;
    std::string message;
    std::string value;
  };
  const std::string kReq = "korvela::HUtils::RequestGetRD: ";
  const std::string kErr = "korvela::HUtils::GetOidRD: device 127.0.0.1 returns error message \"";
  const std::string kLong = "ERROR " + std::string(kMaxQuotedErrorChars - 6, 'x');
  const std::string kTooLong = " from {dev} is longer than 65536 bytes";
  const Case cases[] = {
      {"", "", kCodeEmptyOidList, kLogNever, "", ""},  // no request
      {"1.2.7", HttpResponse(OidPage("IQ041S")), kCodeOk, kLogState, "", "IQ041S"},
      {"1.17.1.2&1.9.5&1.9.6&1.9.7", HttpResponse(OidPage("1.17.1.2=64\n1.9.5=err\n1.9.6=on\n")),
       kCodeOk, kLogState, "", "1.17.1.2=64\n1.9.6=on\n"},
      {"9.9.9", HttpResponse(OidPage("ERROR: unknown OID")), kCodeDeviceError, kLogFailure,
       kErr + "ERROR: unknown OID\" for request \"/get.oid?9.9.9\"", ""},
      {"9.9.9", HttpResponse(OidPage(kLong)), kCodeDeviceError, kLogFailure,
       kErr + kLong + "\" for request \"/get.oid?9.9.9\"", ""},
      {"9.9.9", HttpResponse(OidPage(kLong + "y")), kCodeDeviceError, kLogFailure,
       kErr + kLong + "...\" for request \"/get.oid?9.9.9\"", ""},
      {"9.9.9", HttpResponse(OidPage("ERR\r\nfake: Camera x is online\x1b[2J")), kCodeDeviceError,
       kLogFailure, kErr + "ERR??fake: Camera x is online?[2J\" for request \"/get.oid?9.9.9\"",
       ""},
      {"1.2.7", HttpResponse("<html>no block</html>"), kCodeOk, kLogState, "", ""},
      {"1.2.7&1.2.8", HttpResponse("<html>no block</html>"), kCodeOk, kLogState, "", ""},
      {"1.2.7", HttpResponse("nope", "404 Not Found"), kCodeBadStatus, kLogFailure,
       kReq + "{dev} sent does not process request \"/get.oid?1.2.7\", status code = 404", ""},
      // The specified text, then the cause.
      {"1.2.7", kRefused, kCodeNotSent, kLogNever,
       kReq + "can not send request \"/get.oid?1.2.7\" to {dev} (connection refused)", ""},
      {"1.2.7", kHang, kCodeNotSent, kLogNever,
       kReq + "can not send request \"/get.oid?1.2.7\" to {dev} (timed out)", ""},
      {"1.2.7", "SSH-2.0-OpenSSH_9.2\r\n", kCodeNotSent, kLogNever,
       kReq + "can not send request \"/get.oid?1.2.7\" to {dev} (connection closed by the device)",
       ""},
      {"1.2.7", HttpResponse(""), kCodeBadResponse, kLogFailure,
       kReq + "incorrect response for request \"/get.oid?1.2.7\" from {dev}", ""},
      {"1.2.7", HttpResponse(PageOfSize(kMaxOidReplyBytes)), kCodeOk, kLogState, "",
       std::string(kMaxOidReplyBytes - OidPage("").size(), 'v')},
      {"1.2.7", HttpResponse(PageOfSize(kMaxOidReplyBytes + 1)), kCodeBadResponse, kLogFailure,
       kReq + "response to request \"/get.oid?1.2.7\"" + kTooLong, ""},
      // 256 MiB announced, 1 MiB of line feeds sent, then nothing: the read
      // ends at the limit instead of holding the bytes and waiting for more.
      {"1.2.7&1.2.8",
       "HTTP/1.1 200 OK\r\nContent-Length: 268435456\r\n\r\n<xmp>" + std::string(1 << 20, '\n'),
       kCodeBadResponse, kLogFailure,
       kReq + "response to request \"/get.oid?1.2.7&1.2.8\"" + kTooLong, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply.substr(0, 60));
    // A silent device is waited for briefly; an endless one never long.
    OidFixture f(c.reply.empty() ? std::vector<std::string>{} : std::vector{c.reply},
                 c.reply == kHang ? 200 : 60000);
    std::string value = "stale";
    const Web::CResultDef r = GetOidRD(f.sender, c.oids, value);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.level, c.level);
    EXPECT_EQ(r.message, f.WithDevice(c.message));
    EXPECT_TRUE(value == c.value) << value.substr(0, 100);
    if (c.oids.empty() || c.reply == kRefused) {
      EXPECT_EQ(f.server.AcceptedConnections(), 0u);
    } else {  // the list goes out as given, unescaped
      EXPECT_EQ(f.server.Requests().at(0).RequestLine(), "GET /get.oid?" + c.oids + " HTTP/1.1");
    }
  }
}

TEST(GetOidTest, AbortFromAnotherThreadEndsTheRead) {
  // The capability query aborts a blocked read by closing the request from
  // its stop path; the read must fail at once instead of running into the
  // (here long) time-out.
  OidFixture f({kHang}, /*timeout_ms=*/60000);
  std::thread aborter([&f] {
    if (f.server.WaitForRequests(1, kWaitMs)) f.sender.CloseRequest();
  });
  std::string value;
  const Web::CResultDef r = GetOidRD(f.sender, "1.2.7", value);
  aborter.join();
  EXPECT_EQ(r.code, kCodeNotSent);
  EXPECT_EQ(r.level, kLogNever);
  EXPECT_EQ(r.cause, platform::NetError::kAborted);
}

TEST(RequestTest, WritesProbesAndPolls) {
  enum Function { kOk, kBody, kStatus, kPoll };
  struct Case {
    Function function;
    std::string reply;
    bool ok;
    std::string body;  // kBody and kPoll: with the appended zero byte
  };
  const std::string kPage = OidPage("1");
  const Case cases[] = {
      {kBody, HttpResponse("abc"), true, std::string("abc\0", 4)},
      {kBody, HttpResponse(PageOfSize(kMaxOidReplyBytes + 1)), false, std::string(1, '\0')},
      // A redirect counts as success and is not followed (one request).
      {kOk, "HTTP/1.1 302 Found\r\nLocation: /other\r\nContent-Length: 5\r\n\r\nmoved", true, ""},
      {kOk, HttpResponse(""), false, ""},
      {kOk, HttpResponse("OK"), true, ""},
      {kStatus, HttpResponse(""), true, ""},
      {kStatus, HttpResponse("x", "500 Internal Server Error"), false, ""},
      {kPoll, HttpResponse(""), false, ""},
      {kPoll, HttpResponse("x", "404 Not Found"), false, ""},
      {kPoll, HttpResponse(kPage), true, kPage + '\0'},
      {kPoll, HttpResponse(PageOfSize(kMaxOidReplyBytes + 1)), false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply.substr(0, 60));
    OidFixture f({c.reply});
    std::vector<uint8_t> body;
    bool ok = false;
    switch (c.function) {
      case kOk:
        ok = RequestOk("/set.oid?OidTR1.2.3=4", f.sender);
        break;
      case kBody:
        ok = RequestGetBody("/get.oid?1.2.26.5", body, f.sender);
        break;
      case kStatus:
        ok = RequestStatus("/set.oid?OidTB1.6.1.1=1", f.sender).code == kCodeOk;
        break;
      case kPoll:
        ok = RequestGet("/get.oid?1.3.15", body, f.sender);
        break;
    }
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(std::string(body.begin(), body.end()), c.body);
    EXPECT_EQ(f.server.Requests().size(), 1u);
  }
}

// SendGet leaving the stream open to be read is the stream link's test.
TEST(RequestTest, FailureMessagesHideTheTalkBackPassword) {
  OidFixture f({HttpResponse("no", "403 Forbidden")});
  const Web::CResultDef r = RequestStatus("/set.oid?OidTR1.9.3=on&OidTR1.9.10=s3cretPw", f.sender);
  EXPECT_EQ(r.code, kCodeBadStatus);
  EXPECT_EQ(r.message.find("s3cretPw"), std::string::npos);
  EXPECT_NE(r.message.find("\"/set.oid?OidTR1.9.3=on&OidTR1.9.10=***\""), std::string::npos);
  // The device still receives the real value.
  EXPECT_NE(f.server.Requests().at(0).RequestLine().find("OidTR1.9.10=s3cretPw"),
            std::string::npos);

  OidFixture refused({kRefused});
  EXPECT_EQ(RequestStatus("/set.oid?OidTR1.9.10=s3cretPw", refused.sender).message.find("s3cretPw"),
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
