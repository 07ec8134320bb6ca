#include "audio_files.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>

namespace veltrano_cli {
namespace {

constexpr uint16_t kWavePcm = 1;
constexpr uint16_t kWaveMuLaw = 7;
constexpr uint16_t kWaveExtensible = 0xFFFE;
constexpr uint32_t kTalkRate = 8000;

uint16_t Le16(std::span<const uint8_t> b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t Le32(std::span<const uint8_t> b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}
void PutTag(std::vector<uint8_t>& out, const char* tag) {
  // Byte by byte: GCC 12 at -O2 misreads a range insert into an empty vector
  // as an overflow (-Wstringop-overflow).
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(tag[i]));
}
bool TagIs(std::span<const uint8_t> b, size_t at, const char* tag) {
  return std::memcmp(b.data() + at, tag, 4) == 0;
}

struct WavFormat {
  uint16_t format = 0;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;
};

std::string Describe(const WavFormat& f) {
  const std::string coding = f.format == kWavePcm     ? "PCM"
                             : f.format == kWaveMuLaw ? "mu-law"
                                                      : "format " + std::to_string(f.format);
  return std::to_string(f.rate) + " Hz, " + std::to_string(f.channels) + " channel(s), " +
         std::to_string(f.bits) + "-bit " + coding;
}

// Walks the RIFF chunks for "fmt " and "data"; every offset is checked
// against the file's end.
bool ParseWav(std::span<const uint8_t> b, WavFormat& format, std::span<const uint8_t>& data,
              std::string& error) {
  if (b.size() < 12 || !TagIs(b, 0, "RIFF") || !TagIs(b, 8, "WAVE")) {
    error = "not a RIFF/WAVE file";
    return false;
  }
  bool have_format = false, have_data = false;
  for (size_t at = 12; at + 8 <= b.size();) {
    const uint32_t size = Le32(b, at + 4);
    const size_t body = at + 8;
    if (size > b.size() - body) {
      error = "a chunk runs past the end of the file";
      return false;
    }
    if (TagIs(b, at, "fmt ") && size >= 16) {
      format.format = Le16(b, body);
      format.channels = Le16(b, body + 2);
      format.rate = Le32(b, body + 4);
      format.bits = Le16(b, body + 14);
      // WAVE_FORMAT_EXTENSIBLE: the coding is the first two bytes of the
      // sub-format GUID.
      if (format.format == kWaveExtensible && size >= 26) format.format = Le16(b, body + 24);
      have_format = true;
    } else if (TagIs(b, at, "data")) {
      data = b.subspan(body, size);
      have_data = true;
    }
    at = body + size + (size & 1);  // chunks are padded to an even size
  }
  if (!have_format || !have_data) {
    error = have_format ? "no data chunk" : "no fmt chunk";
    return false;
  }
  return true;
}

}  // namespace

uint8_t LinearToMuLaw(int16_t sample) {
  constexpr int kBias = 0x84;
  constexpr int kClip = 32635;
  int value = sample;
  const int sign = value < 0 ? 0x80 : 0;
  if (value < 0) value = -value;
  if (value > kClip) value = kClip;
  value += kBias;
  int exponent = 7;
  for (int mask = 0x4000; (value & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
  const int mantissa = (value >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | exponent << 4 | mantissa));
}

bool DecodeTalkFile(const std::string& name, const std::vector<uint8_t>& bytes,
                    std::vector<uint8_t>& mulaw, std::string& error) {
  const bool wav = name.size() >= 4 && (name.ends_with(".wav") || name.ends_with(".WAV"));
  if (!wav) {
    mulaw = bytes;
    return true;
  }
  WavFormat format;
  std::span<const uint8_t> data;
  if (!ParseWav(bytes, format, data, error)) {
    error = name + ": " + error;
    return false;
  }
  const bool mono_8k = format.channels == 1 && format.rate == kTalkRate;
  if (mono_8k && format.format == kWaveMuLaw && format.bits == 8) {
    mulaw.assign(data.begin(), data.end());
    return true;
  }
  if (mono_8k && format.format == kWavePcm && format.bits == 16) {
    mulaw.clear();
    mulaw.reserve(data.size() / 2);
    for (size_t i = 0; i + 1 < data.size(); i += 2)
      mulaw.push_back(LinearToMuLaw(static_cast<int16_t>(Le16(data, i))));
    return true;
  }
  error = name + ": " + Describe(format) +
          " is not taken; talk-back needs 8000 Hz mono, 8-bit mu-law or 16-bit PCM";
  return false;
}

bool ReadTalkFile(const std::string& path, std::vector<uint8_t>& mulaw, std::string& error) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  const std::streamoff size = in.tellg();
  if (size < 0 || static_cast<uint64_t>(size) > kMaxTalkFileBytes) {
    error = path + ": larger than " + std::to_string(kMaxTalkFileBytes >> 20) + " MiB";
    return false;
  }
  in.seekg(0);
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
    error = path + ": cannot be read";
    return false;
  }
  return DecodeTalkFile(path, bytes, mulaw, error);
}

std::vector<uint8_t> MuLawWavHeader(uint32_t data_bytes) {
  std::vector<uint8_t> h;
  PutTag(h, "RIFF");
  Put32(h, 50 + data_bytes);  // the rest of the header (50 bytes) and the data
  PutTag(h, "WAVE");
  PutTag(h, "fmt ");
  Put32(h, 18);
  Put16(h, kWaveMuLaw);
  Put16(h, 1);          // mono
  Put32(h, kTalkRate);  // samples per second
  Put32(h, kTalkRate);  // bytes per second
  Put16(h, 1);          // block align
  Put16(h, 8);          // bits per sample
  Put16(h, 0);          // no extra format bytes
  PutTag(h, "fact");    // non-PCM data: the sample count
  Put32(h, 4);
  Put32(h, data_bytes);
  PutTag(h, "data");
  Put32(h, data_bytes);
  return h;
}

AudioRecording::AudioRecording(std::string dir, bool wav) : dir_(std::move(dir)), wav_(wav) {
  korvela::MutexLock lock(mutex_);
  start_ = std::chrono::steady_clock::now();
  if (Open(ul_, "/audio.ul") && wav_ && Open(wav_file_, "/audio.wav")) {
    const std::vector<uint8_t> header = MuLawWavHeader(0);  // sizes patched by Finish
    Write(wav_file_, header.data(), header.size());
  }
}

AudioRecording::~AudioRecording() { Finish(); }

void AudioRecording::MarkStart() {
  korvela::MutexLock lock(mutex_);
  start_ = std::chrono::steady_clock::now();
}

bool AudioRecording::OnAudioFrame(korvela::ipcapture::IAudioFrame* frame) {
  if (frame == nullptr || frame->GetData() == nullptr) return false;
  korvela::MutexLock lock(mutex_);
  if (frames_ == 0) {
    first_frame_ms_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start_)
                          .count();
  }
  ++frames_;
  bytes_ += frame->GetDataLength();
  Write(ul_, frame->GetData(), frame->GetDataLength());
  Write(wav_file_, frame->GetData(), frame->GetDataLength());
  return true;
}

void AudioRecording::OnStateChanged(uint32_t /*input*/, uint32_t state) {
  korvela::MutexLock lock(mutex_);
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start_)
                           .count();
  states_.emplace_back(ms, state);
  if (state == korvela::ipcapture::kAudioInputLost) ++signal_lost_;
}

bool AudioRecording::Finish() {
  korvela::MutexLock lock(mutex_);
  if (wav_file_ != nullptr) {
    const std::vector<uint8_t> header = MuLawWavHeader(static_cast<uint32_t>(bytes_));
    if (std::fseek(wav_file_, 0, SEEK_SET) != 0) Fail(dir_ + "/audio.wav");
    Write(wav_file_, header.data(), header.size());
    if (std::fclose(wav_file_) != 0) Fail(dir_ + "/audio.wav");
    wav_file_ = nullptr;
  }
  if (ul_ != nullptr && std::fclose(ul_) != 0) Fail(dir_ + "/audio.ul");
  ul_ = nullptr;
  return !failed_;
}

std::string AudioRecording::write_error() const {
  korvela::MutexLock lock(mutex_);
  return error_;
}
uint64_t AudioRecording::frames() const {
  korvela::MutexLock lock(mutex_);
  return frames_;
}
uint64_t AudioRecording::bytes() const {
  korvela::MutexLock lock(mutex_);
  return bytes_;
}

nlohmann::ordered_json AudioRecording::Summary() const {
  korvela::MutexLock lock(mutex_);
  nlohmann::ordered_json summary;
  summary["frames"] = frames_;
  summary["bytes"] = bytes_;
  summary["firstFrameMs"] = frames_ > 0 ? nlohmann::ordered_json(first_frame_ms_) : nullptr;
  summary["signalLost"] = signal_lost_;
  summary["states"] = nlohmann::ordered_json::array();
  for (const auto& [ms, state] : states_)
    summary["states"].push_back({{"ms", ms}, {"state", state}});
  return summary;
}

bool AudioRecording::Open(std::FILE*& file, const char* name) {
  file = std::fopen((dir_ + name).c_str(), "wb");
  if (file == nullptr) Fail(dir_ + name);
  return file != nullptr;
}

void AudioRecording::Write(std::FILE* file, const uint8_t* data, size_t size) {
  if (file != nullptr && std::fwrite(data, 1, size, file) != size) Fail(dir_);
}

void AudioRecording::Fail(const std::string& what) {
  if (!failed_) error_ = what + ": " + std::strerror(errno);
  failed_ = true;
}

}  // namespace veltrano_cli
