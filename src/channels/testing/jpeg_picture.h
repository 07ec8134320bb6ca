// MakeJpegPicture: the smallest byte sequence the Motion-JPEG parsers take for
// a picture, for their unit tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvela::testing {

// SOI, optionally a baseline SOF (length 17, 8-bit samples, the size, three
// components), `payload` filler bytes that hold no 0xFF, EOI.
inline std::vector<uint8_t> MakeJpegPicture(uint16_t width, uint16_t height, size_t payload,
                                            bool with_size = true) {
  std::vector<uint8_t> b = {0xFF, 0xD8};
  if (with_size) {
    b.insert(b.end(), {0xFF, 0xC0, 0x00, 0x11, 0x08, uint8_t(height >> 8), uint8_t(height),
                       uint8_t(width >> 8), uint8_t(width), 0x03});
  }
  for (size_t i = 0; i < payload; ++i) b.push_back(static_cast<uint8_t>(i % 250));
  b.insert(b.end(), {0xFF, 0xD9});
  return b;
}

}  // namespace korvela::testing
