// The audio capture and sender tables: limits, repeated keys, failed starts,
// frame routing by key byte.
#include "driver/ip_audio_capture.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/audio_host.h"
#include "recorder/frame_allocator.h"

namespace korvela {
namespace {

struct ChannelLog {
  int created = 0;
  int started = 0;
  int stopped = 0;
  int deleted = 0;
  int frames = 0;
  bool start_result = true;
  bool stop_result = true;
};

class FakeInput final : public IAudioInputChannel {
 public:
  explicit FakeInput(ChannelLog& log) : log_(log) { ++log_.created; }
  ~FakeInput() override { ++log_.deleted; }
  bool Start() override { return ++log_.started, log_.start_result; }
  bool Stop() override { return ++log_.stopped, log_.stop_result; }
  uint32_t GetState() override { return 2; }

 private:
  ChannelLog& log_;
};

class FakeOutput final : public IAudioOutputChannel {
 public:
  explicit FakeOutput(ChannelLog& log) : log_(log) { ++log_.created; }
  ~FakeOutput() override { ++log_.deleted; }
  bool Start() override { return ++log_.started, log_.start_result; }
  bool Stop() override { return ++log_.stopped, log_.stop_result; }
  uint32_t GetState() override { return 1; }
  bool GetAudioFormat(ipcapture::IAudioFormat* format) override {
    format->SetFormatCode(ipcapture::kAudioFormatMuLaw);
    return true;
  }
  bool SendFrame(ipcapture::IAudioFrame*) override { return ++log_.frames, true; }

 private:
  ChannelLog& log_;
};

class FakeCreator final : public IAudioChannelCreator {
 public:
  ChannelLog log;
  bool give_null = false;
  std::vector<uint32_t> keys;
  IAudioInputChannel* CreateAudioInputChannel(uint32_t key, uint32_t, ipcapture::IAudioCallback*,
                                              ipcapture::IAudioFormatList*) override {
    keys.push_back(key);
    return give_null ? nullptr : new FakeInput(log);
  }
  IAudioOutputChannel* CreateAudioOutputChannel(uint32_t key, uint32_t,
                                                ipcapture::IAudioSenderCallback*,
                                                ipcapture::IAudioOutputFormatList*) override {
    keys.push_back(key);
    return give_null ? nullptr : new FakeOutput(log);
  }
};

TEST(CIPAudioCapture, SameKeyTwiceOpensOnceEvenAtTheLimit) {
  FakeCreator creator;
  CIPAudioCapture capture(&creator, 1);
  EXPECT_TRUE(capture.OpenChannel(3, 0, nullptr, nullptr));
  EXPECT_TRUE(capture.OpenChannel(3, 0, nullptr, nullptr));
  EXPECT_EQ(creator.log.created, 1);
  EXPECT_EQ(capture.GetChannelCount(), 1u);
}

TEST(CIPAudioCapture, LimitOfOneBlocksASecondKeyUntilTheFirstCloses) {
  FakeCreator creator;
  CIPAudioCapture capture(&creator, 1);
  EXPECT_TRUE(capture.OpenChannel(0, 0, nullptr, nullptr));
  EXPECT_FALSE(capture.OpenChannel(1, 0, nullptr, nullptr));
  EXPECT_EQ(creator.log.created, 1);
  EXPECT_TRUE(capture.CloseChannel(0));
  EXPECT_EQ(creator.log.deleted, 1);
  EXPECT_TRUE(capture.OpenChannel(1, 0, nullptr, nullptr));
  EXPECT_EQ(capture.GetChannelState(1, nullptr, nullptr), 2u);
  EXPECT_EQ(capture.GetChannelState(0, nullptr, nullptr), 0u);
}

TEST(CIPAudioCapture, FailedStartIsStoppedAndDeleted) {
  FakeCreator creator;
  creator.log.start_result = false;
  CIPAudioCapture capture(&creator, 2);
  EXPECT_FALSE(capture.OpenChannel(0, 0, nullptr, nullptr));
  EXPECT_EQ(creator.log.stopped, 1);
  EXPECT_EQ(creator.log.deleted, 1);
  EXPECT_EQ(capture.GetChannelCount(), 0u);

  creator.give_null = true;
  EXPECT_FALSE(capture.OpenChannel(0, 0, nullptr, nullptr));
}

TEST(CIPAudioCapture, CloseReportsStopAndUnknownKeys) {
  FakeCreator creator;
  CIPAudioCapture capture(&creator, 2);
  EXPECT_FALSE(capture.CloseChannel(5));
  ASSERT_TRUE(capture.OpenChannel(5, 0, nullptr, nullptr));
  creator.log.stop_result = false;
  EXPECT_FALSE(capture.CloseChannel(5));  // Stop's result
  EXPECT_EQ(creator.log.deleted, 1);
}

TEST(CIPAudioCapture, DestructionClosesEverything) {
  FakeCreator creator;
  {
    CIPAudioCapture capture(&creator, 3);
    capture.OpenChannel(0, 0, nullptr, nullptr);
    capture.OpenChannel(1, 0, nullptr, nullptr);
  }
  EXPECT_EQ(creator.log.stopped, 2);
  EXPECT_EQ(creator.log.deleted, 2);
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
  EXPECT_EQ(sender.GetChannelState(4, nullptr, nullptr), 1u);
  EXPECT_EQ(sender.GetChannelState(5, nullptr, nullptr), 0u);

  recorder::AudioFormat format;
  EXPECT_FALSE(sender.GetAudioFormat(5, &format));
  EXPECT_TRUE(sender.GetAudioFormat(4, &format));
  EXPECT_EQ(format.code(), ipcapture::kAudioFormatMuLaw);
  allocator.ReleaseAudioFrame(frame);
}

TEST(CIPAudioSender, LimitAndRepeatedKey) {
  FakeCreator creator;
  CIPAudioSender sender(&creator, 1);
  EXPECT_TRUE(sender.OpenChannel(0, 0, nullptr, nullptr));
  EXPECT_TRUE(sender.OpenChannel(0, 0, nullptr, nullptr));
  EXPECT_FALSE(sender.OpenChannel(1, 0, nullptr, nullptr));
  EXPECT_EQ(creator.keys, (std::vector<uint32_t>{0}));
  EXPECT_TRUE(sender.CloseChannel(0));
  EXPECT_FALSE(sender.CloseChannel(0));
}

// SendFrame blocks until released, so a close can run while it is inside.
class BlockingOutput final : public IAudioOutputChannel {
 public:
  struct Probe {
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false;
    bool release = false;
    bool alive = true;
  };
  explicit BlockingOutput(Probe& probe) : probe_(probe) {}
  ~BlockingOutput() override {
    std::lock_guard<std::mutex> lock(probe_.mutex);
    probe_.alive = false;
  }
  bool Start() override { return true; }
  bool Stop() override { return true; }
  uint32_t GetState() override { return 2; }
  bool GetAudioFormat(ipcapture::IAudioFormat*) override { return false; }
  bool SendFrame(ipcapture::IAudioFrame*) override {
    std::unique_lock<std::mutex> lock(probe_.mutex);
    probe_.inside = true;
    probe_.changed.notify_all();
    probe_.changed.wait(lock, [&] { return probe_.release; });
    return probe_.alive;
  }

 private:
  Probe& probe_;
};

class BlockingCreator final : public IAudioChannelCreator {
 public:
  explicit BlockingCreator(BlockingOutput::Probe& probe) : probe_(probe) {}
  IAudioInputChannel* CreateAudioInputChannel(uint32_t, uint32_t, ipcapture::IAudioCallback*,
                                              ipcapture::IAudioFormatList*) override {
    return nullptr;
  }
  IAudioOutputChannel* CreateAudioOutputChannel(uint32_t, uint32_t,
                                                ipcapture::IAudioSenderCallback*,
                                                ipcapture::IAudioOutputFormatList*) override {
    return new BlockingOutput(probe_);
  }

 private:
  BlockingOutput::Probe& probe_;
};

TEST(CIPAudioSender, ChannelInUseOutlivesAConcurrentClose) {
  BlockingOutput::Probe probe;
  BlockingCreator creator(probe);
  CIPAudioSender sender(&creator, 1);
  recorder::FrameAllocator allocator;
  const uint8_t bytes[2] = {1, 2};
  ipcapture::IAudioFrame* frame = allocator.NewTalkbackFrame(bytes, 2, 0, 64000);
  ASSERT_TRUE(sender.OpenChannel(0, 0, nullptr, nullptr));

  bool sent = false;
  std::thread send([&] { sent = sender.SendAudioFrame(frame); });
  {
    std::unique_lock<std::mutex> lock(probe.mutex);
    probe.changed.wait(lock, [&] { return probe.inside; });
  }
  EXPECT_TRUE(sender.CloseChannel(0));  // does not wait for the sender, must not delete it
  {
    std::lock_guard<std::mutex> lock(probe.mutex);
    EXPECT_TRUE(probe.alive);
    probe.release = true;
    probe.changed.notify_all();
  }
  send.join();
  EXPECT_TRUE(sent);  // the channel was alive throughout SendFrame
  EXPECT_FALSE(probe.alive);
  allocator.ReleaseAudioFrame(frame);
}

}  // namespace
}  // namespace korvela
