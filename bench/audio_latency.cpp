// Audio input latency against the in-process camera simulator: for each frame
// the recorder's callback receives, the time since the simulator counted the
// frame's last RTP packet as sent (a watcher thread notes when each packet
// count is reached). Prints median, 95th percentile and maximum.
//
// Usage: audio_latency [seconds]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camsim/camsim.h"
#include "channels/audio_capture_channel.h"
#include "recorder/audio_host.h"
#include "simulated_camera.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kPacketBytes = 160;  // 20 ms of 8 kHz G.711 per RTP packet

// The recorder's callback, timing each frame against the send of its last
// packet. Threading: OnAudioFrame on the channel's queue thread, the watcher
// on its own; both under `mutex`.
class TimingCallback : public korvela::ipcapture::IAudioCallback {
 public:
  explicit TimingCallback(camsim::Camera& camera) : camera_(camera) {
    watcher_ = std::thread([this] { Watch(); });
  }
  ~TimingCallback() override { StopWatching(); }
  void StopWatching() {
    done_ = true;
    if (watcher_.joinable()) watcher_.join();
  }

  bool OnAudioFrame(korvela::ipcapture::IAudioFrame* frame) override {
    const auto now = Clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      delivered_ += frame->GetDataLength();
      const uint64_t last_packet = delivered_ / kPacketBytes - 1;
      if (last_packet < sent_at_.size()) {
        latency_ms_.push_back(
            std::chrono::duration<double, std::milli>(now - sent_at_[last_packet]).count());
      } else {
        ++untimed_;
      }
    }
    return inner_.OnAudioFrame(frame);
  }
  void OnStateChanged(uint32_t input, uint32_t state) override {
    inner_.OnStateChanged(input, state);
  }

  std::vector<double> latency_ms() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latency_ms_;
  }
  size_t untimed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return untimed_;
  }
  const korvela::recorder::AudioCallback& inner() const { return inner_; }

 private:
  void Watch() {
    uint64_t seen = 0;
    while (!done_) {
      camera_.WaitUntil([&] { return done_ || camera_.counters().audio_packets_sent > seen; },
                        std::chrono::seconds(1));
      const uint64_t now_sent = camera_.counters().audio_packets_sent;
      std::lock_guard<std::mutex> lock(mutex_);
      for (; seen < now_sent; ++seen) sent_at_.push_back(Clock::now());
    }
  }

  camsim::Camera& camera_;
  korvela::recorder::AudioCallback inner_;
  std::atomic<bool> done_{false};
  mutable std::mutex mutex_;
  std::vector<Clock::time_point> sent_at_;  // guarded by mutex_
  uint64_t delivered_ = 0;                  // guarded by mutex_
  std::vector<double> latency_ms_;          // guarded by mutex_
  size_t untimed_ = 0;                      // guarded by mutex_
  std::thread watcher_;
};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;

  korvela::bench::SimulatedCamera<> sim("IQ765");
  camsim::Camera& camera = sim.camera();
  korvela::testing::FakeDriver& driver = sim.driver;
  korvela::recorder::AudioFormatList formats;
  TimingCallback callback(camera);
  {
    korvela::CQuarnoAudioCaptureChannel channel(&driver, 1, 0, &callback, &formats);
    if (!channel.Start()) return 1;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    channel.Stop();
  }
  callback.StopWatching();

  std::vector<double> latency = callback.latency_ms();
  if (latency.empty()) {
    std::fprintf(stderr, "no audio frame arrived\n");
    return 1;
  }
  std::sort(latency.begin(), latency.end());
  // Frames not timed reached the recorder before the simulator's pump had
  // even counted their last packet as sent.
  std::printf(
      "audio latency, simulator send of a frame's last packet -> recorder callback: median %.2f "
      "ms, 95th percentile %.2f ms, max %.2f ms over %zu frames (%zu more arrived before the "
      "send was counted)\n",
      latency[latency.size() / 2], latency[latency.size() * 95 / 100], latency.back(),
      latency.size(), callback.untimed());
  return 0;
}
