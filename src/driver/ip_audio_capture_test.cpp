// The audio capture and sender tables (one typed suite for what they share):
// limits, repeated keys, failed starts; and the sender's frame routing.
#include "driver/ip_audio_capture.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/audio_host.h"
#include "recorder/frame_allocator.h"

namespace korvela {
namespace {

// What the fake channels were asked; SendFrame blocks while `hold` is set.
struct ChannelLog {
  std::mutex mutex;
  std::condition_variable changed;
  int created = 0;
  int started = 0;
  int stopped = 0;
  int deleted = 0;
  int frames = 0;
  bool start_result = true;
  bool stop_result = true;
  bool hold = false;
  bool inside_send = false;
};

template <typename Interface>
class FakeChannel : public Interface {
 public:
  explicit FakeChannel(ChannelLog& log) : log_(log) { ++log_.created; }
  ~FakeChannel() override {
    std::lock_guard<std::mutex> lock(log_.mutex);
    ++log_.deleted;
  }
  bool Start() override { return ++log_.started, log_.start_result; }
  bool Stop() override { return ++log_.stopped, log_.stop_result; }
  uint32_t GetState() override { return 2; }

 protected:
  ChannelLog& log_;
};

class FakeOutput final : public FakeChannel<IAudioOutputChannel> {
 public:
  using FakeChannel::FakeChannel;
  bool GetAudioFormat(ipcapture::IAudioFormat* format) override {
    format->SetFormatCode(ipcapture::kAudioFormatMuLaw);
    return true;
  }
  bool SendFrame(ipcapture::IAudioFrame*) override {
    std::unique_lock<std::mutex> lock(log_.mutex);
    log_.inside_send = true;
    log_.changed.notify_all();
    log_.changed.wait(lock, [&] { return !log_.hold; });
    ++log_.frames;
    return log_.deleted == 0;  // still alive
  }
};

class FakeCreator final : public IAudioChannelCreator {
 public:
  ChannelLog log;
  bool give_null = false;
  std::vector<uint32_t> keys;
  IAudioInputChannel* CreateAudioInputChannel(uint32_t key, uint32_t, ipcapture::IAudioCallback*,
                                              ipcapture::IAudioFormatList*) override {
    keys.push_back(key);
    return give_null ? nullptr : new FakeChannel<IAudioInputChannel>(log);
  }
  IAudioOutputChannel* CreateAudioOutputChannel(uint32_t key, uint32_t,
                                                ipcapture::IAudioSenderCallback*,
                                                ipcapture::IAudioOutputFormatList*) override {
    keys.push_back(key);
    return give_null ? nullptr : new FakeOutput(log);
  }
};

template <typename Table>
struct AudioTableTest : ::testing::Test {
  FakeCreator creator;
  static bool Open(Table& table, uint32_t key) {
    return table.OpenChannel(key, 0, nullptr, nullptr);
  }
};
using AudioTables = ::testing::Types<CIPAudioCapture, CIPAudioSender>;
TYPED_TEST_SUITE(AudioTableTest, AudioTables);

TYPED_TEST(AudioTableTest, LimitCountsOpenKeysAndARepeatedKeyOpensOnce) {
  TypeParam table(&this->creator, 1);
  EXPECT_TRUE(this->Open(table, 3));
  EXPECT_TRUE(this->Open(table, 3));   // already open, even at the limit
  EXPECT_FALSE(this->Open(table, 4));  // over the limit
  EXPECT_EQ(this->creator.keys, (std::vector<uint32_t>{3}));
  EXPECT_EQ(table.GetChannelCount(), 1u);
  EXPECT_EQ(table.GetChannelState(3, nullptr, nullptr), 2u);
  EXPECT_EQ(table.GetChannelState(4, nullptr, nullptr), 0u);
  EXPECT_TRUE(table.CloseChannel(3));
  EXPECT_EQ(this->creator.log.deleted, 1);
  EXPECT_FALSE(table.CloseChannel(3));
  EXPECT_TRUE(this->Open(table, 4));  // the closed key freed its place
}

TYPED_TEST(AudioTableTest, FailedStartIsStoppedAndDeletedAndFailedCreationOpensNothing) {
  this->creator.log.start_result = false;
  TypeParam table(&this->creator, 2);
  EXPECT_FALSE(this->Open(table, 0));
  EXPECT_EQ(this->creator.log.stopped, 1);
  EXPECT_EQ(this->creator.log.deleted, 1);
  EXPECT_EQ(table.GetChannelCount(), 0u);
  this->creator.give_null = true;
  EXPECT_FALSE(this->Open(table, 0));
  EXPECT_EQ(table.GetChannelCount(), 0u);
}

TYPED_TEST(AudioTableTest, CloseReportsTheStopAndDestructionClosesEverything) {
  {
    TypeParam table(&this->creator, 3);
    ASSERT_TRUE(this->Open(table, 0));
    ASSERT_TRUE(this->Open(table, 1));
    this->creator.log.stop_result = false;
    EXPECT_FALSE(table.CloseChannel(0));  // Stop's result
    EXPECT_EQ(this->creator.log.deleted, 1);
  }
  EXPECT_EQ(this->creator.log.stopped, 2);
  EXPECT_EQ(this->creator.log.deleted, 2);
}

TEST(CIPAudioSender, RoutesFramesByTheirKeyByte) {
  FakeCreator creator;
  CIPAudioSender sender(&creator, 2);
  recorder::FrameAllocator allocator;
  const uint8_t bytes[2] = {0xff, 0x7f};
  ipcapture::IAudioFrame* frame = allocator.NewTalkbackFrame(bytes, 2, /*key=*/4, 64000);

  EXPECT_FALSE(sender.SendAudioFrame(frame));  // key 4 not open
  EXPECT_FALSE(sender.SendAudioFrame(nullptr));
  ASSERT_TRUE(sender.OpenChannel(4, 0, nullptr, nullptr));
  EXPECT_TRUE(sender.SendAudioFrame(frame));
  EXPECT_EQ(creator.log.frames, 1);

  recorder::AudioFormat format;
  EXPECT_FALSE(sender.GetAudioFormat(5, &format));
  EXPECT_TRUE(sender.GetAudioFormat(4, &format));
  EXPECT_EQ(format.code(), ipcapture::kAudioFormatMuLaw);
  allocator.ReleaseAudioFrame(frame);
}

TEST(CIPAudioSender, ChannelInUseOutlivesAConcurrentClose) {
  FakeCreator creator;
  ChannelLog& log = creator.log;
  CIPAudioSender sender(&creator, 1);
  recorder::FrameAllocator allocator;
  const uint8_t bytes[2] = {1, 2};
  ipcapture::IAudioFrame* frame = allocator.NewTalkbackFrame(bytes, 2, 0, 64000);
  ASSERT_TRUE(sender.OpenChannel(0, 0, nullptr, nullptr));
  log.hold = true;

  bool sent = false;
  std::thread send([&] { sent = sender.SendAudioFrame(frame); });
  {
    std::unique_lock<std::mutex> lock(log.mutex);
    log.changed.wait(lock, [&] { return log.inside_send; });
  }
  EXPECT_TRUE(sender.CloseChannel(0));  // does not wait for the sender, must not delete it
  {
    std::lock_guard<std::mutex> lock(log.mutex);
    EXPECT_EQ(log.deleted, 0);
    log.hold = false;
    log.changed.notify_all();
  }
  send.join();
  EXPECT_TRUE(sent);  // the channel was alive throughout SendFrame
  EXPECT_EQ(log.deleted, 1);
  allocator.ReleaseAudioFrame(frame);
}

}  // namespace
}  // namespace korvela
