// Feeds arbitrary bytes to the Motion-JPEG splitter twice — as one chunk and cut
// into small chunks whose sizes come from the input — and checks that both
// runs give the same pictures, each framed by FF D8 ... FF D9 and within the
// buffer limit. Cutting must never change what is found.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "channels/jpeg_stream_splitter.h"

namespace {

struct Collect : korvela::JpegStreamSplitter::Listener {
  void OnPicture(std::span<const uint8_t> picture, uint32_t width, uint32_t height) override {
    if (picture.size() < 4 || picture.size() > korvela::JpegStreamSplitter::kMaxFrameBytes)
      std::abort();
    if (picture[0] != 0xFF || picture[1] != 0xD8) std::abort();
    if (picture[picture.size() - 2] != 0xFF || picture.back() != 0xD9) std::abort();
    pictures.emplace_back(picture.begin(), picture.end());
    sizes.push_back(uint64_t{width} << 32 | height);
  }
  void OnOverflow() override { ++overflows; }
  std::vector<std::vector<uint8_t>> pictures;
  std::vector<uint64_t> sizes;
  int overflows = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);

  korvela::JpegStreamSplitter whole;
  Collect once;
  whole.Feed(input, once);

  korvela::JpegStreamSplitter cut;
  Collect pieces;
  size_t pos = 0;
  size_t step = size > 0 ? 1 + data[0] % 7 : 1;
  while (pos < size) {
    const size_t n = step < size - pos ? step : size - pos;
    cut.Feed(input.subspan(pos, n), pieces);
    pos += n;
    step = 1 + (data[pos % size] + step) % 13;
  }

  if (once.pictures != pieces.pictures || once.sizes != pieces.sizes) std::abort();
  if (once.overflows != pieces.overflows) std::abort();
  return 0;
}
