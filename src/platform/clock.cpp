#include "platform/clock.h"

#include <time.h>

#include "platform/file_time.h"

namespace korvela::platform {
namespace {

class RealClock final : public Clock {
 public:
  uint64_t NowFileTime() const override {
    timespec ts{};
    if (::clock_gettime(CLOCK_REALTIME, &ts) != 0) return 0;
    return FileTimeFromUnixMicros(static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000) +
           static_cast<uint64_t>(ts.tv_nsec % 1000) / 100;
  }
  uint64_t SteadyMs() const override {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
  }
};

}  // namespace

const Clock& SystemClock() {
  static const RealClock clock;
  return clock;
}

uint64_t NowFileTime() { return SystemClock().NowFileTime(); }
uint32_t TickCountMs() { return SystemClock().TickMs(); }

}  // namespace korvela::platform
