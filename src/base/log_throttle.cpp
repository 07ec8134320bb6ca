#include "base/log_throttle.h"

namespace korvela {

bool LogThrottle(uint32_t& counter) {
  const uint32_t n = counter + 1;
  counter = n;
  if (n == 65535) {
    counter = 4095;
    return false;
  }
  if (n < 15) return true;
  if (n < 255) return n % 16 == 0;
  if (n < 4095) return n % 256 == 0;
  return n % 4096 == 0;
}

}  // namespace korvela
