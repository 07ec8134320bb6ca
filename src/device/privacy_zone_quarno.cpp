#include "device/privacy_zone_quarno.h"

#include <new>

#include "base/log_throttle.h"
#include "core/idriver.h"
#include "device/oid_request.h"

namespace korvela {
namespace {

DEVICE_INFO DeviceOf(IDriver* driver) {
  const DEVICE_INFO* info = driver != nullptr ? driver->GetDeviceInfo() : nullptr;
  return info != nullptr ? *info : DEVICE_INFO();
}

}  // namespace

CQuarnoPrivacyZone::CQuarnoPrivacyZone(IDriver* driver)
    : CBasePrivacyZone(driver), device_(DeviceOf(driver)) {}

void CQuarnoPrivacyZone::EnableMasking() {
  reachable_ = true;
  Send(BuildMaskingOnPath());
}

void CQuarnoPrivacyZone::WriteZones() {
  const ZonePictureSize picture = ParseMaximumResolution(
      driver() != nullptr ? driver()->GetParameter(ipcapture::kParamMaximumResolution)
                          : std::string());
  uint32_t number = 0;
  for (const CPrivacyZoneEx& zone : ZonesToWrite()) {
    ++number;
    if (!reachable_) break;
    if (zone.Record().enabled == 0) continue;
    Send(BuildZoneWritePath(number, zone.Record(), picture));
  }
}

bool CQuarnoPrivacyZone::Send(const std::string& path) {
  if (!reachable_) return false;
  Web::CResultDef result;
  if (const ZoneWriteSender* send = PassSender()) {
    result = (*send)(path);
  } else {
    if (!sender_) sender_.reset(new (std::nothrow) Web::CHttpSender(device_));
    if (!sender_) return reachable_ = false;
    result = HUtils::RequestStatus(path, *sender_);
  }
  if (result.code == HUtils::kCodeNotSent) reachable_ = false;
  if (result.code != 0 && LogThrottle(log_counter_) && !result.message.empty() &&
      result.level != kLogNever && driver() != nullptr) {
    driver()->Message(result.level, "%s", result.message.c_str());
  }
  return reachable_;
}

}  // namespace korvela
