// Frame allocator and frame records: recorder objects that the driver fills.
//
// The recorder owns the allocator and the records; the driver allocates a
// record, fills it, delivers it and releases it through the allocator. The
// recorder copies what it keeps during the delivery call. Slot numbers below
// are the contract (slot 0 is the virtual destructor); ReservedN() keeps the
// following slots at their numbers and is never called by the driver.
#pragma once

#include <cstdint>

namespace korvela::ipcapture {

// Four ASCII characters stored little-endian: the first character is the
// lowest byte.
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

// Video compression codes. The key-frame property is carried by the code
// alone: "H264" is an access unit with a sequence parameter set, "I264" not.
constexpr uint32_t kCompressionJpeg = MakeFourCC('J', 'P', 'E', 'G');  // 0x4745504A
constexpr uint32_t kCompressionH264 = MakeFourCC('H', '2', '6', '4');  // 0x34363248
constexpr uint32_t kCompressionI264 = MakeFourCC('I', '2', '6', '4');  // 0x34363249
// G.711 mu-law audio, bytes '7', '1', '1', 'M' in memory.
constexpr uint32_t kAudioFormatMuLaw = MakeFourCC('7', '1', '1', 'M');  // 0x4D313137

static_assert(kCompressionJpeg == 0x4745504Au);
static_assert(kCompressionH264 == 0x34363248u);
static_assert(kCompressionI264 == 0x34363249u);
static_assert(kAudioFormatMuLaw == 0x4D313137u);

// Wall-clock time of a frame: FILETIME, unsigned 100-ns units since
// 1601-01-01 UTC.
using FrameTime = uint64_t;

// One compressed video frame (recorder object).
class IVideoFrame {
 public:
  virtual ~IVideoFrame() = default;                          // 0
  virtual void Reserved1() {}                                // 1
  virtual uint8_t* GetBuffer() = 0;                          // 2: buffer of the allocated size
  virtual void Reserved3() {}                                // 3
  virtual void SetDataLength(uint32_t length) = 0;           // 4: valid bytes
  virtual void SetTimeNow() = 0;                             // 5
  virtual void SetTime(const FrameTime* time) = 0;           // 6
  virtual void Reserved7() {}                                // 7
  virtual void Reserved8() {}                                // 8
  virtual void Reserved9() {}                                // 9
  virtual void SetCompression(uint32_t code) = 0;            // 10: four-character code
  virtual void Reserved11() {}                               // 11
  virtual void SetHeight(uint32_t height) = 0;               // 12
  virtual void Reserved13() {}                               // 13
  virtual void SetWidth(uint32_t width) = 0;                 // 14
  virtual void Reserved15() {}                               // 15
  virtual void SetResolutionClass(uint32_t size_class) = 0;  // 16: 1..4
};

// One audio frame (recorder object). The driver fills records it allocated
// (audio input) and reads records the recorder hands over (talk-back).
class IAudioFrame {
 public:
  virtual ~IAudioFrame() = default;                                // 0
  virtual void SetData(const uint8_t* data, uint32_t length) = 0;  // 1: copies the bytes
  virtual uint32_t GetDataLength() const = 0;                      // 2
  virtual const uint8_t* GetData() const = 0;                      // 3
  virtual void Reserved4() {}                                      // 4
  virtual void SetTimeNow() = 0;                                   // 5
  virtual void Reserved6() {}                                      // 6
  virtual void Reserved7() {}                                      // 7
  virtual void Reserved8() {}                                      // 8
  virtual void Reserved9() {}                                      // 9
  virtual uint32_t GetFormatCode() const = 0;                      // 10
  virtual void Reserved11() {}                                     // 11
  virtual void SetFormatCode(uint32_t code) = 0;                   // 12
  virtual void SetBitRate(uint32_t bits_per_second) = 0;           // 13
  virtual void Reserved14() {}                                     // 14
  virtual void SetChannel(uint8_t channel) = 0;  // 15: audio input index / output key
  virtual uint8_t GetChannel() const = 0;        // 16: low 8 bits are the channel key
  virtual bool IsStereo() const = 0;             // 17
  virtual void Reserved18() {}                   // 18
  virtual uint32_t GetSampleRate() const = 0;    // 19
  virtual uint32_t GetBitRate() const = 0;       // 20
  virtual void SetSampleFormat(uint32_t sample_rate, uint8_t bits_per_sample,
                               uint8_t stereo) = 0;  // 21
};

// The recorder's frame allocator (second argument of Open). A null record
// means no frame. Every record the driver allocates is released by the driver.
class IFrameAllocator {
 public:
  virtual ~IFrameAllocator() = default;  // 0
  virtual void Reserved1() {}            // 1
  virtual IVideoFrame* AllocateVideoFrame(uint32_t compression, uint32_t buffer_size,
                                          const char* source) = 0;  // 2
  virtual IAudioFrame* AllocateAudioFrame(uint32_t format, uint32_t data_size,
                                          const char* source) = 0;  // 3
  virtual void ReleaseAudioFrame(IAudioFrame* frame) = 0;           // 4
  virtual void Reserved5() {}                                       // 5
  virtual void ReleaseVideoFrame(IVideoFrame* frame) = 0;           // 6
};

}  // namespace korvela::ipcapture
