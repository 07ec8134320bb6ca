#include "device/camera_properties_http.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/testing/scripted_server.h"

namespace korvela {
namespace {

using testing::HttpReply;
using testing::HttpReplyThenClose;
using testing::ScriptedServer;

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
  server.AddConnection(
      {HttpReply(testing::HttpResponse("", "404 Not Found")), HttpReplyThenClose("")});
  server.AddConnection({HttpReplyThenClose("")});
  CHttpOidDevice device(Device(server));
  EXPECT_EQ(device.GetStatus("/basicset.html"), 404u);
  // No response: the status of the last response received stands.
  EXPECT_EQ(device.GetStatus("/imageset.html"), 404u);
  ASSERT_GE(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[0].head.rfind("GET /basicset.html HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(server.Requests()[1].head.rfind("GET /imageset.html HTTP/1.1\r\n", 0), 0u);
}

// Reading OIDs and bodies is HUtils' (oid_request_test); here what the device
// adds: a write closes its request, so the next read follows on the same
// connection, and an abort stops every later request before it leaves.
TEST(HttpOidDeviceTest, WriteThenReadOnOneConnectionAndNothingLeavesAfterAnAbort) {
  ScriptedServer server;
  ASSERT_TRUE(server.ok());
  server.AddConnection({HttpReply(testing::HttpResponse("OK")),
                        HttpReply(testing::HttpResponse("<html><xmp>IQ765</xmp></html>")),
                        HttpReply(testing::HttpResponse("<xmp>00-50-1A-02-03-04</xmp>"))});
  CHttpOidDevice device(Device(server));
  device.SendWithoutAnswer("/set.oid?OidTB1.2.26.4=ON");
  EXPECT_EQ(device.GetOid("2.8"), "IQ765");
  device.Abort();
  EXPECT_EQ(device.GetOid("2.7"), "");
  std::string body;
  EXPECT_FALSE(device.GetBody("/get.oid?1.2.26.5", body));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].head.rfind("GET /set.oid?OidTB1.2.26.4=ON ", 0), 0u);
  EXPECT_EQ(server.AcceptedConnections(), 1u);
}

}  // namespace
}  // namespace korvela
