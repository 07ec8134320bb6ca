#include "io_host.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace korvela::recorder {

IoHost::IoHost() : IoHost([] { return std::chrono::system_clock::now(); }) {}

IoHost::IoHost(Clock clock) : clock_(std::move(clock)) {}

void IoHost::OnInputChanged(uint32_t input, uint32_t state) {
  Push({IoEvent::Kind::kInputChanged, input, state, clock_()});
}

void IoHost::OnDeviceError() { Push({IoEvent::Kind::kDeviceError, 0, 0, clock_()}); }

void IoHost::Push(IoEvent event) {
  {
    MutexLock lock(mutex_);
    if (events_.size() >= kMaxIoEvents) {
      events_.pop_front();
      ++dropped_;
    }
    events_.push_back(event);
  }
  changed_.NotifyAll();
}

std::vector<IoEvent> IoHost::Take() {
  MutexLock lock(mutex_);
  std::vector<IoEvent> taken(events_.begin(), events_.end());
  events_.clear();
  return taken;
}

bool IoHost::WaitFor(size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(mutex_);
  while (events_.size() < count && changed_.WaitUntil(mutex_, deadline)) {
  }
  return events_.size() >= count;
}

uint64_t IoHost::Dropped() const {
  MutexLock lock(mutex_);
  return dropped_;
}

std::string FormatIoEvent(const IoEvent& event) {
  using namespace std::chrono;
  const time_t seconds = system_clock::to_time_t(event.when);
  const auto millis = duration_cast<milliseconds>(event.when.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[48];
  std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  if (event.kind == IoEvent::Kind::kDeviceError) return std::string(stamp) + " device error";
  const char* name = "unknown";
  switch (event.state) {
    case ipcapture::kInputUndetermined:
      name = "undetermined";
      break;
    case ipcapture::kInputOpen:
      name = "open";
      break;
    case ipcapture::kInputClosed:
      name = "closed";
      break;
  }
  char line[96];
  std::snprintf(line, sizeof(line), "%s input %u %s", stamp, event.input, name);
  return line;
}

}  // namespace korvela::recorder
