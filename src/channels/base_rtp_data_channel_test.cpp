#include "channels/base_rtp_data_channel.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "core/testing/fake_driver.h"
#include "platform/testing/udp.h"

namespace korvela {
namespace {

using namespace std::chrono_literals;

// Counts the hooks; accepts every packet as data.
class TestDataChannel : public CBaseRTPDataChannel {
 public:
  explicit TestDataChannel(IDriver* driver)
      : CBaseRTPDataChannel(driver, 0, platform::SystemClock(), {50, 50}) {}
  ~TestDataChannel() override { StopChannel(); }

  std::atomic<int> prepared{0}, sessions{0}, packets{0}, lost{0}, resets{0}, stopped{0};
  std::atomic<uint16_t> port{0};

 protected:
  bool PrepareDevice() override {
    ++prepared;
    return true;
  }
  bool StartSession() override {
    ++sessions;
    port = rtp_port();
    return true;
  }
  void ProcessRTPPacket(const CRTPPacket&) override {
    ++packets;
    DataAccepted();
  }
  void OnIdle() override {}
  void OnSignalLost() override { ++lost; }
  void OnSessionReset() override { ++resets; }
  void OnStopped() override { ++stopped; }
};

void SendRtp(const char* from, uint16_t port) {
  const uint8_t packet[] = {0x80, 0x00, 0, 1, 0, 0, 0, 0, 1, 2, 3, 4, 0xFF};
  ASSERT_TRUE(testing::SendDatagramFrom(from, port, packet));
}

template <typename Pred>
bool Eventually(Pred pred) {
  for (int i = 0; i < 500 && !pred(); ++i) std::this_thread::sleep_for(10ms);
  return pred();
}

// Data from the camera keeps the session; silence rebuilds it and, beyond the
// receive time-out, is reported lost; a stop ends the thread at once.
TEST(BaseRtpDataChannelTest, WatchesTheDataAndRebuildsTheSession) {
  testing::FakeDriver driver;
  driver.device.connect_timeout_ms = 300;
  driver.device.receive_timeout_ms = 600;
  TestDataChannel channel(&driver);
  ASSERT_TRUE(channel.StartChannel("Audio RTSP Channel"));
  ASSERT_TRUE(Eventually([&] { return channel.port != 0; }));
  SendRtp("127.0.0.2", channel.port);  // another host: dropped
  SendRtp("127.0.0.1", channel.port);
  ASSERT_TRUE(Eventually([&] { return channel.packets == 1; }));

  // No more data: the session is rebuilt, and the loss reported.
  ASSERT_TRUE(Eventually([&] { return channel.lost >= 1 && channel.sessions >= 2; }));
  EXPECT_GE(channel.prepared, 2);
  const auto start = std::chrono::steady_clock::now();
  channel.StopChannel();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(channel.stopped, 1);
  EXPECT_EQ(channel.packets, 1);
  EXPECT_GE(channel.resets, 3);
}

}  // namespace
}  // namespace korvela
