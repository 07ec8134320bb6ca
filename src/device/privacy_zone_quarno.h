// CQuarnoPrivacyZone: writes the privacy zones into an IQeye camera's zone
// table (OIDs 1.2.26.1.1-4, indexed by zone number from 1) and switches its
// masking on (1.2.26.4).
//
// The own sender is made at the first Apply() that needs it: channels write
// through their own links (ApplyThrough), and an unused sender would hold an
// event descriptor for nothing.
//
// Threading: WriteZones and EnableMasking run only inside Apply, serialised by
// the base's apply lock, which therefore also guards sender_ and
// log_counter_. Construction and destruction on the driver's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/http_sender.h"
#include "device/privacy_zone.h"

namespace korvela {

class CQuarnoPrivacyZone : public CBasePrivacyZone {
 public:
  // The sender is built from the driver's device description.
  explicit CQuarnoPrivacyZone(IDriver* driver);

 protected:
  // One request per enabled zone; a disabled zone keeps its number (the
  // camera keeps what it had under that number). A camera that cannot be
  // reached ends the pass: every further request would wait the full time-out.
  void WriteZones() override REQUIRES(apply_lock_);
  void EnableMasking() override REQUIRES(apply_lock_);

 private:
  // Sends one write; false when it could not be sent at all. Failures are
  // logged at their level, throttled.
  bool Send(const std::string& path) REQUIRES(apply_lock_);

  const DEVICE_INFO device_;
  std::unique_ptr<Web::CHttpSender> sender_ GUARDED_BY(apply_lock_);
  uint32_t log_counter_ GUARDED_BY(apply_lock_) = 0;
  // False after a request that could not be sent, for the rest of one Apply.
  bool reachable_ GUARDED_BY(apply_lock_) = true;
};

}  // namespace korvela
