// Test doubles for the recorder's frame allocator and video frame records:
// every record remembers the calls made on it in order, and the allocator
// keeps every record it handed out (with its released flag) for assertions.
//
// Threading: Allocate/Release may be called from any thread (mutex_); read the
// records after the producing threads have stopped, or through Snapshot().
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "korvela/frames.h"

namespace korvela::testing {

class RecordingVideoFrame : public ipcapture::IVideoFrame {
 public:
  RecordingVideoFrame(uint32_t compression, uint32_t size, std::string source)
      : allocated_compression(compression), buffer(size), source(std::move(source)) {}

  uint8_t* GetBuffer() override { return buffer.data(); }
  void SetDataLength(uint32_t n) override {
    calls.push_back("SetDataLength");
    length = n;
  }
  void SetTimeNow() override { calls.push_back("SetTimeNow"); }
  void SetTime(const ipcapture::FrameTime* t) override {
    calls.push_back("SetTime");
    time = t != nullptr ? *t : 0;
  }
  void SetCompression(uint32_t c) override {
    calls.push_back("SetCompression");
    compression = c;
  }
  void SetHeight(uint32_t h) override {
    calls.push_back("SetHeight");
    height = h;
  }
  void SetWidth(uint32_t w) override {
    calls.push_back("SetWidth");
    width = w;
  }
  void SetResolutionClass(uint32_t c) override {
    calls.push_back("SetResolutionClass");
    resolution_class = c;
  }

  // The valid bytes, as the recorder would copy them.
  std::vector<uint8_t> Data() const {
    return {buffer.begin(), buffer.begin() + std::min<size_t>(length, buffer.size())};
  }

  uint32_t allocated_compression;
  std::vector<uint8_t> buffer;
  std::string source;
  std::vector<std::string> calls;
  uint32_t length = 0, compression = 0, width = 0, height = 0, resolution_class = 0;
  ipcapture::FrameTime time = 0;
  bool released = false;
};

class RecordingFrameAllocator : public ipcapture::IFrameAllocator {
 public:
  ipcapture::IVideoFrame* AllocateVideoFrame(uint32_t compression, uint32_t size,
                                             const char* source) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fail_allocations) return nullptr;
    frames_.push_back(
        std::make_unique<RecordingVideoFrame>(compression, size, source ? source : ""));
    return frames_.back().get();
  }
  ipcapture::IAudioFrame* AllocateAudioFrame(uint32_t, uint32_t, const char*) override {
    return nullptr;
  }
  void ReleaseAudioFrame(ipcapture::IAudioFrame*) override {}
  void ReleaseVideoFrame(ipcapture::IVideoFrame* frame) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& f : frames_)
      if (f.get() == frame) f->released = true;
  }

  size_t count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
  }
  RecordingVideoFrame& frame(size_t i) {
    std::lock_guard<std::mutex> lock(mutex_);
    return *frames_.at(i);
  }

  bool fail_allocations = false;  // set before use

 private:
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<RecordingVideoFrame>> frames_;  // guarded by mutex_
};

}  // namespace korvela::testing
