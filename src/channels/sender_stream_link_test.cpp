#include "channels/sender_stream_link.h"

#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/testing/blocking.h"
#include "platform/testing/scripted_server.h"

namespace korvela {
namespace {

using testing::HttpReply;
using testing::ScriptedServer;
using testing::ScriptStep;
using testing::Trickle;

constexpr char kOidOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 26\r\n\r\n<html><xmp>OK</xmp></html>";

std::string PushHead() {
  return "HTTP/1.1 200 OK\r\nConnection: close\r\n"
         "Content-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n";
}

struct LinkFixture : ::testing::Test {
  LinkFixture() {
    device.address = "127.0.0.1";
    device.port = server.port();
    // A failed abort would leave a read blocked this long: the test would
    // crawl rather than pass.
    device.connect_timeout_ms = 60000;
  }
  ScriptedServer server;
  DEVICE_INFO device;
};

TEST_F(LinkFixture, WritesOpensReadsAndAbortEndsABlockedRead) {
  ASSERT_TRUE(server.ok());
  ScriptStep stream = HttpReply(PushHead() + "--frame\r\nabc");
  server.AddConnection({HttpReply(kOidOk), stream});
  server.AddConnection({HttpReply(kOidOk)});  // not to be used: see the abort below
  CSenderStreamLink link(device);
  EXPECT_TRUE(link.RequestOk("/set.oid?OidTR1.2.7=58"));
  ASSERT_TRUE(link.OpenStream("/now.jpg?snap=spush0.03"));
  std::vector<uint8_t> chunk(64);
  const size_t n = link.Read(chunk);
  EXPECT_EQ(std::string(chunk.begin(), chunk.begin() + static_cast<long>(n)), "--frame\r\nabc");

  // Blocked (the server sends nothing more) until the abort.
  const pid_t reader = testing::ThisThreadId();
  std::thread stopper([&] {
    if (testing::WaitUntilBlocked(reader, 5000)) link.Abort();
  });
  EXPECT_EQ(link.Read(chunk), 0u);
  stopper.join();
  // The abort holds until Rearm: a request begun after it is not sent.
  EXPECT_FALSE(link.RequestOk("/set.oid?OidTR1.2.7=59"));

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_THAT(requests[0].head, ::testing::StartsWith("GET /set.oid?OidTR1.2.7=58 HTTP/1.1"));
  EXPECT_THAT(requests[1].head, ::testing::StartsWith("GET /now.jpg?snap=spush0.03 HTTP/1.1"));
}

TEST_F(LinkFixture, DeadlineEndsARequestTheCameraTrickles) {
  ASSERT_TRUE(server.ok());
  server.AddConnection({Trickle(kOidOk, 200)});  // 13 s in all
  CSenderStreamLink link(device);
  link.SetDeadlineIn(300);
  const Web::CResultDef r = link.RequestStatus("/set.oid?OidTR1.2.7=58");
  EXPECT_EQ(r.code, 10u);
  EXPECT_EQ(r.cause, platform::NetError::kTimeout);
  link.ClearDeadline();
}

}  // namespace
}  // namespace korvela
