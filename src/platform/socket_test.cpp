#include "platform/socket.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/testing/scripted_server.h"

namespace korvela::platform {
namespace {

std::span<const uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// A port that nobody listens on: bound once, then released.
uint16_t UnusedPort() {
  testing::ScriptedServer server;
  const uint16_t port = server.port();
  server.Stop();
  return port;
}

TEST(SocketErrorTest, PosixCausesMapToWinsockNames) {
  EXPECT_EQ(SocketErrorFromErrno(ETIMEDOUT), SocketError::kTimedOut);
  EXPECT_EQ(SocketErrorFromErrno(ECONNREFUSED), SocketError::kConnectionRefused);
  EXPECT_EQ(SocketErrorFromErrno(EMSGSIZE), SocketError::kMessageSize);
  EXPECT_EQ(SocketErrorFromErrno(EPIPE), SocketError::kConnectionReset);
  EXPECT_EQ(static_cast<int>(SocketError::kMessageSize), 10040);
  EXPECT_EQ(static_cast<int>(SocketError::kTimedOut), 10060);
  EXPECT_STREQ(SocketErrorName(SocketError::kConnectionRefused), "WSAECONNREFUSED");
  EXPECT_STREQ(SocketErrorName(SocketError::kMessageSize), "WSAEMSGSIZE");
}

TEST(ResolveHostTest, FirstIpv4Address) {
  EXPECT_EQ(ResolveHostIpv4("127.0.0.1"), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ResolveHostIpv4("10.1.2.3"), htonl(0x0A010203));
  EXPECT_EQ(ResolveHostIpv4("localhost"), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ResolveHostIpv4(""), 0u);
  EXPECT_EQ(ResolveHostIpv4("no-such-host.invalid"), 0u);
}

TEST(SocketLibraryTest, StartupIsAReferenceCount) {
  const int before = SocketLibrary::References();
  EXPECT_TRUE(SocketLibrary::Startup());
  EXPECT_TRUE(SocketLibrary::Startup());
  EXPECT_EQ(SocketLibrary::References(), before + 2);
  SocketLibrary::Cleanup();
  SocketLibrary::Cleanup();
  EXPECT_EQ(SocketLibrary::References(), before);
  if (before == 0) {
    SocketLibrary::Cleanup();  // unbalanced clean-up does not go negative
    EXPECT_EQ(SocketLibrary::References(), 0);
  }
}

TEST(TcpSocketTest, ConnectToClosedPortIsRefused) {
  TcpSocket socket;
  EXPECT_EQ(socket.Connect(Endpoint::Loopback(UnusedPort()), 2000),
            SocketError::kConnectionRefused);
  EXPECT_FALSE(socket.valid());
}

TEST(TcpSocketTest, ExchangeWithPeer) {
  testing::ScriptedServer server;
  testing::ScriptStep step;
  step.expect = testing::ScriptStep::Expect::kBytes;
  step.expect_bytes = 4;
  step.reply = "pong";
  step.close_after = true;
  server.AddConnection({step});

  TcpSocket socket;
  ASSERT_EQ(socket.Connect(Endpoint::Loopback(server.port()), 2000), SocketError::kNone);
  EXPECT_NE(socket.LocalPort(), 0);
  ASSERT_EQ(socket.SendAll(Bytes("ping"), 2000), SocketError::kNone);
  std::string got;
  uint8_t buf[3];
  for (;;) {
    IoResult r = socket.Receive(buf, 2000);
    ASSERT_TRUE(r.ok()) << SocketErrorName(r.error);
    if (r.bytes == 0) break;  // peer closed after its reply
    got.append(reinterpret_cast<char*>(buf), r.bytes);
  }
  EXPECT_EQ(got, "pong");
  EXPECT_EQ(server.Received(0), "ping");
}

TEST(ScriptedServerTest, StopsWhileAClientRefusesToRead) {
  auto server = std::make_unique<testing::ScriptedServer>();
  testing::ScriptStep flood;
  flood.expect = testing::ScriptStep::Expect::kNothing;
  flood.reply = std::string(16 * 1024 * 1024, 'f');  // far beyond the socket buffers
  server->AddConnection({flood});
  TcpSocket socket;
  ASSERT_EQ(socket.Connect(Endpoint::Loopback(server->port()), 2000), SocketError::kNone);
  uint8_t buf[1];
  ASSERT_TRUE(socket.Receive(buf, 2000).ok());  // the flood has begun
  EXPECT_EQ(server->AcceptedConnections(), 1u);
  server.reset();  // must return (ctest's time-out catches a hang) though the reply never fits
}

TEST(TcpSocketTest, ReceiveTimesOutWhenPeerIsSilent) {
  testing::ScriptedServer server;
  server.AddConnection({testing::HangAfterRequest()});
  TcpSocket socket;
  ASSERT_EQ(socket.Connect(Endpoint::Loopback(server.port()), 2000), SocketError::kNone);
  uint8_t buf[8];
  IoResult r = socket.Receive(buf, 20);
  EXPECT_EQ(r.error, SocketError::kTimedOut);
  EXPECT_EQ(r.bytes, 0u);
}

TEST(TcpSocketTest, StopEventAbortsReceiveEvenWithDataPending) {
  testing::ScriptedServer server;
  testing::ScriptStep step;
  step.expect = testing::ScriptStep::Expect::kNothing;
  step.reply = "data";
  server.AddConnection({step});
  TcpSocket socket;
  ASSERT_EQ(socket.Connect(Endpoint::Loopback(server.port()), 2000), SocketError::kNone);
  Event stop(Event::Mode::kManualReset, /*initially_set=*/true);
  uint8_t buf[8];
  EXPECT_EQ(socket.Receive(buf, kInfinite, &stop).error, SocketError::kInterrupted);
  stop.Reset();
  IoResult r = socket.Receive(buf, 2000, &stop);
  EXPECT_TRUE(r.ok());
  EXPECT_GT(r.bytes, 0u);
}

TEST(TcpSocketTest, StopFromAnotherThreadEndsBlockedReceive) {
  testing::ScriptedServer server;
  server.AddConnection({testing::HangAfterRequest()});
  TcpSocket socket;
  ASSERT_EQ(socket.Connect(Endpoint::Loopback(server.port()), 2000), SocketError::kNone);
  Event stop(Event::Mode::kManualReset);
  std::thread stopper([&] { stop.Set(); });
  uint8_t buf[8];
  // Without the event this would block forever.
  EXPECT_EQ(socket.Receive(buf, kInfinite, &stop).error, SocketError::kInterrupted);
  stopper.join();
}

TEST(TcpSocketTest, ShutdownFromAnotherThreadEndsBlockedReceive) {
  testing::ScriptedServer server;
  server.AddConnection({testing::HangAfterRequest()});
  TcpSocket socket;
  ASSERT_EQ(socket.Connect(Endpoint::Loopback(server.port()), 2000), SocketError::kNone);
  std::thread closer([&] { socket.Shutdown(); });
  uint8_t buf[8];
  IoResult r = socket.Receive(buf, kInfinite);
  closer.join();
  EXPECT_EQ(r.error, SocketError::kShutdown);
  EXPECT_EQ(r.bytes, 0u);
}

TEST(UdpSocketTest, OversizeDatagramIsReportedWithItsSize) {
  UdpSocket receiver;
  ASSERT_EQ(receiver.Bind(0), SocketError::kNone);
  const uint16_t port = receiver.LocalPort();
  ASSERT_NE(port, 0);
  UdpSocket sender;
  ASSERT_EQ(sender.Bind(0), SocketError::kNone);

  std::vector<uint8_t> big(9000, 0x5a);
  ASSERT_TRUE(sender.SendTo(Endpoint::Loopback(port), big).ok());
  std::vector<uint8_t> buf(8192);
  Endpoint from;
  IoResult r = receiver.ReceiveFrom(buf, &from, 2000);
  EXPECT_EQ(r.error, SocketError::kMessageSize);
  EXPECT_EQ(r.bytes, 9000u);
  EXPECT_EQ(from.port, sender.LocalPort());

  // A datagram of exactly the buffer size fits.
  std::vector<uint8_t> exact(8192, 0x11);
  ASSERT_TRUE(sender.SendTo(Endpoint::Loopback(port), exact).ok());
  r = receiver.ReceiveFrom(buf, &from, 2000);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.bytes, 8192u);
  EXPECT_EQ(buf[8191], 0x11);
}

TEST(UdpSocketTest, PeekSizeLeavesTheDatagramQueued) {
  UdpSocket receiver;
  ASSERT_EQ(receiver.Bind(0), SocketError::kNone);
  UdpSocket sender;
  ASSERT_EQ(sender.Bind(0), SocketError::kNone);
  std::vector<uint8_t> big(40000, 0x5a);
  big.back() = 0x77;
  ASSERT_TRUE(sender.SendTo(Endpoint::Loopback(receiver.LocalPort()), big).ok());

  const IoResult peek = receiver.PeekSize(2000);
  ASSERT_TRUE(peek.ok());
  ASSERT_EQ(peek.bytes, big.size());
  std::vector<uint8_t> buf(peek.bytes);
  Endpoint from;
  const IoResult r = receiver.ReceiveFrom(buf, &from, 0);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(buf, big);
  EXPECT_EQ(receiver.PeekSize(0).error, SocketError::kTimedOut);
}

TEST(UdpSocketTest, BindingAPortInUseFails) {
  UdpSocket first;
  ASSERT_EQ(first.Bind(0), SocketError::kNone);
  UdpSocket second;
  EXPECT_EQ(second.Bind(first.LocalPort()), SocketError::kAddressInUse);
  EXPECT_FALSE(second.valid());
  EXPECT_EQ(second.LocalPort(), 0);
}

TEST(UdpSocketTest, ShutdownFromAnotherThreadEndsBlockedReceive) {
  UdpSocket socket;
  ASSERT_EQ(socket.Bind(0), SocketError::kNone);
  std::thread closer([&] { socket.Shutdown(); });
  uint8_t buf[16];
  IoResult r = socket.ReceiveFrom(buf, nullptr, kInfinite);  // returns only through the shutdown
  closer.join();
  EXPECT_EQ(r.error, SocketError::kShutdown);
  EXPECT_EQ(r.bytes, 0u);
  EXPECT_TRUE(socket.valid());  // closing stays with the owner
  socket.Close();
  EXPECT_FALSE(socket.valid());
  EXPECT_EQ(socket.LocalPort(), 0);
}

TEST(TcpSocketTest, ShutdownAbortsAConnectInProgress) {
  TcpSocket socket;
  std::atomic<bool> done{false};
  // Shutdown before the socket exists is re-armed by the connect, so keep
  // shutting down until the connect has returned.
  std::thread closer([&] {
    while (!done.load()) {
      socket.Shutdown();
      std::this_thread::yield();
    }
  });
  // 192.0.2.1 (TEST-NET-1) does not answer; only the shutdown ends the wait
  // (or the network reports at once that it has no route).
  const SocketError err = socket.Connect(Endpoint{htonl(0xC0000201), 80}, kInfinite);
  done = true;
  closer.join();
  EXPECT_TRUE(err == SocketError::kShutdown || err == SocketError::kNetworkUnreachable ||
              err == SocketError::kHostUnreachable)
      << SocketErrorName(err);
  EXPECT_FALSE(socket.valid());
}

TEST(UdpSocketTest, ReceiveTimesOutAndStops) {
  UdpSocket socket;
  ASSERT_EQ(socket.Bind(0), SocketError::kNone);
  uint8_t buf[16];
  EXPECT_EQ(socket.ReceiveFrom(buf, nullptr, 10).error, SocketError::kTimedOut);
  Event stop(Event::Mode::kManualReset, true);
  EXPECT_EQ(socket.ReceiveFrom(buf, nullptr, kInfinite, &stop).error, SocketError::kInterrupted);
}

}  // namespace
}  // namespace korvela::platform
