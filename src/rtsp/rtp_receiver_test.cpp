// The UDP client, RTP packet parsing, the bounded queue and the receiver.
#include "rtsp/rtp_receiver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/testing/recording_log.h"

namespace korvela {
namespace {

using Bytes = std::vector<uint8_t>;
using platform::Endpoint;

// V=2 (plus `first`'s flags), marker, payload type 96, sequence, timestamp 3600, SSRC.
Bytes Rtp(uint16_t seq, size_t payload = 4, uint8_t first = 0x80, Bytes after_header = {}) {
  const uint8_t head[] = {
      first, 0xE0, uint8_t(seq >> 8), uint8_t(seq), 0, 0, 0x0E, 0x10, 0xCA, 0xFE, 0, 1};
  Bytes b(sizeof head + after_header.size() + payload, 0x5A);
  std::copy(std::begin(head), std::end(head), b.begin());
  std::copy(after_header.begin(), after_header.end(), b.begin() + sizeof head);
  return b;
}

bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
  for (int i = 0; i < ms / 5 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done();
}

// True when a thread of this process named `name` sleeps in poll().
bool ThreadPolls(const std::string& name) {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm"), wchan(task.path() / "wchan");
    std::string thread_name, waits_in;
    std::getline(comm, thread_name);
    std::getline(wchan, waits_in);
    if (thread_name == name && waits_in.find("poll") != std::string::npos) return true;
  }
  return false;
}

TEST(CRTPPacketTest, HeaderCases) {
  const Bytes ext = {0xBE, 0xDE, 0, 1, 1, 2, 3, 4};  // profile, one word, its data
  const struct {
    Bytes datagram;
    bool ok;
    uint32_t payload, extension, csrc;
  } cases[] = {
      {Rtp(1, 0), false, 0, 0, 0},        // header alone
      {Rtp(1, 4, 0x40), false, 0, 0, 0},  // version 1
      {Rtp(1, 8, 0x82), false, 0, 0, 0},  // two CSRC fill what follows the header
      {Rtp(1, 9, 0x82), true, 1, 0, 2},
      {Rtp(1, 4, 0x90, ext), true, 4, 4, 0},
      {Rtp(1, 0, 0x90, {0xBE, 0xDE, 0, 2, 1, 2, 3, 4, 9, 9, 9, 9}), false, 0, 0, 0},
      {Rtp(1, 6, 0xA0), true, 6, 0, 0},  // padding stays in the payload
  };
  for (const auto& c : cases) {
    CRTPPacket p;
    ASSERT_EQ(p.Parse(c.datagram), c.ok) << &c - cases;
    EXPECT_EQ(p.GetPayloadLength(), c.payload);
    EXPECT_EQ(p.GetExtensionData().size(), c.extension);
    EXPECT_EQ(p.GetCsrcCount(), c.csrc);
  }
  CRTPPacket p;
  ASSERT_TRUE(p.Parse(Rtp(0x1234, 6, 0xA0)));
  EXPECT_EQ(p.GetPadding() << 24 | p.GetMarker() << 16 | p.GetPayloadType() << 8, 0x01016000);
  EXPECT_EQ(p.GetSequenceNumber(), 0x1234);
  EXPECT_EQ(p.GetTimestamp(), 3600u);
  EXPECT_EQ(p.GetSsrc(), 0xCAFE0001u);
}

TEST(RtpPacketQueueTest, HoldsUpToItsLimitAndCountsDrops) {
  RtpPacketQueue queue;
  size_t pushed = 0;
  for (bool first = true;; ++pushed, first = false) {
    RtpQueueBatch one;
    queue.Acquire(&one, 1);
    ASSERT_TRUE(one.at(0)->packet.Parse(Rtp(uint16_t(pushed), 1400)));
    const size_t before = queue.QueuedBytes(), bytes = one[0]->packet.MemoryBytes();
    const RtpPacketQueue::PushResult r = queue.PushAll(&one);
    EXPECT_EQ(r.wake_consumer, first);  // only the first finds the consumer waiting
    if (r.dropped == 1) {
      EXPECT_GT(before + bytes, RtpPacketQueue::kMaxQueuedBytes);
      break;
    }
    ASSERT_EQ(queue.QueuedBytes(), before + bytes);
  }
  EXPECT_EQ(queue.DroppedPackets(), 1u);
  RtpQueueBatch batch;
  queue.TakeAll(&batch);
  ASSERT_EQ(batch.size(), pushed);
  EXPECT_EQ(batch.back()->packet.GetSequenceNumber(), uint16_t(pushed - 1));
}

TEST(RtpPacketQueueTest, AHeldRunWakesTheConsumerOnlyWhenHandedOver) {
  RtpPacketQueue queue;
  const auto push = [&](bool hold, size_t count) {
    RtpQueueBatch run;
    queue.Acquire(&run, count);
    for (auto& entry : run) EXPECT_TRUE(entry->packet.Parse(Rtp(1, 1400)));
    return queue.PushAll(&run, hold);
  };
  RtpPacketQueue::PushResult r = push(true, 2);
  EXPECT_TRUE(r.held);
  EXPECT_FALSE(r.wake_consumer);
  r = push(false, 0);  // nothing new: what was held is handed over
  EXPECT_TRUE(r.wake_consumer);
  RtpQueueBatch batch;
  ASSERT_TRUE(queue.TakeAll(&batch));
  EXPECT_EQ(batch.size(), 2u);
  EXPECT_FALSE(queue.TakeAll(&batch));  // the consumer waits again
  r = push(true, RtpPacketQueue::kMaxHeldBytes / 1400 + 1);
  EXPECT_TRUE(r.wake_consumer);  // more than a run may hold
}

// Records what the receiver delivers; can hold the queue thread in a call.
struct User : IRTPReceiverUser {
  void OnRTPPacket(CRTPPacket*) override {}
  void OnRTPPacketFrom(const Endpoint& from, CRTPPacket* p) override {
    std::unique_lock lock(mu);
    seqs.push_back(p->GetSequenceNumber());
    sender = from;
    released.wait(lock, [&] { return !hold; });
  }
  void OnReceiveTimeout() override { ++timeouts; }
  void OnReceiveError() override {}
  size_t Count() {
    std::lock_guard lock(mu);
    return seqs.size();
  }
  std::mutex mu;
  std::condition_variable released;
  std::vector<uint16_t> seqs;
  Endpoint sender;
  bool hold = false;
  std::atomic<int> timeouts{0};
};

struct Fixture {
  explicit Fixture(bool video = false) {
    receiver.SetUser(&user);
    receiver.SetHoldUntilMarker(video);
    EXPECT_TRUE(receiver.Start(0));
    EXPECT_EQ(camera.Bind(0), platform::SocketError::kNone);
  }
  void Send(const Bytes& b) {
    EXPECT_TRUE(camera.SendTo(Endpoint::Loopback(receiver.GetPort()), b).ok());
  }
  testing::RecordingLog log;
  User user;  // outlives the receiver's threads
  CRTPReceiver receiver{&log};
  platform::UdpSocket camera;
};

TEST(CRTPReceiverTest, DeliversInArrivalOrderWithTheSender) {
  Fixture f;
  for (uint16_t seq : {5, 3, 4}) f.Send(Rtp(seq));
  f.Send(Rtp(9, 0));      // no payload: dropped
  f.Send(Rtp(6, 60000));  // far larger than the first buffer: grows it, not lost
  ASSERT_TRUE(WaitUntil([&] { return f.user.Count() == 4; }));
  EXPECT_EQ(f.user.seqs, (std::vector<uint16_t>{5, 3, 4, 6}));
  EXPECT_EQ(f.user.sender.port, f.camera.LocalPort());
  EXPECT_TRUE(WaitUntil([&] { return f.user.timeouts > 0; }));  // 2 s without traffic

  CRTPReceiver second(&f.log);  // the port is taken
  EXPECT_FALSE(second.Start(f.receiver.GetPort()));
  EXPECT_EQ(second.GetPort(), 0);
}

// A video receiver hands a run on when it ends a frame (marker), or when the
// UDP client calls again after the hold it asked for.
TEST(CRTPReceiverTest, VideoRunsAreHeldUntilTheirFrameEnds) {
  Fixture f(/*video=*/true);
  IRTPClient* client = f.receiver.GetClient();
  // The client's own thread calls OnIdle once as it starts, then only after
  // its 2 s wait: let it reach that wait before calling in its place.
  ASSERT_TRUE(WaitUntil([] { return ThreadPolls("UDP client thre"); }));
  const auto feed = [&](uint16_t seq, bool marker) {
    Bytes p = Rtp(seq);
    if (!marker) p[1] &= 0x7F;
    f.receiver.OnData(client, Endpoint::Loopback(1), p.data(), uint32_t(p.size()));
  };
  feed(1, false);
  EXPECT_EQ(f.receiver.OnIdle(client), CRTPReceiver::kMaxHoldMs);
  feed(2, false);
  EXPECT_EQ(f.receiver.OnIdle(client), CRTPReceiver::kMaxHoldMs);
  EXPECT_EQ(f.receiver.OnIdle(client), 0u);  // nothing came: the hold has run out
  ASSERT_TRUE(WaitUntil([&] { return f.user.Count() == 2; }));
  feed(3, false);
  feed(4, true);
  EXPECT_EQ(f.receiver.OnIdle(client), 0u);
  ASSERT_TRUE(WaitUntil([&] { return f.user.Count() == 4; }));
  EXPECT_EQ(f.user.seqs, (std::vector<uint16_t>{1, 2, 3, 4}));
}

TEST(CRTPReceiverTest, StopDropsWhatIsQueued) {
  Fixture f;
  f.user.mu.lock();
  f.user.hold = true;
  f.user.mu.unlock();
  f.Send(Rtp(1));
  ASSERT_TRUE(WaitUntil([&] { return f.user.Count() == 1; }));
  // While the queue thread is held in its first delivery, more than the queue
  // holds comes in through the UDP client's callback.
  const Bytes big = Rtp(2, 1400);
  for (int i = 0; i < 14000; ++i) {
    f.receiver.OnData(f.receiver.GetClient(), Endpoint::Loopback(1), big.data(), big.size());
  }
  const size_t logged = f.log.Count("packet dropped");
  EXPECT_GE(logged, 1u);
  EXPECT_LT(logged, f.receiver.GetDroppedPackets() / 10);  // throttled
  std::thread stopper([&] { f.receiver.Stop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  {
    std::lock_guard lock(f.user.mu);
    f.user.hold = false;
  }
  f.user.released.notify_all();
  stopper.join();
  EXPECT_EQ(f.user.Count(), 1u);
}

}  // namespace
}  // namespace korvela
