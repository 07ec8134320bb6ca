// The UDP client, RTP packet parsing, the bounded queue and the receiver.
#include "rtsp/rtp_receiver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/testing/recording_log.h"

namespace korvela {
namespace {

using Bytes = std::vector<uint8_t>;
using platform::Endpoint;
using platform::UdpSocket;

// V=2, then marker and payload type, sequence, timestamp, SSRC.
Bytes Rtp(uint16_t seq, size_t payload = 4, uint8_t first = 0x80) {
  Bytes b = {first, 0xE0, uint8_t(seq >> 8), uint8_t(seq), 0, 0, 0x0E, 0x10, 0xCA, 0xFE, 0, 1};
  b.resize(b.size() + payload, 0x5A);
  return b;
}

template <class Pred>
bool WaitUntil(Pred pred, int ms = 3000) {
  for (int i = 0; i < ms / 5 && !pred(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return pred();
}

TEST(CRTPPacketTest, HeaderCases) {
  struct Case {
    const char* name;
    Bytes datagram;
    bool ok;
    uint32_t payload, extension, csrc;
  } cases[] = {
      {"header without payload", Rtp(1, 0), false, 0, 0, 0},
      {"version 1", Rtp(1, 4, 0x40), false, 0, 0, 0},
      {"two CSRC and 8 bytes after the header", Rtp(1, 8, 0x82), false, 0, 0, 0},
      {"two CSRC and 9 bytes", Rtp(1, 9, 0x82), true, 1, 0, 2},
      {"extension of one word and 4 payload bytes",
       [] {
         Bytes b = Rtp(1, 0, 0x90);
         b.insert(b.end(), {0xBE, 0xDE, 0, 1, 1, 2, 3, 4, 9, 9, 9, 9});
         return b;
       }(),
       true, 4, 4, 0},
      {"extension longer than the datagram",
       [] {
         Bytes b = Rtp(1, 0, 0x90);
         b.insert(b.end(), {0xBE, 0xDE, 0, 2, 1, 2, 3, 4, 9, 9, 9, 9});
         return b;
       }(),
       false, 0, 0, 0},
      {"padding stays in the payload", Rtp(1, 6, 0xA0), true, 6, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CRTPPacket p;
    ASSERT_EQ(p.Parse(c.datagram), c.ok);
    EXPECT_EQ(p.GetPayloadLength(), c.payload);
    EXPECT_EQ(p.GetExtensionData().size(), c.extension);
    EXPECT_EQ(p.GetCsrcCount(), c.csrc);
  }
  CRTPPacket p;
  ASSERT_TRUE(p.Parse(Rtp(0x1234, 6, 0xA0)));
  EXPECT_EQ(p.GetPadding(), 1);
  EXPECT_EQ(p.GetMarker(), 1);
  EXPECT_EQ(p.GetPayloadType(), 0x60);
  EXPECT_EQ(p.GetSequenceNumber(), 0x1234);
  EXPECT_EQ(p.GetTimestamp(), 0x0E10u);
  EXPECT_EQ(p.GetSsrc(), 0xCAFE0001u);
}

TEST(RtpPacketQueueTest, HoldsUpToItsLimitAndCountsDrops) {
  RtpPacketQueue queue;
  size_t pushed = 0;
  for (;; ++pushed) {
    auto entry = queue.Acquire();
    ASSERT_TRUE(entry->packet.Parse(Rtp(uint16_t(pushed), 1400)));
    const size_t before = queue.QueuedBytes(), bytes = entry->packet.MemoryBytes();
    if (queue.Push(std::move(entry)) == RtpPacketQueue::PushResult::kDropped) {
      EXPECT_GT(before + bytes, RtpPacketQueue::kMaxQueuedBytes);
      break;
    }
    ASSERT_EQ(queue.QueuedBytes(), before + bytes);
    ASSERT_LE(queue.QueuedBytes(), RtpPacketQueue::kMaxQueuedBytes);
  }
  EXPECT_EQ(queue.DroppedPackets(), 1u);
  RtpQueueBatch batch;
  queue.TakeAll(&batch);
  ASSERT_EQ(batch.size(), pushed);
  EXPECT_EQ(batch.back()->packet.GetSequenceNumber(), uint16_t(pushed - 1));
  EXPECT_EQ(queue.QueuedBytes(), 0u);
}

// Records what the receiver delivers; can hold the queue thread in a call.
struct User : IRTPReceiverUser {
  void OnRTPPacket(CRTPPacket*) override {}
  void OnRTPPacketFrom(const Endpoint& from, CRTPPacket* p) override {
    std::unique_lock lock(mu);
    seqs.push_back(p->GetSequenceNumber());
    sender = from;
    cv.wait(lock, [&] { return !hold; });
  }
  void OnReceiveTimeout() override { ++timeouts; }
  void OnReceiveError() override {}
  std::vector<uint16_t> Seqs() {
    std::lock_guard lock(mu);
    return seqs;
  }
  void Release() {
    std::lock_guard lock(mu);
    hold = false;
    cv.notify_all();
  }
  std::mutex mu;
  std::condition_variable cv;
  std::vector<uint16_t> seqs;
  Endpoint sender;
  bool hold = false;
  std::atomic<int> timeouts{0};
};

struct ReceiverFixture {
  ReceiverFixture() {
    receiver.SetUser(&user);
    EXPECT_TRUE(receiver.Start(0));
    EXPECT_EQ(camera.Bind(0), platform::SocketError::kNone);
  }
  void Send(const Bytes& b) {
    ASSERT_TRUE(camera.SendTo(Endpoint::Loopback(receiver.GetPort()), b).ok());
  }
  testing::RecordingLog log;
  User user;  // outlives the receiver's threads
  CRTPReceiver receiver{&log};
  UdpSocket camera;
};

TEST(CRTPReceiverTest, DeliversInArrivalOrderWithTheSender) {
  ReceiverFixture f;
  for (uint16_t seq : {5, 3, 4}) f.Send(Rtp(seq));
  f.Send(Rtp(9, 0));      // no payload: dropped
  f.Send(Rtp(6, 60000));  // far larger than the first buffer
  ASSERT_TRUE(WaitUntil([&] { return f.user.Seqs().size() == 4; }));
  EXPECT_EQ(f.user.Seqs(), (std::vector<uint16_t>{5, 3, 4, 6}));
  EXPECT_EQ(f.user.sender.port, f.camera.LocalPort());
  EXPECT_TRUE(WaitUntil([&] { return f.user.timeouts > 0; }, 5000));  // no traffic for 2 s

  // Another receiver cannot take the port.
  CRTPReceiver second(&f.log);
  EXPECT_FALSE(second.Start(f.receiver.GetPort()));
  EXPECT_EQ(second.GetPort(), 0);
}

TEST(CRTPReceiverTest, StopDropsWhatIsQueued) {
  ReceiverFixture f;
  {
    std::lock_guard lock(f.user.mu);
    f.user.hold = true;
  }
  f.Send(Rtp(1));
  ASSERT_TRUE(WaitUntil([&] { return f.user.Seqs().size() == 1; }));
  // The queue thread is held in the first delivery; fill the queue past its
  // limit straight through the UDP client's callback.
  const Bytes big = Rtp(2, 1400);
  for (int i = 0; i < 14000; ++i) {
    f.receiver.OnData(f.receiver.GetClient(), Endpoint::Loopback(1), big.data(), big.size());
  }
  EXPECT_GT(f.receiver.GetDroppedPackets(), 0u);
  const size_t logged = f.log.Count("packet dropped");
  EXPECT_GE(logged, 1u);
  EXPECT_LT(logged, f.receiver.GetDroppedPackets() / 10);  // throttled
  std::thread stopper([&] { f.receiver.Stop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  f.user.Release();
  stopper.join();
  EXPECT_EQ(f.user.Seqs().size(), 1u);
}

}  // namespace
}  // namespace korvela
