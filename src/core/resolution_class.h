// Resolution class of a picture, as the recorder sorts pictures by size.
//
// Threading: pure function.
#pragma once

#include <cstdint>

namespace korvela {

// 1 below 200 pixels wide, 2 below 400, 4 from 1024 up; in between 3 for
// pictures more than twice as wide as high, else 4.
constexpr uint32_t ResolutionClass(uint32_t width, uint32_t height) {
  if (width < 200) return 1;
  if (width < 400) return 2;
  if (width >= 1024) return 4;
  return uint64_t{width} > 2 * uint64_t{height} ? 3 : 4;
}

}  // namespace korvela
