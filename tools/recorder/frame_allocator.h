// The recorder's frame allocator and its video and audio frame records.
//
// Threading: Allocate*/Release* are called from any driver thread; the set of
// live records and the counters are guarded by mutex_. A record itself is
// used by one thread at a time (the driver fills it, then hands it over).
// Records copy what they are given. Releasing a record this allocator does not
// hold is counted (bad_releases) and otherwise ignored, so a double release
// shows up in tests instead of corrupting the heap.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "korvela/ipcapture.h"

#include "util/cond_var.h"
#include "util/mutex.h"

namespace korvela::recorder {

class VideoFrame final : public ipcapture::IVideoFrame {
 public:
  VideoFrame(uint32_t compression, uint32_t buffer_size, std::string source);

  uint8_t* GetBuffer() override { return buffer_.data(); }
  void SetDataLength(uint32_t length) override { length_ = length; }
  void SetTimeNow() override;
  void SetTime(const ipcapture::FrameTime* time) override;
  void SetCompression(uint32_t code) override { compression_ = code; }
  void SetHeight(uint32_t height) override { height_ = height; }
  void SetWidth(uint32_t width) override { width_ = width; }
  void SetResolutionClass(uint32_t size_class) override { resolution_class_ = size_class; }

  // Recorder-side getters.
  uint32_t compression() const { return compression_; }
  uint32_t buffer_size() const { return static_cast<uint32_t>(buffer_.size()); }
  // Valid bytes: the data length, clipped to the buffer.
  std::vector<uint8_t> Data() const;
  uint32_t data_length() const { return length_; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  uint32_t resolution_class() const { return resolution_class_; }
  ipcapture::FrameTime time() const { return time_; }
  bool time_was_now() const { return time_now_; }
  const std::string& source() const { return source_; }

 private:
  std::vector<uint8_t> buffer_;
  std::string source_;
  uint32_t compression_;
  uint32_t length_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t resolution_class_ = 0;
  ipcapture::FrameTime time_ = 0;
  bool time_now_ = false;
};

class AudioFrame final : public ipcapture::IAudioFrame {
 public:
  AudioFrame(uint32_t format, uint32_t data_size, std::string source);

  void SetData(const uint8_t* data, uint32_t length) override;
  uint32_t GetDataLength() const override { return static_cast<uint32_t>(data_.size()); }
  const uint8_t* GetData() const override { return data_.empty() ? nullptr : data_.data(); }
  void SetTimeNow() override;
  uint32_t GetFormatCode() const override { return format_; }
  void SetFormatCode(uint32_t code) override { format_ = code; }
  void SetBitRate(uint32_t bits_per_second) override { bit_rate_ = bits_per_second; }
  void SetChannel(uint8_t channel) override { channel_ = channel; }
  uint8_t GetChannel() const override { return channel_; }
  bool IsStereo() const override { return stereo_ != 0; }
  uint32_t GetSampleRate() const override { return sample_rate_; }
  uint32_t GetBitRate() const override { return bit_rate_; }
  void SetSampleFormat(uint32_t sample_rate, uint8_t bits_per_sample, uint8_t stereo) override;

  uint32_t requested_size() const { return requested_size_; }
  const std::vector<uint8_t>& data() const { return data_; }
  uint8_t bits_per_sample() const { return bits_per_sample_; }
  ipcapture::FrameTime time() const { return time_; }
  const std::string& source() const { return source_; }

 private:
  std::string source_;
  uint32_t requested_size_;
  std::vector<uint8_t> data_;
  uint32_t format_;
  uint32_t bit_rate_ = 0;
  uint32_t sample_rate_ = 0;
  uint8_t bits_per_sample_ = 0;
  uint8_t stereo_ = 0;
  uint8_t channel_ = 0;
  ipcapture::FrameTime time_ = 0;
};

class FrameAllocator final : public ipcapture::IFrameAllocator {
 public:
  // Larger requests get no record: nothing legitimate is this big (the
  // driver drops pictures above 10 MiB itself).
  static constexpr uint32_t kMaxVideoFrameBytes = 16u << 20;
  static constexpr uint32_t kMaxAudioFrameBytes = 1u << 20;

  FrameAllocator() = default;
  FrameAllocator(const FrameAllocator&) = delete;
  FrameAllocator& operator=(const FrameAllocator&) = delete;
  ~FrameAllocator() override;  // frees records never released

  ipcapture::IVideoFrame* AllocateVideoFrame(uint32_t compression, uint32_t buffer_size,
                                             const char* source) override;
  ipcapture::IAudioFrame* AllocateAudioFrame(uint32_t format, uint32_t data_size,
                                             const char* source) override;
  void ReleaseAudioFrame(ipcapture::IAudioFrame* frame) override;
  void ReleaseVideoFrame(ipcapture::IVideoFrame* frame) override;

  // Makes a talk-back frame the way the recorder would before handing it to
  // IIPAudioSender::SendAudioFrame: mu-law, 8 kHz, 8 bits, mono.
  ipcapture::IAudioFrame* NewTalkbackFrame(const uint8_t* data, uint32_t length, uint8_t key,
                                           uint32_t bit_rate);

  // Refuse every allocation (simulates an exhausted recorder).
  void set_refuse(bool refuse);

  size_t live_video() const;
  size_t live_audio() const;
  size_t video_allocated() const;
  size_t audio_allocated() const;
  size_t bad_releases() const;

 private:
  mutable Mutex mutex_;
  std::set<ipcapture::IVideoFrame*> live_video_ GUARDED_BY(mutex_);
  std::set<ipcapture::IAudioFrame*> live_audio_ GUARDED_BY(mutex_);
  size_t video_allocated_ GUARDED_BY(mutex_) = 0;
  size_t audio_allocated_ GUARDED_BY(mutex_) = 0;
  size_t bad_releases_ GUARDED_BY(mutex_) = 0;
  bool refuse_ GUARDED_BY(mutex_) = false;
};

}  // namespace korvela::recorder
