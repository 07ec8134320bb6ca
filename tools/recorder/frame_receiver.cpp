#include "recorder/frame_receiver.h"

#include <utility>

#include "recorder/frame_allocator.h"

namespace korvela::recorder {

void FrameReceiver::set_accept(bool accept) {
  MutexLock lock(mutex_);
  accept_ = accept;
}

void FrameReceiver::SetObserver(Observer observer) {
  MutexLock lock(mutex_);
  observer_ = std::move(observer);
}

bool FrameReceiver::OnFrame(ipcapture::IVideoFrame* frame) {
  // Only records from our own allocator can be read: the interface has no
  // getters, as with any recorder.
  auto* own = dynamic_cast<VideoFrame*>(frame);
  Observer observer;
  ReceivedFrame copy;
  {
    MutexLock lock(mutex_);
    if (own == nullptr || !accept_) {
      ++refused_;
      return false;
    }
    copy.compression = own->compression();
    copy.width = own->width();
    copy.height = own->height();
    copy.resolution_class = own->resolution_class();
    copy.data = own->Data();
    copy.time = own->time();
    copy.time_was_now = own->time_was_now();
    copy.source = own->source();
    copy.arrival = std::chrono::steady_clock::now();
    ++frames_;
    if (copy.key_frame()) ++key_frames_;
    bytes_ += copy.data.size();
    observer = observer_;
    if (keep_ > 0) {
      if (kept_.size() == keep_) kept_.pop_front();
      kept_.push_back(copy);
    }
  }
  changed_.NotifyAll();
  if (observer) observer(copy);
  return true;
}

void FrameReceiver::OnSignalLost() {
  {
    MutexLock lock(mutex_);
    ++signal_lost_;
  }
  changed_.NotifyAll();
}

std::vector<ReceivedFrame> FrameReceiver::Frames() const {
  MutexLock lock(mutex_);
  return {kept_.begin(), kept_.end()};
}

size_t FrameReceiver::frame_count() const {
  MutexLock lock(mutex_);
  return frames_;
}
size_t FrameReceiver::key_frame_count() const {
  MutexLock lock(mutex_);
  return key_frames_;
}
uint64_t FrameReceiver::byte_count() const {
  MutexLock lock(mutex_);
  return bytes_;
}
size_t FrameReceiver::refused_count() const {
  MutexLock lock(mutex_);
  return refused_;
}
size_t FrameReceiver::signal_lost_count() const {
  MutexLock lock(mutex_);
  return signal_lost_;
}

bool FrameReceiver::WaitForFrames(size_t count, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(mutex_);
  while (frames_ < count && changed_.WaitUntil(mutex_, deadline)) {
  }
  return frames_ >= count;
}

bool FrameReceiver::WaitForSignalLost(size_t count, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(mutex_);
  while (signal_lost_ < count && changed_.WaitUntil(mutex_, deadline)) {
  }
  return signal_lost_ >= count;
}

}  // namespace korvela::recorder
