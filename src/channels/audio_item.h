// CAudioItem: one entry of the talk-back channel's queue — a command to
// prepare the device, or (CAudioDataItem) one recorder audio frame to send.
//
// Ownership: a CAudioDataItem owns its frame from construction and releases
// it through the recorder's allocator when it is deleted, whether the frame
// was sent or dropped. Disown() hands the frame back instead (a frame the
// queue refused stays the caller's).
//
// Threading: an item is made on the recorder's thread and handed over
// through the queue's lock; from then on one thread at a time uses it.
#pragma once

#include <cstdint>

#include "korvela/frames.h"

namespace korvela {

class CAudioItem {
 public:
  enum Kind : uint32_t {
    kPrepare = 0,  // (re)configure the device before sending
    kData = 1,     // a CAudioDataItem
  };

  explicit CAudioItem(uint32_t kind) : kind_(kind) {}
  virtual ~CAudioItem() = default;
  CAudioItem(const CAudioItem&) = delete;
  CAudioItem& operator=(const CAudioItem&) = delete;

  uint32_t GetKind() const { return kind_; }

 private:
  const uint32_t kind_;
};

class CAudioDataItem final : public CAudioItem {
 public:
  CAudioDataItem(ipcapture::IAudioFrame* frame, ipcapture::IFrameAllocator* allocator)
      : CAudioItem(kData), frame_(frame), allocator_(allocator) {}
  ~CAudioDataItem() override {
    if (frame_ != nullptr && allocator_ != nullptr) allocator_->ReleaseAudioFrame(frame_);
  }

  ipcapture::IAudioFrame* GetFrame() const { return frame_; }
  // Gives the frame back to the caller: the item no longer releases it.
  ipcapture::IAudioFrame* Disown() {
    ipcapture::IAudioFrame* frame = frame_;
    frame_ = nullptr;
    return frame;
  }

 private:
  ipcapture::IAudioFrame* frame_;
  ipcapture::IFrameAllocator* const allocator_;
};

}  // namespace korvela
