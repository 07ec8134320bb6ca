#include "recorder/core_version.h"

#include <atomic>

#include "korvela/ipcapture.h"

namespace korvela::recorder {
namespace {

uint64_t Pack(const std::array<uint16_t, 4>& v) {
  return (uint64_t{v[0]} << 48) | (uint64_t{v[1]} << 32) | (uint64_t{v[2]} << 16) | v[3];
}

std::atomic<uint64_t> g_version{Pack(kReferenceCoreVersion)};

}  // namespace

void SetRecorderCoreVersion(const std::array<uint16_t, 4>& version) {
  g_version.store(Pack(version));
}

std::array<uint16_t, 4> GetRecorderCoreVersion() {
  const uint64_t v = g_version.load();
  return {static_cast<uint16_t>(v >> 48), static_cast<uint16_t>(v >> 32),
          static_cast<uint16_t>(v >> 16), static_cast<uint16_t>(v)};
}

}  // namespace korvela::recorder

extern "C" KORVELA_EXPORT void korvela_recorder_core_version(uint16_t out[4]) {
  const auto v = korvela::recorder::GetRecorderCoreVersion();
  for (int i = 0; i < 4; ++i) out[i] = v[static_cast<size_t>(i)];
}
