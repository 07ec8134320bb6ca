#include "device/camera_properties_http.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/testing/scripted_server.h"

namespace korvela {
namespace {

using testing::HttpReply;
using testing::HttpReplyThenClose;
using testing::ScriptedServer;

std::string Reply(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

DEVICE_INFO Device(const ScriptedServer& server) {
  DEVICE_INFO device;
  device.address = "127.0.0.1";
  device.port = server.port();
  device.connect_timeout_ms = 5000;
  return device;
}

TEST(HttpOidDeviceTest, StatusOfAPageAndOfAPageThatNeverAnswers) {
  ScriptedServer server;
  ASSERT_TRUE(server.ok());
  // The second request is taken and the connection closed without an answer
  // (also on the reconnect the client may try).
  server.AddConnection({HttpReply(Reply("404 Not Found", "")), HttpReplyThenClose("")});
  server.AddConnection({HttpReplyThenClose("")});
  CHttpOidDevice device(Device(server));
  EXPECT_EQ(device.GetStatus("/basicset.html"), 404u);
  // No response: the status of the last response received stands.
  EXPECT_EQ(device.GetStatus("/imageset.html"), 404u);
  ASSERT_GE(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[0].head.rfind("GET /basicset.html HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(server.Requests()[1].head.rfind("GET /imageset.html HTTP/1.1\r\n", 0), 0u);
}

TEST(HttpOidDeviceTest, ReadsOidValuesBodiesAndSendsWrites) {
  ScriptedServer server;
  ASSERT_TRUE(server.ok());
  server.AddConnection({
      HttpReply(Reply("200 OK", "<html><xmp>IQ765</xmp></html>")),
      HttpReply(Reply("200 OK", "<html><xmp>ERROR: no such OID</xmp></html>")),
      HttpReply(Reply("200 OK", "<xmp>1.2.26.5=1</xmp>")),
      HttpReply(Reply("200 OK", "OK")),
  });
  CHttpOidDevice device(Device(server));
  EXPECT_EQ(device.GetOid("2.8"), "IQ765");
  EXPECT_EQ(device.GetOid("1.9.5"), "");  // the device's error text is no value
  std::string body;
  ASSERT_TRUE(device.GetBody("/get.oid?1.2.26.5", body));
  EXPECT_EQ(body, std::string("<xmp>1.2.26.5=1</xmp>") + '\0');
  device.SendWithoutAnswer("/set.oid?OidTB1.2.26.4=ON");
  ASSERT_TRUE(server.WaitForRequests(4, 30000));
  const auto requests = server.Requests();
  EXPECT_EQ(requests[0].head.rfind("GET /get.oid?2.8 ", 0), 0u);
  EXPECT_EQ(requests[3].head.rfind("GET /set.oid?OidTB1.2.26.4=ON ", 0), 0u);
  EXPECT_EQ(server.AcceptedConnections(), 1u);  // one persistent connection
}

TEST(HttpOidDeviceTest, BodyOfAFailedRequestIsRefused) {
  ScriptedServer server;
  ASSERT_TRUE(server.ok());
  server.AddConnection({HttpReply(Reply("500 Internal Server Error", "oops"))});
  CHttpOidDevice device(Device(server));
  std::string body;
  EXPECT_FALSE(device.GetBody("/get.oid?1.2.26.5", body));
}

TEST(HttpOidDeviceTest, NoRequestLeavesAfterAnAbort) {
  // An abort that lands between two requests must still stop the query: the
  // next request fails at once instead of reaching the device and waiting
  // out its time-out there.
  ScriptedServer server;
  ASSERT_TRUE(server.ok());
  server.AddConnection({HttpReply(Reply("200 OK", "<xmp>IQ765</xmp>")),
                        HttpReply(Reply("200 OK", "<xmp>00-50-1A-02-03-04</xmp>"))});
  CHttpOidDevice device(Device(server));
  EXPECT_EQ(device.GetOid("2.8"), "IQ765");
  device.Abort();
  EXPECT_EQ(device.GetOid("2.7"), "");
  std::string body;
  EXPECT_FALSE(device.GetBody("/get.oid?1.2.26.5", body));
  EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
}  // namespace korvela
