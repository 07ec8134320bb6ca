// The recorder's frame receiver for one video input: copies every frame it is
// offered and counts signal-loss reports.
//
// Threading: OnFrame/OnSignalLost come from driver threads; everything is
// guarded by mutex_ and waiters sleep on changed_ (always with a time-out).
// The observer runs on the driver's thread outside the lock, after the frame
// was counted. At most `keep` frames are kept (oldest dropped); the counters
// cover all of them.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "korvela/ipcapture.h"

#include "util/cond_var.h"
#include "util/mutex.h"

namespace korvela::recorder {

struct ReceivedFrame {
  uint32_t compression = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t resolution_class = 0;
  std::vector<uint8_t> data;
  ipcapture::FrameTime time = 0;
  bool time_was_now = false;
  std::string source;
  std::chrono::steady_clock::time_point arrival;

  bool key_frame() const {
    return compression == ipcapture::kCompressionJpeg || compression == ipcapture::kCompressionH264;
  }
};

class FrameReceiver final : public ipcapture::IFrameReceiver {
 public:
  static constexpr size_t kDefaultKeptFrames = 256;
  using Observer = std::function<void(const ReceivedFrame&)>;

  explicit FrameReceiver(size_t keep = kDefaultKeptFrames) : keep_(keep) {}
  FrameReceiver(const FrameReceiver&) = delete;
  FrameReceiver& operator=(const FrameReceiver&) = delete;

  // Whether OnFrame accepts frames (true by default).
  void set_accept(bool accept);
  void SetObserver(Observer observer);

  bool OnFrame(ipcapture::IVideoFrame* frame) override;
  void OnSignalLost() override;

  std::vector<ReceivedFrame> Frames() const;
  size_t frame_count() const;
  size_t key_frame_count() const;
  uint64_t byte_count() const;
  size_t refused_count() const;
  size_t signal_lost_count() const;
  bool WaitForFrames(size_t count, std::chrono::milliseconds timeout) const;
  bool WaitForSignalLost(size_t count, std::chrono::milliseconds timeout) const;

 private:
  const size_t keep_;
  mutable Mutex mutex_;
  mutable CondVar changed_;
  bool accept_ GUARDED_BY(mutex_) = true;
  Observer observer_ GUARDED_BY(mutex_);
  std::deque<ReceivedFrame> kept_ GUARDED_BY(mutex_);
  size_t frames_ GUARDED_BY(mutex_) = 0;
  size_t key_frames_ GUARDED_BY(mutex_) = 0;
  uint64_t bytes_ GUARDED_BY(mutex_) = 0;
  size_t refused_ GUARDED_BY(mutex_) = 0;
  size_t signal_lost_ GUARDED_BY(mutex_) = 0;
};

}  // namespace korvela::recorder
