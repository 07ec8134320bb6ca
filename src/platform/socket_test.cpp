#include "platform/socket.h"

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/testing/blocking.h"
#include "platform/testing/scripted_server.h"

namespace korvela::platform {
namespace {

TEST(SocketErrorTest, PosixCausesMapToWinsockNamesAndNetErrors) {
  struct Case {
    int err;
    SocketError socket_error;
    int winsock;
    const char* name;
    NetError cause;
  };
  const Case cases[] = {
      {ETIMEDOUT, SocketError::kTimedOut, 10060, "WSAETIMEDOUT", NetError::kTimeout},
      {ECONNREFUSED, SocketError::kConnectionRefused, 10061, "WSAECONNREFUSED", NetError::kRefused},
      {EMSGSIZE, SocketError::kMessageSize, 10040, "WSAEMSGSIZE", NetError::kOverLimit},
      {EPIPE, SocketError::kConnectionReset, 10054, "WSAECONNRESET", NetError::kClosed},
      {ESHUTDOWN, SocketError::kShutdown, 10058, "WSAESHUTDOWN", NetError::kAborted},
      {EMFILE, SocketError::kTooManyFiles, 10024, "WSAEMFILE", NetError::kIo},
      {EIO, SocketError::kOther, 10101, "socket error", NetError::kIo},
  };
  for (const Case& t : cases) {
    EXPECT_EQ(SocketErrorFromErrno(t.err), t.socket_error) << t.name;
    EXPECT_EQ(static_cast<int>(t.socket_error), t.winsock) << t.name;
    EXPECT_STREQ(SocketErrorName(t.socket_error), t.name);
    EXPECT_EQ(NetErrorFromSocketError(t.socket_error), t.cause) << t.name;
  }
}

TEST(ResolveHostTest, FirstIpv4Address) {
  EXPECT_EQ(ResolveHostIpv4("127.0.0.1"), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ResolveHostIpv4("10.1.2.3"), htonl(0x0A010203));
  EXPECT_EQ(ResolveHostIpv4("localhost"), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ResolveHostIpv4(""), 0u);
  EXPECT_EQ(ResolveHostIpv4("no-such-host.invalid"), 0u);
}

// A lookup that hangs (a dead name server) holds neither a stop nor its
// caller's time-out; its late result is dropped, and no more than
// kMaxAbandonedLookups of them pile up.
TEST(HostResolverTest, StopOrTimeOutAbandonsAHangingLookup) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  const HostResolver resolver([released](const std::string& host) -> uint32_t {
    released.wait();
    return host == "camera.test" ? htonl(0x0A000001) : 0;
  });
  uint32_t address = 1;
  EXPECT_EQ(resolver.Resolve("camera.test", 20, nullptr, &address), SocketError::kTimedOut);

  Event stop(Event::Mode::kManualReset);
  const pid_t owner = testing::ThisThreadId();
  std::thread stopper([&] {
    if (testing::WaitUntilBlocked(owner, 5000)) stop.Set();
  });
  EXPECT_EQ(resolver.Resolve("camera.test", kInfinite, &stop, &address), SocketError::kInterrupted);
  stopper.join();
  for (size_t i = 2; i < HostResolver::kMaxAbandonedLookups; ++i) {
    EXPECT_EQ(resolver.Resolve("camera.test", 0, nullptr, &address), SocketError::kTimedOut);
  }
  // The list is full: fails at once (a lookup would hang without a time-out).
  EXPECT_EQ(resolver.Resolve("camera.test", kInfinite, nullptr, &address),
            SocketError::kHostNotFound);
  release.set_value();  // the abandoned lookups end and give their places back
  SocketError err = SocketError::kHostNotFound;
  for (int i = 0; i < 1000 && err == SocketError::kHostNotFound; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    err = resolver.Resolve("camera.test", kInfinite, nullptr, &address);
  }
  EXPECT_EQ(err, SocketError::kNone);
  EXPECT_EQ(address, htonl(0x0A000001));
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

// Every blocking wait of both socket kinds ends at its time-out, and at once
// when the stop event is set or another thread shuts the socket down; the
// test acts only once the wait has really begun.
TEST(SocketWaitTest, BlockedWaitsEndAtTheirTimeOutOrAtOnceOnStopOrShutdown) {
  enum class Trigger { kTimeOut, kStop, kShutdown };
  testing::ScriptedServer silent;  // reads, never answers
  testing::ScriptStep stall;       // reads nothing at all
  stall.expect = testing::ScriptStep::Expect::kNothing;
  stall.stall = true;
  testing::ScriptedServer deaf;
  testing::FullListener never_accepts;
  ASSERT_TRUE(never_accepts.ok());
  const std::vector<uint8_t> big(32 * 1024 * 1024, 'z');  // beyond every socket buffer

  struct Op {
    const char* name;
    SocketBase* socket;
    std::function<SocketError(uint32_t, Event*)> wait;
  };
  for (const Trigger trigger : {Trigger::kTimeOut, Trigger::kStop, Trigger::kShutdown}) {
    silent.AddConnection({testing::HangAfterRequest()});
    deaf.AddConnection({stall});
    TcpSocket receiver, sender, connector;
    UdpSocket udp;
    ASSERT_EQ(receiver.Connect(Endpoint::Loopback(silent.port()), 2000), SocketError::kNone);
    ASSERT_EQ(sender.Connect(Endpoint::Loopback(deaf.port()), 2000), SocketError::kNone);
    ASSERT_EQ(udp.Bind(0), SocketError::kNone);
    uint8_t buf[16];
    const Op ops[] = {
        {"tcp receive", &receiver,
         [&](uint32_t ms, Event* stop) { return receiver.Receive(buf, ms, stop).error; }},
        {"udp receive", &udp,
         [&](uint32_t ms, Event* stop) { return udp.ReceiveFrom(buf, nullptr, ms, stop).error; }},
        {"tcp send", &sender,
         [&](uint32_t ms, Event* stop) { return sender.SendAll(big, ms, stop); }},
        {"tcp connect", &connector,
         [&](uint32_t ms, Event* stop) {
           return connector.Connect(Endpoint::Loopback(never_accepts.port()), ms, stop);
         }},
    };
    for (const Op& op : ops) {
      Event stop(Event::Mode::kManualReset);
      const pid_t owner = testing::ThisThreadId();
      std::thread actor([&] {
        if (trigger == Trigger::kTimeOut || !testing::WaitUntilBlocked(owner, 5000)) return;
        trigger == Trigger::kStop ? stop.Set() : op.socket->Shutdown();
      });
      const SocketError err = op.wait(trigger == Trigger::kTimeOut ? 50 : kInfinite, &stop);
      actor.join();
      const SocketError expected = trigger == Trigger::kTimeOut ? SocketError::kTimedOut
                                   : trigger == Trigger::kStop  ? SocketError::kInterrupted
                                                                : SocketError::kShutdown;
      EXPECT_EQ(err, expected) << op.name << " " << static_cast<int>(trigger);
    }
    EXPECT_TRUE(udp.valid());         // closing stays with the owner
    EXPECT_FALSE(connector.valid());  // a failed connect closes its socket
  }
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

  // Queued datagrams are no reason to go on once the stop is set.
  ASSERT_TRUE(sender.SendTo(Endpoint::Loopback(port), exact).ok());
  Event stop(Event::Mode::kManualReset);
  stop.Set();
  EXPECT_EQ(receiver.ReceiveFrom(buf, &from, 2000, &stop).error, SocketError::kInterrupted);
  EXPECT_EQ(receiver.ReceiveFrom(buf, &from, 2000).bytes, 8192u);
}

TEST(UdpSocketTest, BindingAPortInUseFails) {
  UdpSocket first;
  ASSERT_EQ(first.Bind(0), SocketError::kNone);
  UdpSocket second;
  EXPECT_EQ(second.Bind(first.LocalPort()), SocketError::kAddressInUse);
  EXPECT_FALSE(second.valid());
  EXPECT_EQ(second.LocalPort(), 0);
}

}  // namespace
}  // namespace korvela::platform
