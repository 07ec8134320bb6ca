// The recorder's audio objects: the audio-input callback (frames and state
// reports), the talk-back callback, the format lists offered to OpenChannel and
// the format object GetAudioFormat fills.
//
// Threading: callbacks come from driver threads; their records are guarded by
// mutex_ and waiters sleep on changed_ with a time-out. Format lists and the
// format object are filled before use and only read by the driver.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "korvela/ipcapture.h"

#include "util/cond_var.h"
#include "util/mutex.h"

namespace korvela::recorder {

struct ReceivedAudio {
  uint32_t format = 0;
  uint32_t sample_rate = 0;
  uint8_t bits_per_sample = 0;
  bool stereo = false;
  uint32_t bit_rate = 0;
  uint8_t channel = 0;
  ipcapture::FrameTime time = 0;
  std::vector<uint8_t> data;
};

// (key or input, state) as reported.
using StateReport = std::pair<uint32_t, uint32_t>;

class AudioCallback final : public ipcapture::IAudioCallback {
 public:
  static constexpr size_t kMaxKeptFrames = 1024;

  bool OnAudioFrame(ipcapture::IAudioFrame* frame) override;
  void OnStateChanged(uint32_t input, uint32_t state) override;

  std::vector<ReceivedAudio> Frames() const;
  size_t frame_count() const;
  std::vector<StateReport> States() const;
  bool WaitForFrames(size_t count, std::chrono::milliseconds timeout) const;
  bool WaitForState(uint32_t state, std::chrono::milliseconds timeout) const;

 private:
  mutable Mutex mutex_;
  mutable CondVar changed_;
  std::deque<ReceivedAudio> frames_ GUARDED_BY(mutex_);
  size_t frame_count_ GUARDED_BY(mutex_) = 0;
  std::vector<StateReport> states_ GUARDED_BY(mutex_);
};

class AudioSenderCallback final : public ipcapture::IAudioSenderCallback {
 public:
  void OnStateChanged(uint32_t key, uint32_t state) override;
  std::vector<StateReport> States() const;
  bool WaitForState(uint32_t state, std::chrono::milliseconds timeout) const;

 private:
  mutable Mutex mutex_;
  mutable CondVar changed_;
  std::vector<StateReport> states_ GUARDED_BY(mutex_);
};

struct FormatSpec {
  uint32_t code = ipcapture::kAudioFormatMuLaw;
  bool enabled = true;
};

class AudioFormatEntry final : public ipcapture::IAudioFormatEntry {
 public:
  explicit AudioFormatEntry(FormatSpec format) : spec_(format) {}
  uint32_t GetFormatCode() override { return spec_.code; }
  bool IsEnabled() override { return spec_.enabled; }

 private:
  FormatSpec spec_;
};

class AudioFormatList final : public ipcapture::IAudioFormatList {
 public:
  explicit AudioFormatList(const std::vector<FormatSpec>& formats = {FormatSpec{}});
  uint32_t GetCount() override { return static_cast<uint32_t>(entries_.size()); }
  ipcapture::IAudioFormatEntry* GetEntry(uint32_t index) override;

 private:
  std::vector<AudioFormatEntry> entries_;
};

class AudioOutputFormatEntry final : public ipcapture::IAudioOutputFormatEntry {
 public:
  explicit AudioOutputFormatEntry(FormatSpec format) : spec_(format) {}
  uint32_t GetFormatCode() override { return spec_.code; }
  bool IsEnabled() override { return spec_.enabled; }

 private:
  FormatSpec spec_;
};

class AudioOutputFormatList final : public ipcapture::IAudioOutputFormatList {
 public:
  explicit AudioOutputFormatList(const std::vector<FormatSpec>& formats = {FormatSpec{}});
  uint32_t GetCount() override { return static_cast<uint32_t>(entries_.size()); }
  ipcapture::IAudioOutputFormatEntry* GetEntry(uint32_t index) override;

 private:
  std::vector<AudioOutputFormatEntry> entries_;
};

class AudioFormat final : public ipcapture::IAudioFormat {
 public:
  void SetFormatCode(uint32_t code) override { code_ = code; }
  void SetSampleRate(uint32_t hertz) override { sample_rate_ = hertz; }
  void SetBitRate(uint32_t bits_per_second) override { bit_rate_ = bits_per_second; }
  void SetStereo(uint32_t stereo) override { stereo_ = stereo; }

  uint32_t code() const { return code_; }
  uint32_t sample_rate() const { return sample_rate_; }
  uint32_t bit_rate() const { return bit_rate_; }
  uint32_t stereo() const { return stereo_; }

 private:
  uint32_t code_ = 0;
  uint32_t sample_rate_ = 0;
  uint32_t bit_rate_ = 0;
  uint32_t stereo_ = 0;
};

}  // namespace korvela::recorder
