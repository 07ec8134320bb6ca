// Picture size from an H.264 sequence parameter set (ITU-T H.264 7.3.2.1.1).
//
// The NAL unit is read as sent (emulation-prevention bytes are skipped while
// reading), through every field up to the frame cropping offsets: the
// high-profile chroma and bit-depth fields with their scaling lists, both
// picture-order-count variants and field coding. Cropping is applied in the
// standard's crop units (7.4.2.1.1): two lines per offset for 4:2:0 frames,
// four for field-coded 4:2:0, so a 1080-line interlaced stream reports 1080.
//
// Threading: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace korvela {

struct H264PictureSize {
  uint32_t width = 0;
  uint32_t height = 0;
  friend bool operator==(const H264PictureSize&, const H264PictureSize&) = default;
};

// NAL unit types (H.264 Table 7-1) the depacketiser distinguishes.
enum H264NalType : uint8_t {
  kNalSlice = 1,
  kNalIdrSlice = 5,
  kNalSei = 6,
  kNalSps = 7,
  kNalPps = 8,
  kNalAccessUnitDelimiter = 9,
};

constexpr uint8_t NalType(uint8_t header) { return header & 0x1F; }
// Coded slices (types 1-5) are the picture data of an access unit.
constexpr bool IsSliceNal(uint8_t type) { return type >= 1 && type <= 5; }

// Largest picture side accepted from an SPS; anything above is a damaged or
// hostile parameter set.
inline constexpr uint32_t kMaxPictureSide = 16384;

// `nal` starts with the NAL header byte (type 7) and holds the SPS, with or
// without trailing bytes of later NAL units. Nothing when the header is not an
// SPS, the fields run past the end, a value is out of its range or the size
// after cropping is not positive and at most kMaxPictureSide on each side.
std::optional<H264PictureSize> ParseSpsPictureSize(std::span<const uint8_t> nal);

}  // namespace korvela
