// Cost of cutting a Motion-JPEG server push into pictures: 1280x1024 samples
// with multipart part headers, fed in the 8 KiB reads the HTTP client makes.
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "channels/jpeg_stream_splitter.h"

namespace {

std::vector<uint8_t> PushStream() {
  std::vector<uint8_t> out;
  for (int i = 1; i <= 3; ++i) {
    std::ifstream in(
        std::string(KORVELA_TESTDATA_DIR) + "/jpeg_1280x1024_" + std::to_string(i) + ".jpg",
        std::ios::binary);
    const std::string head = "--frame\r\nContent-Type: image/jpeg\r\n\r\n";
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    out.push_back('\r');
    out.push_back('\n');
  }
  return out;
}

struct Count : korvela::JpegStreamSplitter::Listener {
  void OnPicture(std::span<const uint8_t> p, uint32_t, uint32_t) override { bytes += p.size(); }
  void OnOverflow() override {}
  size_t bytes = 0;
};

void BM_SplitPushStream(benchmark::State& state) {
  const std::vector<uint8_t> stream = PushStream();
  korvela::JpegStreamSplitter splitter;
  Count count;
  constexpr size_t kChunk = 8192;
  for (auto _ : state) {
    for (size_t pos = 0; pos < stream.size(); pos += kChunk) {
      splitter.Feed(std::span(stream).subspan(pos, std::min(kChunk, stream.size() - pos)), count);
    }
  }
  benchmark::DoNotOptimize(count.bytes);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
  state.counters["pictures"] =
      benchmark::Counter(3.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SplitPushStream);

}  // namespace
