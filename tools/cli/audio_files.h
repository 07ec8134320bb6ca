// Audio files of the veltrano commands: G.711 mu-law as raw bytes (.ul) or in
// a WAV file, read for talk-back and written by `record --audio`, and the
// recorder's audio callback that writes what the camera's microphone sends.
//
// Threading: the reading and conversion functions have no state. The
// AudioRecording's callbacks come from driver threads; its lock guards the
// files and the counters, which the main thread reads.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "korvela/ipcapture.h"

#include "util/mutex.h"

namespace veltrano_cli {

// A talk-back file is read whole; nothing legitimate is larger (4.6 h of
// 8 kHz 16-bit audio).
inline constexpr size_t kMaxTalkFileBytes = 256u << 20;

// ITU-T G.711 mu-law of one 16-bit linear sample.
uint8_t LinearToMuLaw(int16_t sample);

// The mu-law bytes of a talk-back file: a .wav must be 8 kHz mono, either
// mu-law or 16-bit PCM (converted); any other name is taken as raw mu-law.
// False with `error` set for anything else (the message says what the file
// holds and what is taken).
bool ReadTalkFile(const std::string& path, std::vector<uint8_t>& mulaw, std::string& error);
// The same for bytes already read; `name` decides WAV or raw.
bool DecodeTalkFile(const std::string& name, const std::vector<uint8_t>& bytes,
                    std::vector<uint8_t>& mulaw, std::string& error);

// The 58-byte header of an 8 kHz mono mu-law WAV file holding `data_bytes`.
std::vector<uint8_t> MuLawWavHeader(uint32_t data_bytes);

// The recorder's audio callback of `record --audio`: every frame is appended
// to audio.ul (and, when asked, audio.wav) in `dir` as it arrives.
class AudioRecording final : public korvela::ipcapture::IAudioCallback {
 public:
  AudioRecording(std::string dir, bool wav);
  ~AudioRecording() override;

  // The channel is about to open: firstFrameMs counts from here.
  void MarkStart();
  bool OnAudioFrame(korvela::ipcapture::IAudioFrame* frame) override;
  void OnStateChanged(uint32_t input, uint32_t state) override;

  // Completes and closes the files; false when anything could not be written.
  bool Finish();
  std::string write_error() const;
  uint64_t frames() const;
  uint64_t bytes() const;
  // {"frames", "bytes", "firstFrameMs", "signalLost", "states"}.
  nlohmann::ordered_json Summary() const;

 private:
  bool Open(std::FILE*& file, const char* name) REQUIRES(mutex_);
  void Write(std::FILE* file, const uint8_t* data, size_t size) REQUIRES(mutex_);
  void Fail(const std::string& what) REQUIRES(mutex_);

  const std::string dir_;
  const bool wav_;
  mutable korvela::Mutex mutex_;
  std::chrono::steady_clock::time_point start_ GUARDED_BY(mutex_);
  std::FILE* ul_ GUARDED_BY(mutex_) = nullptr;
  std::FILE* wav_file_ GUARDED_BY(mutex_) = nullptr;
  uint64_t frames_ GUARDED_BY(mutex_) = 0;
  uint64_t bytes_ GUARDED_BY(mutex_) = 0;
  long long first_frame_ms_ GUARDED_BY(mutex_) = -1;
  uint64_t signal_lost_ GUARDED_BY(mutex_) = 0;
  std::vector<std::pair<long long, uint32_t>> states_ GUARDED_BY(mutex_);
  bool failed_ GUARDED_BY(mutex_) = false;
  std::string error_ GUARDED_BY(mutex_);
};

}  // namespace veltrano_cli
