#include "device/camera_properties.h"

#include <string>
#include <string_view>
#include <utility>

#include "base/xml_settings_api.h"
#include "device/camera_properties_http.h"
#include "device/model_table.h"
#include "device/text_utils.h"
#include "util/ascii.h"

namespace korvela {
namespace {

constexpr char kNone[] = "(none)";
constexpr char kDefaultRtspPort[] = "554";
constexpr uint32_t kQuarnoDefaultFrameRate = 30;
constexpr uint32_t kMaxFrameRate = 30;
constexpr uint32_t kPrivacyZoneCount = 8;

bool Is2xx(uint32_t status) { return status / 100 == 2; }

// A value as the device wrote it between its tags may carry the line break
// that ends its line, and padding; none of that belongs to a name, address,
// port or number.
std::string TrimValue(std::string_view value) {
  constexpr std::string_view kBlank = " \t\r\n";
  const size_t first = value.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  const size_t last = value.find_last_not_of(kBlank);
  return std::string(value.substr(first, last - first + 1));
}

// A digital I/O OID names a present port unless empty or "disabled".
bool IoPresent(const std::string& value) {
  return !value.empty() && !ContainsIgnoreAsciiCase(value, "disabled");
}

}  // namespace

std::string CAudioCapabilities::ToString() const {
  return StrFormat("Count=%u; IsStereo=%u", channel_count, static_cast<unsigned>(is_stereo));
}

// ---------------------------------------------------------------------------
// CBaseCameraProperties

CBaseCameraProperties::CBaseCameraProperties(const DEVICE_INFO& device, uint32_t video_standard)
    : device_(device), video_standard_(video_standard) {}

void CBaseCameraProperties::AddProperty(ipcapture::ICapabilityResultSink* sink, uint32_t number,
                                        const std::string& name, const std::string& value,
                                        bool read_only) {
  if (name.empty()) return;
  ipcapture::ICapabilityProperty* property = sink->AddProperty(number);
  if (property == nullptr) return;
  property->SetLabel(name.c_str());
  property->SetExtra(0);
  property->SetReadOnly(read_only ? 1 : 0);
  property->SetValue(value.empty() ? kNone : value.c_str());
}

bool CBaseCameraProperties::ReportFrameRates(ipcapture::IFrameRateList* list) {
  if (frame_rates_.empty()) return false;
  if (list == nullptr) return true;
  const FrameRateReport report = MakeFrameRateReport(frame_rates_, default_frame_rate_);
  for (uint32_t interval : report.intervals_ms) list->Add(interval);
  if (report.default_interval_ms) list->SetDefault(*report.default_interval_ms);
  return true;
}

bool CBaseCameraProperties::SaveResults(ipcapture::ICapabilityResultSink* sink) {
  if (sink == nullptr) return false;
  if (!ReportName(sink)) return false;
  ReportConnection(sink);
  if (!ReportCodecs(sink)) return false;
  if (!ReportPictureSizes(sink)) return false;
  if (!ReportFrameRates(sink->GetFrameRateList(1))) return false;
  ReportCapabilities(sink);
  return FillProperties(sink);
}

bool CBaseCameraProperties::ReportName(ipcapture::ICapabilityResultSink* sink) {
  if (model_name_.empty()) return false;
  const std::string name = device_name_.empty() ? model_name_ : device_name_ + " " + model_name_;
  sink->SetName(name.c_str());
  return true;
}

void CBaseCameraProperties::ReportConnection(ipcapture::ICapabilityResultSink* sink) {
  const std::string values[4] = {device_.address, std::to_string(device_.port), device_.user_name,
                                 device_.password};
  for (uint32_t i = 1; i <= 4; ++i) {
    if (ipcapture::IConnectionField* field = sink->GetConnectionField(i))
      field->SetValue(values[i - 1].c_str());
  }
}

bool CBaseCameraProperties::ReportCodecs(ipcapture::ICapabilityResultSink* sink) {
  if (stream_types_.empty()) return false;
  for (uint32_t type : stream_types_) {
    switch (type) {
      case kReportedH264:
        sink->SetCapability(ipcapture::kCapH264, 1);
        break;
      case kReportedStream2:
        sink->SetCapability(ipcapture::kCapStreamType2, 1);
        break;
      case kReportedMotionJpeg:
        sink->SetCapability(ipcapture::kCapMotionJpeg, 1);
        break;
      default:
        break;
    }
  }
  sink->SetCapability(ipcapture::kCapLoaded, loaded_);
  return loaded_ == 1;
}

uint32_t CBaseCameraProperties::FallbackInterval() const {
  if (!frame_rates_.empty()) return FrameIntervalMs(*frame_rates_.rbegin());
  return FrameIntervalMs(video_standard_ == 0 ? 25 : 30);
}

bool CBaseCameraProperties::ReportPictureSizes(ipcapture::ICapabilityResultSink* sink) {
  if (picture_sizes_.empty()) return false;
  ipcapture::IResolutionList* list = sink->GetResolutionList();
  if (list == nullptr) return true;
  for (const PictureSizeEntry& entry : picture_sizes_.entries()) {
    const std::string text =
        StrFormat("%ux%u", static_cast<unsigned>(entry.width), static_cast<unsigned>(entry.height));
    const uint32_t interval = entry.interval_ms != 0 ? entry.interval_ms : FallbackInterval();
    list->Add(text.c_str(), entry.width, entry.height, interval);
  }
  return true;
}

void CBaseCameraProperties::ReportCapabilities(ipcapture::ICapabilityResultSink* sink) {
  if (flags_[kNeverSetFlagA] != 0 && flags_[kNeverSetFlagB] != 0) {
    sink->SetCapability(ipcapture::kCapNever1, 1);
    sink->SetCapability(ipcapture::kCapNever5, 1);
  }
  if (digital_inputs_ != 0) sink->SetCapability(ipcapture::kCapDigitalInputs, digital_inputs_);
  if (digital_outputs_ != 0) sink->SetCapability(ipcapture::kCapDigitalOutputs, digital_outputs_);
  if (audio_input_.channel_count != 0)
    sink->SetCapability(ipcapture::kCapAudioInputs, audio_input_.channel_count);
  sink->SetCapability(ipcapture::kCapSettingsFlag, flags_[kSettingsFlag]);
  sink->SetCapability(ipcapture::kCapAlwaysZero12, 0);
  if (privacy_zone_count_ != 0 && privacy_zone_type_ != 2) {
    sink->SetCapability(ipcapture::kCapPrivacyZoneCount, privacy_zone_count_);
    sink->SetCapability(ipcapture::kCapPrivacyZoneRectangles, privacy_zone_type_ == 1 ? 1 : 0);
    sink->SetCapability(ipcapture::kCapPrivacyZoneType2, privacy_zone_type_ == 2 ? 1 : 0);
    sink->SetCapability(ipcapture::kCapAlwaysZero16, 0);
    sink->SetCapability(ipcapture::kCapAlwaysZero17, 0);
  }
  if (audio_input_.channel_count != 0)
    AddProperty(sink, ipcapture::kParamAudioInput, "Audio Input Parameters",
                audio_input_.ToString(), true);
  if (audio_output_.channel_count != 0)
    AddProperty(sink, ipcapture::kParamAudioOutput, "Audio Output Parameters",
                audio_output_.ToString(), true);
}

// ---------------------------------------------------------------------------
// CQuarnoCameraProperties

CQuarnoCameraProperties::CQuarnoCameraProperties(const DEVICE_INFO& device, uint32_t video_standard)
    : CQuarnoCameraProperties(device, video_standard, std::make_unique<CHttpOidDevice>(device)) {}

CQuarnoCameraProperties::CQuarnoCameraProperties(const DEVICE_INFO& device, uint32_t video_standard,
                                                 std::unique_ptr<ICameraOidDevice> oid_device)
    : CBaseCameraProperties(device, video_standard), oid_device_(std::move(oid_device)) {
  default_frame_rate_ = kQuarnoDefaultFrameRate;
}

void CQuarnoCameraProperties::Abort() {
  if (oid_device_) oid_device_->Abort();
}

bool CQuarnoCameraProperties::FillProperties(ipcapture::ICapabilityResultSink* sink) {
  AddProperty(sink, ipcapture::kParamVideoStandard, "Video standard",
              std::to_string(video_standard_), false);
  AddProperty(sink, ipcapture::kParamRtspPort, "RTSP port",
              rtsp_port_.empty() ? kDefaultRtspPort : rtsp_port_, true);
  AddProperty(sink, ipcapture::kParamCameraGroup, "Camera group", std::to_string(camera_group_),
              false);
  AddProperty(sink, ipcapture::kParamFirmwareVersion, "Firmware version", firmware_, true);
  AddProperty(sink, ipcapture::kParamMacAddress, "MAC address", mac_address_, true);
  AddProperty(
      sink, ipcapture::kParamMaximumResolution, "Maximum resolution",
      StrFormat("%ux%u", static_cast<unsigned>(max_width_), static_cast<unsigned>(max_height_)),
      true);
  AddProperty(sink, ipcapture::kParamPrivacyZones, "Privacy zones support",
              privacy_zone_count_ > 0 ? "1" : "0", false);
  AddProperty(sink, ipcapture::kParamAudioBitRate, "Audio Bitrate", std::to_string(audio_bit_rate_),
              false);
  return true;
}

bool CQuarnoCameraProperties::Query(uint32_t& status) {
  if (!oid_device_) {
    status = kPropertiesNoAnswer;
    return false;
  }
  if (!CheckAccess(status)) return false;
  if (IsAborted() || !ReadIdentity()) {
    status = kPropertiesNoAnswer;
    return false;
  }
  if (!IsAborted() && !ReadVideoCapabilities()) {
    status = kPropertiesNoAnswer;
    return false;
  }
  loaded_ = 1;
  ReadSettingsFlag();
  if (!IsAborted()) ReadDigitalIo();
  if (!IsAborted()) ReadPrivacyZones();
  if (!IsAborted()) ReadAudio();
  return true;
}

std::string CQuarnoCameraProperties::ReadOid(const std::string& oids) {
  // Checked before every request, not only between steps: an abort that
  // arrives while no request is open must not let the next one start.
  if (IsAborted()) return {};
  return TrimValue(oid_device_->GetOid(oids));
}

std::string CQuarnoCameraProperties::ReadDeviceText(const std::string& oid) {
  return CleanDeviceText(ReadOid(oid));
}

uint32_t CQuarnoCameraProperties::AccessStatus(const std::string& path) {
  if (IsAborted()) return 404;
  return oid_device_->GetStatus(path);
}

bool CQuarnoCameraProperties::CheckAccess(uint32_t& status) {
  const uint32_t basic = AccessStatus("/basicset.html");
  if (Is2xx(basic)) return true;
  if (basic == 401) {
    status = kPropertiesLoginFailed;
    return false;
  }
  // Some models protect only the image page: it decides. A device that does
  // not answer at all passes here and fails at the identity step.
  if (AccessStatus("/imageset.html") == 401) {
    status = kPropertiesLoginFailed;
    return false;
  }
  return true;
}

bool CQuarnoCameraProperties::ReadIdentity() {
  std::string device_name = ReadDeviceText(oid::kDeviceName);
  if (device_name.empty()) return false;
  std::string model_name = ReadDeviceText(oid::kModelName);
  if (model_name.empty()) return false;
  device_name_ = std::move(device_name);
  model_name_ = std::move(model_name);

  if (IsFixedSizeModel(model_name_)) {
    camera_group_ = 1;
  } else {
    const std::string mode = ReadOid(oid::kVideoMode);
    if (!mode.empty() && mode.find("mode") != std::string::npos) {
      model_family_ = ModelFamily(model_name_);
      camera_group_ = ModeCameraGroup(model_family_);
    }
  }

  const std::string mac = ReadDeviceText(oid::kMacAddress);
  if (mac.empty()) return false;
  mac_address_ = RemoveChars(mac, "-");

  std::string firmware = ReadDeviceText(oid::kFirmware);
  if (firmware.empty()) return false;
  firmware_ = std::move(firmware);
  return true;
}

bool CQuarnoCameraProperties::ReadVideoCapabilities() {
  if (!ReadOid(oid::kJpegQuality).empty()) stream_types_.insert(kReportedMotionJpeg);
  if (ContainsIgnoreAsciiCase(ReadOid(oid::kH264Availability), "enabled"))
    stream_types_.insert(kReportedH264);

  std::string rtsp_port = ReadDeviceText(oid::kRtspPort);
  if (!rtsp_port.empty()) rtsp_port_ = std::move(rtsp_port);

  for (uint32_t rate = 1; rate <= kMaxFrameRate; ++rate) frame_rates_.insert(rate);

  // Digits only: "4294968576" must not pass as 1280 as it would with atoi.
  // Sizes above 65535 are not pictures this driver can describe.
  uint32_t width = 0;
  uint32_t height = 0;
  ParseUint32(ReadOid(oid::kMaxWidth), width);
  ParseUint32(ReadOid(oid::kMaxHeight), height);
  if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF) return false;
  max_width_ = static_cast<uint16_t>(width);
  max_height_ = static_cast<uint16_t>(height);

  FillPictureSizes(camera_group_, model_family_, {max_width_, max_height_}, picture_sizes_,
                   default_frame_rate_);
  return true;
}

void CQuarnoCameraProperties::ReadSettingsFlag() {
  CXMLSettingsAPI settings;
  if (!settings_folder_.empty()) settings.SetSettingsFolder(settings_folder_);
  if (settings.Open() != CXMLSettingsAPI::kResultOk) return;
  std::string value;
  settings.GetValue(value, "root/CCFIA");
  if (value == "1") flags_[kSettingsFlag] = 1;
}

void CQuarnoCameraProperties::ReadDigitalIo() {
  if (IoPresent(ReadOid(oid::kDigitalOutput))) digital_outputs_ = 1;
  if (IoPresent(ReadOid(oid::kDigitalInput))) digital_inputs_ = 1;
}

void CQuarnoCameraProperties::ReadPrivacyZones() {
  std::string body;
  if (!oid_device_->GetBody(StrFormat("/get.oid?%s", oid::kPrivacyZoneProbe), body)) return;
  // The body carries the zero byte the request function appends.
  if (const size_t end = body.find('\0'); end != std::string::npos) body.resize(end);
  if (body.empty() || ContainsIgnoreAsciiCase(body, "err")) return;
  privacy_zone_count_ = kPrivacyZoneCount;
  privacy_zone_type_ = 1;
  oid_device_->SendWithoutAnswer(StrFormat("/set.oid?OidTB%s=ON", oid::kPrivacyMasking));
}

void CQuarnoCameraProperties::ReadAudio() {
  const std::string reply = ReadOid(StrFormat("%s&%s&%s&%s", oid::kAudioBitRate, oid::kAudioInput,
                                              oid::kAudioOutput1, oid::kAudioOutput2));
  const std::string bit_rate = TrimValue(GetValue(reply, oid::kAudioBitRate, "=", "\r\n"));
  if (bit_rate.empty()) return;
  int32_t kbits = 0;
  ParseInt(bit_rate, kbits);
  // A rate whose bit/s do not fit the field is no rate the device can send:
  // reported as 0 like one that does not parse, never wrapped around.
  const uint64_t bits = kbits > 0 ? static_cast<uint64_t>(kbits) * 1000u : 0u;
  audio_bit_rate_ = bits <= UINT32_MAX ? static_cast<uint32_t>(bits) : 0u;
  if (!TrimValue(GetValue(reply, oid::kAudioInput, "=", "\r\n")).empty())
    audio_input_.channel_count = 1;
  if (!TrimValue(GetValue(reply, oid::kAudioOutput1, "=", "\r\n")).empty() &&
      !TrimValue(GetValue(reply, oid::kAudioOutput2, "=", "\r\n")).empty())
    audio_output_.channel_count = 1;
}

}  // namespace korvela
