// Replays a seed corpus through LLVMFuzzerTestOneInput without libFuzzer, plus a
// fixed number of deterministic mutations of every seed (bit flips, truncations,
// byte insertions), so the default build exercises every fuzz target in ctest.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

constexpr size_t kMutationsPerSeed = 2000;
// Large seeds (limits reached on purpose) get fewer mutations, so that every
// seed costs about the same time.
constexpr size_t kMutatedBytesPerSeed = 4 * 1024 * 1024;

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Mutate(std::vector<uint8_t>& data, std::mt19937& rng) {
  switch (rng() % 4) {
    case 0:
      if (!data.empty()) data[rng() % data.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      break;
    case 1:
      if (!data.empty()) data.resize(rng() % data.size());
      break;
    case 2:
      data.insert(data.begin() + static_cast<long>(data.empty() ? 0 : rng() % data.size()),
                  static_cast<uint8_t>(rng()));
      break;
    default:
      if (!data.empty()) data[rng() % data.size()] = static_cast<uint8_t>(rng());
      break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::vector<uint8_t>> seeds;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (const auto& e : std::filesystem::directory_iterator(p))
        if (e.is_regular_file()) seeds.push_back(ReadFile(e.path()));
    } else if (std::filesystem::is_regular_file(p)) {
      seeds.push_back(ReadFile(p));
    }
  }
  if (seeds.empty()) {
    std::fprintf(stderr, "no seed corpus given\n");
    return 1;
  }
  std::mt19937 rng(12345);
  size_t runs = 0;
  for (const auto& seed : seeds) {
    LLVMFuzzerTestOneInput(seed.data(), seed.size());
    ++runs;
    std::vector<uint8_t> data = seed;
    const size_t mutations =
        std::min(kMutationsPerSeed, kMutatedBytesPerSeed / std::max<size_t>(seed.size(), 1));
    for (size_t m = 0; m < mutations; ++m) {
      if (m % 16 == 0) data = seed;
      Mutate(data, rng);
      LLVMFuzzerTestOneInput(data.data(), data.size());
      ++runs;
    }
  }
  std::printf("%zu inputs from %zu seeds ran without a fault\n", runs, seeds.size());
  return 0;
}
