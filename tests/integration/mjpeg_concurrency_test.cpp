// Concurrent recorder calls on one video input, with the real Motion-JPEG
// channel of libveltrano.so against the camera simulator; written for
// ThreadSanitizer (the tsan preset) as much as for the plain build. Starts,
// stops and rate changes come from two threads at once, and the driver is
// deleted while the recorder's OnFrame runs: every valid start succeeds, no
// frame arrives after the last stop has returned, and no worker is left.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "recorder/video_params.h"
#include "sim_driver_fixture.h"

namespace {

using namespace std::chrono_literals;

// Threads of this process whose name is the channel worker's.
int ChannelWorkers() {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    count += name == "Video input 0";
  }
  return count;
}

// Counts frames; once closed, any further frame is late. OnFrame can be held
// (it then blocks until released) to delete the driver under it.
class GateReceiver final : public korvela::ipcapture::IFrameReceiver {
 public:
  bool OnFrame(korvela::ipcapture::IVideoFrame*) override {
    std::unique_lock<std::mutex> lock(mu_);
    ++frames_;
    late_ += closed_ ? 1 : 0;
    in_frame_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !hold_; });
    in_frame_ = false;
    return true;
  }
  void OnSignalLost() override {}

  void Hold(bool hold) {
    std::lock_guard<std::mutex> lock(mu_);
    hold_ = hold;
    changed_.notify_all();
  }
  void Close() {
    std::lock_guard<std::mutex> lock(mu_);
    closed_ = true;
  }
  bool WaitInFrame() {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, 60s, [this] { return in_frame_; });
  }
  bool WaitFrames(int count) {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, 60s, [&] { return frames_ >= count; });
  }
  int late() {
    std::lock_guard<std::mutex> lock(mu_);
    return late_;
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  bool hold_ = false;
  bool closed_ = false;
  bool in_frame_ = false;
  int frames_ = 0;
  int late_ = 0;
};

struct ConcurrencyFixture : korvela::testing::SimDriverFixture {
  void SetUp() override {
    StartCamera("IQ042", camsim::AuthMode::kDigest);
    ASSERT_NO_FATAL_FAILURE(OpenVideo());
  }

  GateReceiver receiver;
};

TEST_F(ConcurrencyFixture, StartStopAndChangeFromTwoThreads) {
  constexpr int kRounds = 12;
  korvela::recorder::VideoParams params(25, 50, 640, 480);
  korvela::recorder::PictureSize size(640, 480);
  int refused_starts = 0;
  std::thread starter([&] {
    for (int i = 0; i < kRounds; ++i) {
      refused_starts += video->StartChannel(0, &receiver, &params) ? 0 : 1;
      std::this_thread::sleep_for(20ms);
    }
  });
  std::thread changer([&] {
    for (int i = 0; i < kRounds; ++i) {
      video->ChangeChannel(0, &size, i % 2 == 0 ? 10 : 25);
      video->StopChannel(0);
      std::this_thread::sleep_for(15ms);
    }
  });
  starter.join();
  changer.join();
  EXPECT_EQ(refused_starts, 0);

  ASSERT_TRUE(video->StartChannel(0, &receiver, &params));
  ASSERT_TRUE(receiver.WaitFrames(3));
  ASSERT_TRUE(video->StopChannel(0));
  receiver.Close();
  // A stopped channel must stay stopped, whatever was in flight.
  EXPECT_FALSE(video->ChangeChannel(0, &size, 10));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(receiver.late(), 0);
  EXPECT_EQ(ChannelWorkers(), 0);
}

TEST_F(ConcurrencyFixture, DriverDeletedWhileOnFrameRuns) {
  korvela::recorder::VideoParams params(25, 50, 640, 480);
  receiver.Hold(true);
  ASSERT_TRUE(video->StartChannel(0, &receiver, &params));
  ASSERT_TRUE(receiver.WaitInFrame());
  std::thread deleter([&] { driver.reset(); });
  std::this_thread::sleep_for(100ms);  // the delete now waits for OnFrame
  receiver.Hold(false);
  deleter.join();
  receiver.Close();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(receiver.late(), 0);
  EXPECT_EQ(ChannelWorkers(), 0);
  EXPECT_EQ(allocator.live_video(), 0u);
}

}  // namespace
