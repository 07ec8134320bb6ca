// CBaseRTPAudioParser: collects the audio payload of consecutive RTP packets
// and turns it into recorder audio frames; CG711RTPAudioParser
// (g711_rtp_audio_parser.h) does the G.711 specifics. IAudioParserClient is
// where a finished frame goes (the audio input channel).
//
// Framing: a frame ends at every packet whose marker bit is set (inclusive),
// and also once kMaxFrameBytes (100 ms of 8 kHz G.711) have been collected:
// a camera following RFC 3551 marks only the first packet of a talk spurt,
// and its audio must flow all the same, with the buffer bounded.
//
// Sequence: the first packet is taken whatever its number; later ones must
// follow their predecessor (65535 is followed by 0). A repeat of the
// previous number is a duplicate and dropped alone; any other break drops the
// audio collected so far and starts again with the packet.
//
// Threading: driven by one thread, the audio channel's RTP queue thread
// (ProcessPacket). The channel sets the client and the format fields before
// packets flow. counters() may be read from any thread (atomics).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "korvela/frames.h"

#include "core/idriver.h"
#include "rtsp/rtp_packet.h"

namespace korvela {

class IAudioParserClient {
 public:
  // True when the frame was handed to the recorder; the frame is valid only
  // during the call.
  virtual bool DeliverAudioFrame(ipcapture::IAudioFrame* frame) = 0;  // 0

 protected:
  ~IAudioParserClient() = default;
};

struct AudioParserCounters {
  uint64_t packets = 0;     // packets taken, duplicates included
  uint64_t duplicates = 0;  // repeats of the previous number, dropped
  uint64_t gaps = 0;        // breaks that dropped collected audio
  uint64_t frames = 0;      // frames delivered and accepted
  uint64_t failures = 0;    // frames that could not be allocated or delivered
};

class CBaseRTPAudioParser {
 public:
  // 100 ms of 8 kHz mono 8-bit audio: a frame is emitted at this size even
  // without a marker, and the buffer never holds more than this plus one
  // payload.
  static constexpr size_t kMaxFrameBytes = 800;

  // `driver` is not owned and must outlive the parser; `audio_input` is
  // written into every frame (one byte).
  CBaseRTPAudioParser(IDriver* driver, uint32_t audio_input);
  virtual ~CBaseRTPAudioParser() = default;
  CBaseRTPAudioParser(const CBaseRTPAudioParser&) = delete;
  CBaseRTPAudioParser& operator=(const CBaseRTPAudioParser&) = delete;

  // Adds the payload to the audio collected; false when it is not audio.
  virtual bool AppendPayload(const uint8_t* data, size_t length) = 0;
  // Builds one frame of the audio collected and delivers it.
  virtual void ProcessAudioFrame() = 0;

  virtual void ProcessPacket(const CRTPPacket& packet);
  // Drops the audio collected.
  virtual void Reset() { buffer_.clear(); }

  // Set by the channel before packets flow.
  void SetClient(IAudioParserClient* client) { client_ = client; }
  void SetFormatCode(uint32_t code) { format_code_ = code; }
  void SetSampleRate(uint32_t hertz) { sample_rate_ = hertz; }
  void SetBitRate(uint32_t bits_per_second) { bit_rate_ = bits_per_second; }
  void SetBitsPerSample(uint8_t bits) { bits_per_sample_ = bits; }

  AudioParserCounters counters() const;
  size_t buffered() const { return buffer_.size(); }

 protected:
  IDriver* driver() const { return driver_; }
  IAudioParserClient* client() const { return client_; }
  uint32_t audio_input() const { return audio_input_; }
  uint32_t format_code() const { return format_code_; }
  uint32_t sample_rate() const { return sample_rate_; }
  uint32_t bit_rate() const { return bit_rate_; }
  uint8_t bits_per_sample() const { return bits_per_sample_; }
  uint8_t stereo() const { return stereo_; }
  std::vector<uint8_t>& buffer() { return buffer_; }
  void CountFrame(bool delivered) { ++(delivered ? frames_ : failures_); }

 private:
  enum class Sequence { kInOrder, kDuplicate, kGap };
  Sequence CheckSequence(uint16_t sequence);
  void Handle(const CRTPPacket& packet);

  uint16_t last_sequence_ = 0;
  bool first_packet_ = true;
  IAudioParserClient* client_ = nullptr;
  IDriver* const driver_;
  const uint32_t audio_input_;
  uint32_t format_code_ = 1;
  uint32_t sample_rate_ = 0;
  uint32_t bit_rate_ = 0;
  uint8_t bits_per_sample_ = 0;
  uint8_t stereo_ = 0;
  std::vector<uint8_t> buffer_;
  std::atomic<uint64_t> packets_{0}, duplicates_{0}, gaps_{0}, frames_{0}, failures_{0};
};

}  // namespace korvela
