#include "recorder/audio_host.h"

#include <algorithm>

#include "recorder/frame_allocator.h"

namespace korvela::recorder {
namespace {

bool HasState(const std::vector<StateReport>& states, uint32_t state) {
  return std::any_of(states.begin(), states.end(),
                     [&](const StateReport& r) { return r.second == state; });
}

}  // namespace

bool AudioCallback::OnAudioFrame(ipcapture::IAudioFrame* frame) {
  if (frame == nullptr) return false;
  ReceivedAudio copy;
  copy.format = frame->GetFormatCode();
  copy.sample_rate = frame->GetSampleRate();
  copy.stereo = frame->IsStereo();
  copy.bit_rate = frame->GetBitRate();
  copy.channel = frame->GetChannel();
  const uint8_t* data = frame->GetData();
  if (data != nullptr) copy.data.assign(data, data + frame->GetDataLength());
  if (auto* own = dynamic_cast<AudioFrame*>(frame)) {
    copy.bits_per_sample = own->bits_per_sample();
    copy.time = own->time();
  }
  {
    MutexLock lock(mutex_);
    if (frames_.size() == kMaxKeptFrames) frames_.pop_front();
    frames_.push_back(std::move(copy));
    ++frame_count_;
  }
  changed_.NotifyAll();
  return true;
}

void AudioCallback::OnStateChanged(uint32_t input, uint32_t state) {
  {
    MutexLock lock(mutex_);
    states_.emplace_back(input, state);
  }
  changed_.NotifyAll();
}

std::vector<ReceivedAudio> AudioCallback::Frames() const {
  MutexLock lock(mutex_);
  return {frames_.begin(), frames_.end()};
}

size_t AudioCallback::frame_count() const {
  MutexLock lock(mutex_);
  return frame_count_;
}

std::vector<StateReport> AudioCallback::States() const {
  MutexLock lock(mutex_);
  return states_;
}

bool AudioCallback::WaitForFrames(size_t count, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(mutex_);
  while (frame_count_ < count && changed_.WaitUntil(mutex_, deadline)) {
  }
  return frame_count_ >= count;
}

bool AudioCallback::WaitForState(uint32_t state, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(mutex_);
  while (!HasState(states_, state) && changed_.WaitUntil(mutex_, deadline)) {
  }
  return HasState(states_, state);
}

void AudioSenderCallback::OnStateChanged(uint32_t key, uint32_t state) {
  {
    MutexLock lock(mutex_);
    states_.emplace_back(key, state);
  }
  changed_.NotifyAll();
}

std::vector<StateReport> AudioSenderCallback::States() const {
  MutexLock lock(mutex_);
  return states_;
}

bool AudioSenderCallback::WaitForState(uint32_t state, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(mutex_);
  while (!HasState(states_, state) && changed_.WaitUntil(mutex_, deadline)) {
  }
  return HasState(states_, state);
}

AudioFormatList::AudioFormatList(const std::vector<FormatSpec>& formats) {
  for (const auto& s : formats) entries_.emplace_back(s);
}

ipcapture::IAudioFormatEntry* AudioFormatList::GetEntry(uint32_t index) {
  return index < entries_.size() ? &entries_[index] : nullptr;
}

AudioOutputFormatList::AudioOutputFormatList(const std::vector<FormatSpec>& formats) {
  for (const auto& s : formats) entries_.emplace_back(s);
}

ipcapture::IAudioOutputFormatEntry* AudioOutputFormatList::GetEntry(uint32_t index) {
  return index < entries_.size() ? &entries_[index] : nullptr;
}

}  // namespace korvela::recorder
