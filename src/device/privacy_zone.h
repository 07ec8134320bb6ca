// Privacy zones: the recorder's zones as last given, whether they changed, and
// when to write them to the camera.
//
// A channel worker applies the zones through its own link (ApplyThrough), so
// that stopping the channel aborts a write to a camera that does not answer;
// Apply() writes through the subclass's own sender.
//
// Threading: SetZones runs on the recorder's thread (StartChannel), Apply and
// ApplyThrough on any video channel's worker, possibly several at once. zones_lock_ guards the
// stored zones and the changed flag and is held only for copying, so SetZones
// never waits for the network. apply_lock_ serialises Apply: it guards the
// snapshot being written (applying_) and, in subclasses, the one sender that
// writes it. Lock order: apply_lock_ before zones_lock_. Each Apply writes one
// consistent set, either the one before or the one after a concurrent SetZones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "korvela/ipcapture.h"

#include "base/sync_lock.h"
#include "device/http_sender.h"
#include "device/privacy_zone_request.h"
#include "util/thread_annotations.h"

namespace korvela {

class IDriver;

// The stored copy of one recorder zone; the accessors return it unchanged.
class CPrivacyZoneEx : public ipcapture::IPrivacyZone {
 public:
  CPrivacyZoneEx() = default;
  explicit CPrivacyZoneEx(const PrivacyZoneRecord& record) : record_(record) {}
  // Reads the seven values of the recorder's zone.
  static CPrivacyZoneEx CopyOf(ipcapture::IPrivacyZone& zone);

  uint32_t GetAttribute1() override { return record_.attribute1; }
  uint32_t GetAttribute2() override { return record_.attribute2; }
  uint32_t IsEnabled() override { return record_.enabled; }
  float GetLeft() override { return record_.left; }
  float GetTop() override { return record_.top; }
  float GetRight() override { return record_.right; }
  float GetBottom() override { return record_.bottom; }

  const PrivacyZoneRecord& Record() const { return record_; }

 private:
  PrivacyZoneRecord record_;
};

// Sends one zone write and returns its outcome.
using ZoneWriteSender = std::function<Web::CResultDef(const std::string& path)>;

class CBasePrivacyZone : public ipcapture::IPrivacyZones {
 public:
  // The camera's zone table has 32 entries; zones after that are ignored.
  static constexpr size_t kMaxPrivacyZones = 32;

  explicit CBasePrivacyZone(IDriver* driver) : driver_(driver) {}
  CBasePrivacyZone(const CBasePrivacyZone&) = delete;
  CBasePrivacyZone& operator=(const CBasePrivacyZone&) = delete;

  // 1: copies up to kMaxPrivacyZones zones, stopping at the first null one,
  // and sets changed to whether they differ from the previous set. A null
  // list or zone collection is an empty set.
  void SetZones(ipcapture::IPrivacyZoneList* list) override EXCLUDES(zones_lock_);

  // 2: when changed is set, EnableMasking and, with at least one zone,
  // WriteZones. Changed stays set, so every Apply until an identical
  // SetZones writes again (a restarted camera gets its masks back). Always
  // true: write failures are logged, not reported.
  bool Apply() override EXCLUDES(apply_lock_, zones_lock_);
  // Apply, writing through `send` instead of the object's own sender.
  bool ApplyThrough(const ZoneWriteSender& send) EXCLUDES(apply_lock_, zones_lock_);

  bool Changed() const;
  std::vector<PrivacyZoneRecord> Zones() const;

 protected:
  // 3 and 4; called by Apply only, with apply_lock_ held. Nothing here.
  virtual void WriteZones() REQUIRES(apply_lock_) {}
  virtual void EnableMasking() REQUIRES(apply_lock_) {}

  // The set the running Apply writes, in the recorder's order.
  const std::vector<CPrivacyZoneEx>& ZonesToWrite() const REQUIRES(apply_lock_) {
    return applying_;
  }
  // The caller's sender for the running pass; null: write with your own.
  const ZoneWriteSender* PassSender() const REQUIRES(apply_lock_) { return pass_sender_; }

  // Serialises Apply; subclasses guard their sender with it.
  CSyncLock apply_lock_;
  IDriver* driver() const { return driver_; }

 private:
  IDriver* const driver_;

  mutable CSyncLock zones_lock_;  // taken after apply_lock_, never before
  std::vector<CPrivacyZoneEx> zones_ GUARDED_BY(zones_lock_);
  bool changed_ GUARDED_BY(zones_lock_) = false;

  std::vector<CPrivacyZoneEx> applying_ GUARDED_BY(apply_lock_);
  const ZoneWriteSender* pass_sender_ GUARDED_BY(apply_lock_) = nullptr;

  bool ApplyWith(const ZoneWriteSender* send) EXCLUDES(apply_lock_, zones_lock_);
};

}  // namespace korvela
