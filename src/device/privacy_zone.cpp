#include "device/privacy_zone.h"

#include <algorithm>

namespace korvela {
namespace {

std::vector<CPrivacyZoneEx> CopyZones(ipcapture::IPrivacyZoneList* list) {
  std::vector<CPrivacyZoneEx> zones;
  ipcapture::IPrivacyZoneCollection* collection =
      list != nullptr ? list->GetPrivacyZones() : nullptr;
  if (collection == nullptr) return zones;
  for (uint32_t i = 0; i < CBasePrivacyZone::kMaxPrivacyZones; ++i) {
    ipcapture::IPrivacyZone* zone = collection->GetZone(i);
    if (zone == nullptr) break;
    zones.push_back(CPrivacyZoneEx::CopyOf(*zone));
  }
  return zones;
}

bool SameSet(const std::vector<CPrivacyZoneEx>& a, const std::vector<CPrivacyZoneEx>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const CPrivacyZoneEx& x, const CPrivacyZoneEx& y) {
                      return SameZone(x.Record(), y.Record());
                    });
}

}  // namespace

CPrivacyZoneEx CPrivacyZoneEx::CopyOf(ipcapture::IPrivacyZone& zone) {
  PrivacyZoneRecord record;
  record.attribute1 = zone.GetAttribute1();
  record.attribute2 = zone.GetAttribute2();
  record.enabled = zone.IsEnabled();
  record.left = zone.GetLeft();
  record.top = zone.GetTop();
  record.right = zone.GetRight();
  record.bottom = zone.GetBottom();
  return CPrivacyZoneEx(record);
}

void CBasePrivacyZone::SetZones(ipcapture::IPrivacyZoneList* list) {
  // The recorder's objects are read before taking the lock.
  std::vector<CPrivacyZoneEx> zones = CopyZones(list);
  CSyncLockGuard guard(zones_lock_);
  changed_ = !SameSet(zones, zones_);
  zones_ = std::move(zones);
}

bool CBasePrivacyZone::Apply() { return ApplyWith(nullptr); }

bool CBasePrivacyZone::ApplyThrough(const ZoneWriteSender& send) { return ApplyWith(&send); }

bool CBasePrivacyZone::ApplyWith(const ZoneWriteSender* send) {
  CSyncLockGuard apply(apply_lock_);
  {
    CSyncLockGuard guard(zones_lock_);
    if (!changed_) return true;
    applying_ = zones_;
  }
  pass_sender_ = send;
  EnableMasking();
  if (!applying_.empty()) WriteZones();
  pass_sender_ = nullptr;
  return true;
}

bool CBasePrivacyZone::Changed() const {
  CSyncLockGuard guard(zones_lock_);
  return changed_;
}

std::vector<PrivacyZoneRecord> CBasePrivacyZone::Zones() const {
  CSyncLockGuard guard(zones_lock_);
  std::vector<PrivacyZoneRecord> records;
  records.reserve(zones_.size());
  for (const auto& zone : zones_) records.push_back(zone.Record());
  return records;
}

}  // namespace korvela
