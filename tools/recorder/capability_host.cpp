#include "recorder/capability_host.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace korvela::recorder {

using ipcapture::kFieldPassword;

class CapabilityHost::Field : public ipcapture::IConnectionField {
 public:
  Field(CapabilityHost& host, uint32_t index) : host_(host), index_(index) {}
  void SetValue(const char* value) override {
    MutexLock guard(host_.mutex_);
    host_.result_.connection[index_] = value != nullptr ? value : "";
  }

 private:
  CapabilityHost& host_;
  const uint32_t index_;
};

class CapabilityHost::Property : public ipcapture::ICapabilityProperty {
 public:
  Property(CapabilityHost& host, uint32_t number) : host_(host), number_(number) {}
  void SetValue(const char* value) override {
    Update("value", [&](CapabilityProperty& p) {
      p.value = value != nullptr ? value : "";
      p.value_set = true;
    });
  }
  void SetReadOnly(uint32_t read_only) override {
    Update("readonly", [&](CapabilityProperty& p) { p.read_only = read_only != 0; });
  }
  void SetLabel(const char* label) override {
    Update("label", [&](CapabilityProperty& p) { p.label = label != nullptr ? label : ""; });
  }
  void SetExtra(uint32_t value) override {
    Update(value == 0 ? "extra" : "extra!=0", [](CapabilityProperty&) {});
  }

 private:
  template <typename F>
  void Update(const char* step, F f) {
    MutexLock guard(host_.mutex_);
    CapabilityProperty& p = host_.result_.properties[number_];
    if (!p.fill_order.empty()) p.fill_order += ",";
    p.fill_order += step;
    f(p);
  }
  CapabilityHost& host_;
  const uint32_t number_;
};

class CapabilityHost::ResolutionList : public ipcapture::IResolutionList {
 public:
  explicit ResolutionList(CapabilityHost& host) : host_(host) {}
  void Add(const char* text, uint32_t width, uint32_t height, uint32_t interval) override {
    MutexLock guard(host_.mutex_);
    host_.result_.resolutions.push_back({text != nullptr ? text : "", width, height, interval});
  }

 private:
  CapabilityHost& host_;
};

class CapabilityHost::FrameRateList : public ipcapture::IFrameRateList {
 public:
  explicit FrameRateList(CapabilityHost& host) : host_(host) {}
  void SetDefault(uint32_t interval) override {
    MutexLock guard(host_.mutex_);
    host_.result_.default_interval = interval;
  }
  void Add(uint32_t interval) override {
    MutexLock guard(host_.mutex_);
    host_.result_.frame_intervals.push_back(interval);
  }

 private:
  CapabilityHost& host_;
};

CapabilityHost::CapabilityHost()
    : resolution_list_(std::make_unique<ResolutionList>(*this)),
      frame_rate_list_(std::make_unique<FrameRateList>(*this)) {}

CapabilityHost::~CapabilityHost() = default;

void CapabilityHost::SetCapability(uint32_t number, uint32_t value) {
  MutexLock guard(mutex_);
  result_.capabilities[number] = value;
}

void CapabilityHost::SetName(const char* name) {
  MutexLock guard(mutex_);
  result_.name = name != nullptr ? name : "";
  result_.name_set = true;
}

ipcapture::IConnectionField* CapabilityHost::GetConnectionField(uint32_t i) {
  if (i < 1 || i > 4) return nullptr;
  MutexLock guard(mutex_);
  std::unique_ptr<Field>& field = fields_[i];
  if (!field) field = std::make_unique<Field>(*this, i);
  return field.get();
}

ipcapture::ICapabilityProperty* CapabilityHost::AddProperty(uint32_t number) {
  MutexLock guard(mutex_);
  std::unique_ptr<Property>& property = property_objects_[number];
  if (!property) property = std::make_unique<Property>(*this, number);
  result_.properties[number];  // listed even when never filled
  return property.get();
}

ipcapture::IResolutionList* CapabilityHost::GetResolutionList() { return resolution_list_.get(); }

ipcapture::IFrameRateList* CapabilityHost::GetFrameRateList(uint32_t which) {
  return which == 1 ? frame_rate_list_.get() : nullptr;
}

void CapabilityHost::Report(CapabilityResult::Outcome outcome, uint32_t status,
                            const char* message) {
  {
    MutexLock guard(mutex_);
    ++result_.reports;
    // The first report decides; a second one is a driver fault the count shows.
    if (result_.outcome == CapabilityResult::Outcome::kPending) {
      result_.outcome = outcome;
      result_.failure_status = status;
      result_.failure_message = message != nullptr ? message : "";
    }
  }
  reported_.NotifyAll();
}

void CapabilityHost::OnCompleted() { Report(CapabilityResult::Outcome::kCompleted, 0, ""); }

void CapabilityHost::OnFailed(uint32_t status, const char* message) {
  Report(CapabilityResult::Outcome::kFailed, status, message);
}

void CapabilityHost::OnTerminated() { Report(CapabilityResult::Outcome::kTerminated, 0, ""); }

bool CapabilityHost::WaitForReport(std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(mutex_);
  while (result_.reports == 0) {
    if (!reported_.WaitUntil(mutex_, deadline)) break;
  }
  return result_.reports > 0;
}

CapabilityResult CapabilityHost::Snapshot() const {
  MutexLock guard(mutex_);
  return result_;
}

std::map<uint32_t, std::string> CapabilityHost::CameraParameters() const {
  MutexLock guard(mutex_);
  std::map<uint32_t, std::string> parameters;
  for (const auto& [number, property] : result_.properties) parameters[number] = property.value;
  return parameters;
}

std::string JsonText(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

namespace {

const char* OutcomeName(CapabilityResult::Outcome outcome) {
  switch (outcome) {
    case CapabilityResult::Outcome::kCompleted:
      return "completed";
    case CapabilityResult::Outcome::kFailed:
      return "failed";
    case CapabilityResult::Outcome::kTerminated:
      return "terminated";
    case CapabilityResult::Outcome::kPending:
      break;
  }
  return "pending";
}

}  // namespace

std::string CapabilityHost::ToJson() const {
  const CapabilityResult r = Snapshot();
  nlohmann::ordered_json out;
  out["result"] = OutcomeName(r.outcome);
  if (r.outcome == CapabilityResult::Outcome::kFailed)
    out["failure"] = {{"status", r.failure_status}, {"message", r.failure_message}};
  if (r.name_set) out["name"] = r.name;
  nlohmann::ordered_json& connection = out["connection"] = nlohmann::ordered_json::object();
  for (const auto& [index, value] : r.connection)
    connection[std::to_string(index)] = index == kFieldPassword ? "***" : value;
  nlohmann::ordered_json& properties = out["properties"] = nlohmann::ordered_json::object();
  for (const auto& [number, p] : r.properties) {
    properties[std::to_string(number)] = {
        {"label", p.label}, {"value", p.value}, {"readOnly", p.read_only}};
  }
  nlohmann::ordered_json& capabilities = out["capabilities"] = nlohmann::ordered_json::object();
  for (const auto& [number, value] : r.capabilities) capabilities[std::to_string(number)] = value;
  nlohmann::ordered_json& resolutions = out["resolutions"] = nlohmann::ordered_json::array();
  for (const CapabilityResolution& res : r.resolutions) {
    resolutions.push_back({{"label", res.label},
                           {"width", res.width},
                           {"height", res.height},
                           {"interval", res.interval_ms}});
  }
  nlohmann::ordered_json& rates = out["frameRates"] = nlohmann::ordered_json::object();
  rates["intervals"] = r.frame_intervals;
  if (r.default_interval) rates["default"] = *r.default_interval;
  return JsonText(out);
}

namespace {

std::string PropertyValue(const CapabilityResult& r, uint32_t number) {
  auto it = r.properties.find(number);
  return it == r.properties.end() ? "" : it->second.value;
}

// "none" when the driver did not report the property.
std::string OptionalProperty(const CapabilityResult& r, uint32_t number) {
  return r.properties.count(number) != 0 ? PropertyValue(r, number) : "none";
}

bool HasCapability(const CapabilityResult& r, uint32_t number) {
  auto it = r.capabilities.find(number);
  return it != r.capabilities.end() && it->second != 0;
}

uint32_t CapabilityValue(const CapabilityResult& r, uint32_t number) {
  auto it = r.capabilities.find(number);
  return it == r.capabilities.end() ? 0 : it->second;
}

void Row(std::string& out, const char* label, const std::string& value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%-22s ", label);
  out += buf;
  out += value;
  out += "\n";
}

// The frame rate an interval stands for (intervals are 1000 / rate rounded).
std::string RateText(uint32_t interval_ms) {
  if (interval_ms == 0) return "-";
  return std::to_string((1000 + interval_ms / 2) / interval_ms) + " fps";
}

}  // namespace

std::string FormatCapabilityTable(const CapabilityResult& r) {
  std::string out;
  switch (r.outcome) {
    case CapabilityResult::Outcome::kCompleted:
      Row(out, "Result", "completed");
      break;
    case CapabilityResult::Outcome::kFailed:
      Row(out, "Result", "failed (status " + std::to_string(r.failure_status) + ")");
      Row(out, "Reason", r.failure_message);
      break;
    case CapabilityResult::Outcome::kTerminated:
      Row(out, "Result", "terminated");
      break;
    case CapabilityResult::Outcome::kPending:
      Row(out, "Result", "no report");
      break;
  }
  if (r.name_set) Row(out, "Name", r.name);
  if (auto it = r.connection.find(1); it != r.connection.end()) {
    auto port = r.connection.find(2);
    Row(out, "Device", it->second + (port != r.connection.end() ? ":" + port->second : ""));
  }
  if (r.properties.empty() && r.capabilities.empty()) return out;
  Row(out, "Firmware", PropertyValue(r, ipcapture::kParamFirmwareVersion));
  Row(out, "MAC address", PropertyValue(r, ipcapture::kParamMacAddress));
  Row(out, "Camera group", PropertyValue(r, ipcapture::kParamCameraGroup));
  Row(out, "Maximum resolution", PropertyValue(r, ipcapture::kParamMaximumResolution));
  Row(out, "RTSP port", PropertyValue(r, ipcapture::kParamRtspPort));
  const std::string standard = PropertyValue(r, ipcapture::kParamVideoStandard);
  Row(out, "Video standard",
      standard == "0" ? "0 (25 fps fallback)" : standard + " (30 fps fallback)");
  std::string streams;
  if (HasCapability(r, ipcapture::kCapH264)) streams += "H.264 ";
  if (HasCapability(r, ipcapture::kCapMotionJpeg)) streams += "Motion-JPEG ";
  if (HasCapability(r, ipcapture::kCapStreamType2)) streams += "type-2 ";
  Row(out, "Stream types", streams.empty() ? "none" : streams.substr(0, streams.size() - 1));
  Row(out, "Loaded", std::to_string(CapabilityValue(r, ipcapture::kCapLoaded)));
  out += "Picture sizes\n";
  for (const CapabilityResolution& res : r.resolutions) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "  %-12s %5u ms  %s\n", res.label.c_str(), res.interval_ms,
                  RateText(res.interval_ms).c_str());
    out += buf;
  }
  std::string intervals;
  for (uint32_t interval : r.frame_intervals) {
    if (!intervals.empty()) intervals += " ";
    intervals += std::to_string(interval);
  }
  Row(out, "Frame intervals (ms)", intervals);
  Row(out, "Default interval",
      r.default_interval
          ? std::to_string(*r.default_interval) + " ms (" + RateText(*r.default_interval) + ")"
          : "none");
  Row(out, "Digital inputs", std::to_string(CapabilityValue(r, ipcapture::kCapDigitalInputs)));
  Row(out, "Digital outputs", std::to_string(CapabilityValue(r, ipcapture::kCapDigitalOutputs)));
  Row(out, "Privacy zones",
      PropertyValue(r, ipcapture::kParamPrivacyZones) == "1"
          ? std::to_string(CapabilityValue(r, ipcapture::kCapPrivacyZoneCount)) + " rectangles"
          : "not supported");
  Row(out, "Audio bit rate", PropertyValue(r, ipcapture::kParamAudioBitRate) + " bit/s");
  Row(out, "Audio input", OptionalProperty(r, ipcapture::kParamAudioInput));
  Row(out, "Audio output", OptionalProperty(r, ipcapture::kParamAudioOutput));
  Row(out, "Settings flag", std::to_string(CapabilityValue(r, ipcapture::kCapSettingsFlag)));
  return out;
}

bool RunCapabilityQuery(const DriverExports& exports, const CapabilityQueryRequest& request,
                        std::chrono::milliseconds timeout, CapabilityHost& host,
                        std::string* error) {
  if (exports.CreateCapabilityQueryModule == nullptr ||
      exports.DeleteCapabilityQueryModule == nullptr) {
    if (error) *error = "the library does not export the capability query";
    return false;
  }
  ipcapture::IIPCapabilityQuery* module = exports.CreateCapabilityQueryModule(&host, request.ntsc);
  if (module == nullptr) {
    if (error) *error = "the library could not create a capability-query module";
    return false;
  }
  const bool started = module->Start(request.address.c_str(), request.port, request.user.c_str(),
                                     request.password.c_str(), &host);
  if (started) host.WaitForReport(timeout);
  // Deleting aborts a query that is still running and waits for its worker.
  exports.DeleteCapabilityQueryModule(module);
  if (!started && error) *error = "the capability-query module refused to start";
  return started;
}

}  // namespace korvela::recorder
