#include "base/base_thread.h"

#include "korvela/debug_message.h"

namespace korvela {
namespace {

constexpr char kJoinOrigin[] = "korvela::CBaseThread::JoinThread";
constexpr char kStopOrigin[] = "korvela::CBaseThread::StopThread";
constexpr char kJoinTimeout[] =
    "%s: Thread (id=%u, name=\"%s\") was not stopped during %lu milliseconds";
// Forced termination is not offered (see the header), so the line says what
// happens instead.
constexpr char kStopTimeout[] =
    "%s: Thread (id=%u, name=\"%s\") was not stopped during %lu milliseconds; it cannot be "
    "terminated safely, waiting until it ends";
constexpr char kStopped[] = "%s: Thread (id=%u, name=\"%s\") was stopped correctly";

}  // namespace

CBaseThread::CBaseThread(IDebugMessage* log) : log_(log) {}

CBaseThread::~CBaseThread() { StopThread(2000); }

bool CBaseThread::StartThread(const char* name) {
  // A running thread keeps its name and its stop request: resetting the stop
  // event under a worker that is being stopped would leave it running.
  if (IsRunning()) return false;
  stop_event_.Reset();
  name_ = name != nullptr ? name : "";
  return thread_.Start(name_, [this] { Run(); });
}

bool CBaseThread::JoinThread(uint32_t timeout_ms) {
  return StopAndWait(timeout_ms, kJoinOrigin, kJoinTimeout);
}

bool CBaseThread::StopThread(uint32_t timeout_ms) {
  return StopAndWait(timeout_ms, kStopOrigin, kStopTimeout);
}

bool CBaseThread::StopAndWait(uint32_t timeout_ms, const char* origin, const char* timeout_format) {
  stop_event_.Set();
  if (!thread_.IsHeld()) return true;
  if (thread_.IsCurrentThread()) return false;
  const uint32_t id = thread_.id();
  if (!thread_.Join(timeout_ms)) {
    if (log_ != nullptr) {
      log_->Message(kLogWarning, timeout_format, origin, id, name_.c_str(),
                    static_cast<unsigned long>(timeout_ms));
    }
    thread_.Join(platform::kInfinite);
    if (log_ != nullptr) log_->Message(kLogState, kStopped, origin, id, name_.c_str());
  }
  return true;
}

}  // namespace korvela
