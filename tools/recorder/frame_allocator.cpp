#include "recorder/frame_allocator.h"

#include <algorithm>
#include <new>

#include "recorder/wall_clock.h"

namespace korvela::recorder {

VideoFrame::VideoFrame(uint32_t compression, uint32_t buffer_size, std::string source)
    : buffer_(buffer_size), source_(std::move(source)), compression_(compression) {}

void VideoFrame::SetTimeNow() {
  time_ = NowFileTime();
  time_now_ = true;
}

void VideoFrame::SetTime(const ipcapture::FrameTime* time) {
  time_ = time != nullptr ? *time : 0;
  time_now_ = false;
}

std::vector<uint8_t> VideoFrame::Data() const {
  const size_t n = std::min<size_t>(length_, buffer_.size());
  return {buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n)};
}

AudioFrame::AudioFrame(uint32_t format, uint32_t data_size, std::string source)
    : source_(std::move(source)), requested_size_(data_size), format_(format) {}

void AudioFrame::SetData(const uint8_t* data, uint32_t length) {
  if (data == nullptr) length = 0;
  data_.assign(data, data + length);
}

void AudioFrame::SetTimeNow() { time_ = NowFileTime(); }

void AudioFrame::SetSampleFormat(uint32_t sample_rate, uint8_t bits_per_sample, uint8_t stereo) {
  sample_rate_ = sample_rate;
  bits_per_sample_ = bits_per_sample;
  stereo_ = stereo;
}

FrameAllocator::~FrameAllocator() {
  for (auto* f : live_video_) delete f;
  for (auto* f : live_audio_) delete f;
}

ipcapture::IVideoFrame* FrameAllocator::AllocateVideoFrame(uint32_t compression,
                                                           uint32_t buffer_size,
                                                           const char* source) {
  if (buffer_size > kMaxVideoFrameBytes) return nullptr;
  MutexLock lock(mutex_);
  if (refuse_) return nullptr;
  auto* frame = new (std::nothrow) VideoFrame(compression, buffer_size, source ? source : "");
  if (frame == nullptr) return nullptr;
  live_video_.insert(frame);
  ++video_allocated_;
  return frame;
}

ipcapture::IAudioFrame* FrameAllocator::AllocateAudioFrame(uint32_t format, uint32_t data_size,
                                                           const char* source) {
  if (data_size > kMaxAudioFrameBytes) return nullptr;
  MutexLock lock(mutex_);
  if (refuse_) return nullptr;
  auto* frame = new (std::nothrow) AudioFrame(format, data_size, source ? source : "");
  if (frame == nullptr) return nullptr;
  live_audio_.insert(frame);
  ++audio_allocated_;
  return frame;
}

void FrameAllocator::ReleaseAudioFrame(ipcapture::IAudioFrame* frame) {
  MutexLock lock(mutex_);
  if (frame == nullptr || live_audio_.erase(frame) == 0) {
    ++bad_releases_;
    return;
  }
  delete frame;
}

void FrameAllocator::ReleaseVideoFrame(ipcapture::IVideoFrame* frame) {
  MutexLock lock(mutex_);
  if (frame == nullptr || live_video_.erase(frame) == 0) {
    ++bad_releases_;
    return;
  }
  delete frame;
}

ipcapture::IAudioFrame* FrameAllocator::NewTalkbackFrame(const uint8_t* data, uint32_t length,
                                                         uint8_t key, uint32_t bit_rate) {
  ipcapture::IAudioFrame* frame =
      AllocateAudioFrame(ipcapture::kAudioFormatMuLaw, length, "recorder");
  if (frame == nullptr) return nullptr;
  frame->SetFormatCode(ipcapture::kAudioFormatMuLaw);
  frame->SetData(data, length);
  frame->SetSampleFormat(8000, 8, 0);
  frame->SetBitRate(bit_rate);
  frame->SetChannel(key);
  frame->SetTimeNow();
  return frame;
}

void FrameAllocator::set_refuse(bool refuse) {
  MutexLock lock(mutex_);
  refuse_ = refuse;
}

size_t FrameAllocator::live_video() const {
  MutexLock lock(mutex_);
  return live_video_.size();
}
size_t FrameAllocator::live_audio() const {
  MutexLock lock(mutex_);
  return live_audio_.size();
}
size_t FrameAllocator::video_allocated() const {
  MutexLock lock(mutex_);
  return video_allocated_;
}
size_t FrameAllocator::audio_allocated() const {
  MutexLock lock(mutex_);
  return audio_allocated_;
}
size_t FrameAllocator::bad_releases() const {
  MutexLock lock(mutex_);
  return bad_releases_;
}

}  // namespace korvela::recorder
