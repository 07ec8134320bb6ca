// Camera identification and capabilities.
//
// CBaseCameraProperties holds what a query found out and hands it to the
// recorder's result sink (SaveResults); CQuarnoCameraProperties finds it out
// from an IQeye device with a fixed sequence of OID reads (Query).
//
// Threading: Query and SaveResults run on the capability-query worker, one
// after the other. The only calls from other threads are SignalAbort and
// Abort (slot 0): the abort event is a kernel object and the device's Abort
// is safe against a running request, so no lock guards the result fields,
// which only the worker touches. Objects are shared through std::shared_ptr
// so that an aborting thread keeps the object alive for its call.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "korvela/capability_query.h"

#include "core/device_info.h"
#include "device/camera_properties_device.h"
#include "device/camera_properties_lists.h"
#include "platform/event.h"

namespace korvela {

class CAudioCapabilities {
 public:
  virtual ~CAudioCapabilities() = default;
  uint32_t channel_count = 0;  // 0: no audio in that direction
  uint8_t is_stereo = 0;
  // "Count=%u; IsStereo=%u"
  std::string ToString() const;
};

// Stream types of the report (not the connection's stream type).
enum ReportedStreamType : uint32_t {
  kReportedH264 = 1,
  kReportedStream2 = 2,
  kReportedMotionJpeg = 3,
};

// Query status values (the capability query passes them to OnFailed).
enum PropertiesQueryStatus : uint32_t {
  kPropertiesLoginFailed = 1,
  kPropertiesNoAnswer = 3,
};

class CBaseCameraProperties {
 public:
  CBaseCameraProperties(const DEVICE_INFO& device, uint32_t video_standard);
  CBaseCameraProperties(const CBaseCameraProperties&) = delete;
  CBaseCameraProperties& operator=(const CBaseCameraProperties&) = delete;

  virtual void Abort() {}
  virtual bool ReportFrameRates(ipcapture::IFrameRateList* list);
  virtual bool FillProperties(ipcapture::ICapabilityResultSink* sink) = 0;
  virtual ~CBaseCameraProperties() = default;
  // True on success; on failure `status` is kPropertiesLoginFailed or
  // kPropertiesNoAnswer.
  virtual bool Query(uint32_t& status) = 0;

  // Hands everything to the sink; true when every step succeeded.
  bool SaveResults(ipcapture::ICapabilityResultSink* sink);

  // Makes every later step of a running query give up (any thread).
  void SignalAbort() { abort_event_.Set(); }
  bool IsAborted() const { return abort_event_.IsSet(); }

  // Read access for tests and hosts.
  const std::string& device_name() const { return device_name_; }
  const std::string& model_name() const { return model_name_; }
  const std::string& firmware() const { return firmware_; }
  uint32_t loaded() const { return loaded_; }
  const std::set<uint32_t>& stream_types() const { return stream_types_; }
  const PictureSizeList& picture_sizes() const { return picture_sizes_; }
  const std::set<uint32_t>& frame_rates() const { return frame_rates_; }
  uint32_t default_frame_rate() const { return default_frame_rate_; }
  uint32_t digital_inputs() const { return digital_inputs_; }
  uint32_t digital_outputs() const { return digital_outputs_; }
  uint32_t privacy_zone_type() const { return privacy_zone_type_; }
  uint32_t privacy_zone_count() const { return privacy_zone_count_; }
  const CAudioCapabilities& audio_input() const { return audio_input_; }
  const CAudioCapabilities& audio_output() const { return audio_output_; }
  bool settings_flag() const { return flags_[kSettingsFlag] != 0; }

 protected:
  // Indexes into flags_: two flags this driver never sets, the settings-file
  // flag, and one that stays 0.
  enum FlagIndex { kNeverSetFlagA = 0, kNeverSetFlagB = 1, kSettingsFlag = 2, kUnusedFlag = 3 };

  // Adds one numbered property in the order the recorder expects; skipped
  // when the name is empty; an empty value is reported as "(none)".
  static void AddProperty(ipcapture::ICapabilityResultSink* sink, uint32_t number,
                          const std::string& name, const std::string& value, bool read_only);

  std::string device_name_;
  std::string model_name_;
  CAudioCapabilities audio_input_;
  CAudioCapabilities audio_output_;
  uint32_t privacy_zone_type_ = 0;  // 0 none, 1 rectangles
  uint32_t privacy_zone_count_ = 0;
  uint8_t flags_[4] = {0, 0, 0, 0};
  DEVICE_INFO device_;
  platform::Event abort_event_{platform::Event::Mode::kManualReset};
  std::string firmware_;
  uint32_t video_standard_ = 0;  // 0: fallback 25 fps, else 30
  uint32_t digital_inputs_ = 0;
  uint32_t digital_outputs_ = 0;
  uint32_t loaded_ = 0;
  std::set<uint32_t> stream_types_;
  PictureSizeList picture_sizes_;
  std::set<uint32_t> frame_rates_;
  uint32_t default_frame_rate_ = 0;

 private:
  bool ReportName(ipcapture::ICapabilityResultSink* sink);
  void ReportConnection(ipcapture::ICapabilityResultSink* sink);
  bool ReportCodecs(ipcapture::ICapabilityResultSink* sink);
  bool ReportPictureSizes(ipcapture::ICapabilityResultSink* sink);
  void ReportCapabilities(ipcapture::ICapabilityResultSink* sink);
  uint32_t FallbackInterval() const;
};

class CQuarnoCameraProperties : public CBaseCameraProperties {
 public:
  // Builds the properties' own HTTP sender from `device`; nothing is read yet.
  CQuarnoCameraProperties(const DEVICE_INFO& device, uint32_t video_standard);
  // Test seam: the device requests go to `oid_device`.
  CQuarnoCameraProperties(const DEVICE_INFO& device, uint32_t video_standard,
                          std::unique_ptr<ICameraOidDevice> oid_device);

  void Abort() override;
  bool FillProperties(ipcapture::ICapabilityResultSink* sink) override;
  bool Query(uint32_t& status) override;

  // Folder of the settings file; empty: the folder of the executable.
  void set_settings_folder(std::string folder) { settings_folder_ = std::move(folder); }

  uint32_t camera_group() const { return camera_group_; }
  uint32_t model_family() const { return model_family_; }
  const std::string& mac_address() const { return mac_address_; }
  const std::string& rtsp_port() const { return rtsp_port_; }
  uint32_t audio_bit_rate() const { return audio_bit_rate_; }

 private:
  // The device's value, or empty once the query was aborted.
  std::string ReadOid(const std::string& oids);
  // ReadOid of a text that is kept, reported and may be logged: cleaned
  // (CleanDeviceText) so that it cannot forge log lines or grow without bound.
  std::string ReadDeviceText(const std::string& oid);
  // Status code of the access-check page; 404 without a request once aborted.
  uint32_t AccessStatus(const std::string& path);
  bool CheckAccess(uint32_t& status);
  bool ReadIdentity();
  bool ReadVideoCapabilities();
  void ReadSettingsFlag();
  void ReadDigitalIo();
  void ReadPrivacyZones();
  void ReadAudio();

  std::unique_ptr<ICameraOidDevice> oid_device_;
  uint32_t camera_group_ = 0;
  uint32_t model_family_ = 0;
  uint16_t max_width_ = 0;
  uint16_t max_height_ = 0;
  std::string mac_address_;
  std::string rtsp_port_;
  uint32_t audio_bit_rate_ = 0;  // bit/s
  std::string settings_folder_;
};

}  // namespace korvela
