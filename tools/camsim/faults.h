// The fault switches of one simulated camera.
//
// Threading: set from any thread (API, CLI), read by the connection threads
// and the media pump; every switch is a lone atomic, no ordering between them
// is needed.
#pragma once

#include <atomic>

#include "camsim.h"

namespace camsim {

class FaultSwitches {
 public:
  // Applies a switch fault; kRestart is an action of the camera, ignored here.
  void Set(const Fault& fault);
  void Clear(Fault::Kind kind);
  void ClearAll();

  bool stop_media() const { return stop_media_.load(); }
  int drop_every() const { return drop_every_.load(); }
  bool reorder() const { return reorder_.load(); }
  bool always_unauthorized() const { return unauthorized_.load(); }
  int forced_status() const { return status_.load(); }
  int slow_ms() const { return slow_ms_.load(); }
  bool garble() const { return garble_.load(); }
  bool alt_source() const { return alt_source_.load(); }
  int end_talkback() const { return end_talkback_.load(); }  // 0: off

 private:
  std::atomic<bool> stop_media_{false};
  std::atomic<int> drop_every_{0};
  std::atomic<bool> reorder_{false};
  std::atomic<bool> unauthorized_{false};
  std::atomic<int> status_{0};
  std::atomic<int> slow_ms_{0};
  std::atomic<bool> garble_{false};
  std::atomic<bool> alt_source_{false};
  std::atomic<int> end_talkback_{0};
};

}  // namespace camsim
