#include "platform/random.h"

#include <cerrno>
#include <random>

#include <sys/random.h>

namespace korvela::platform {

bool RandomBytes(std::span<uint8_t> out) {
  size_t filled = 0;
  while (filled < out.size()) {
    ssize_t n = ::getrandom(out.data() + filled, out.size() - filled, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    filled += static_cast<size_t>(n);
  }
  return true;
}

uint32_t RandomU32() {
  std::array<uint8_t, 4> bytes{};
  if (RandomBytes(bytes)) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  }
  try {
    std::random_device device;
    return static_cast<uint32_t>(device());
  } catch (...) {
    return 0;  // no entropy source left at all; callers get a valid value
  }
}

std::array<uint8_t, 16> RandomGuid() {
  std::array<uint8_t, 16> guid{};
  if (!RandomBytes(guid)) {
    for (size_t i = 0; i < guid.size(); i += 4) {
      uint32_t v = RandomU32();
      for (size_t k = 0; k < 4; ++k) guid[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }
  }
  guid[6] = static_cast<uint8_t>((guid[6] & 0x0F) | 0x40);  // version 4
  guid[8] = static_cast<uint8_t>((guid[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return guid;
}

}  // namespace korvela::platform
