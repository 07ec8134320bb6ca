// The recorder's side of a capability query: the result sink and the
// completion callback, collecting every call the driver makes exactly as a
// recorder stores it (properties by number, capability numbers, picture
// sizes, frame intervals, the outcome), plus the JSON form of it all.
//
// Threading: the driver calls the sink and the callback on the query's worker
// thread; the owner reads snapshots and waits for the report on its own
// thread. mutex_ guards result_, fields_ and property_objects_ (the property
// and connection-field objects write through their host); reported_ wakes
// WaitForReport.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "korvela/capability_query.h"

#include "recorder/driver_library.h"
#include "util/cond_var.h"
#include "util/mutex.h"

namespace korvela::recorder {

struct CapabilityProperty {
  std::string label;
  std::string value;
  bool read_only = false;
  bool value_set = false;
  // The order the driver filled it in, e.g. "label,extra,readonly,value".
  std::string fill_order;
};

struct CapabilityResolution {
  std::string label;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t interval_ms = 0;
};

struct CapabilityResult {
  enum class Outcome { kPending, kCompleted, kFailed, kTerminated };
  Outcome outcome = Outcome::kPending;
  uint32_t failure_status = 0;
  std::string failure_message;
  int reports = 0;  // OnCompleted + OnFailed + OnTerminated calls
  bool name_set = false;
  std::string name;
  std::map<uint32_t, std::string> connection;  // by ipcapture::ConnectionFieldNumber
  std::map<uint32_t, CapabilityProperty> properties;
  std::map<uint32_t, uint32_t> capabilities;
  std::vector<CapabilityResolution> resolutions;
  std::vector<uint32_t> frame_intervals;
  std::optional<uint32_t> default_interval;
};

class CapabilityHost : public ipcapture::ICapabilityResultSink,
                       public ipcapture::ICapabilityQueryCallback {
 public:
  CapabilityHost();
  ~CapabilityHost() override;
  CapabilityHost(const CapabilityHost&) = delete;
  CapabilityHost& operator=(const CapabilityHost&) = delete;

  // ICapabilityResultSink
  void SetCapability(uint32_t number, uint32_t value) override;
  void SetName(const char* name) override;
  ipcapture::IConnectionField* GetConnectionField(uint32_t i) override;
  ipcapture::ICapabilityProperty* AddProperty(uint32_t number) override;
  ipcapture::IResolutionList* GetResolutionList() override;
  ipcapture::IFrameRateList* GetFrameRateList(uint32_t which) override;

  // ICapabilityQueryCallback
  void OnCompleted() override;
  void OnFailed(uint32_t status, const char* message) override;
  void OnTerminated() override;

  // True once a report arrived within `timeout`.
  bool WaitForReport(std::chrono::milliseconds timeout) const;
  CapabilityResult Snapshot() const;

  // The reported properties as the camera parameters a recorder hands to the
  // driver's Open: number -> value.
  std::map<uint32_t, std::string> CameraParameters() const;

  // One JSON object mirroring every call on the sink; the password is "***".
  std::string ToJson() const;

 private:
  class Field;
  class Property;
  class ResolutionList;
  class FrameRateList;

  void Report(CapabilityResult::Outcome outcome, uint32_t status, const char* message);

  mutable Mutex mutex_;
  mutable CondVar reported_;
  CapabilityResult result_ GUARDED_BY(mutex_);
  // Recorder objects handed to the driver; they live as long as the host.
  std::map<uint32_t, std::unique_ptr<Field>> fields_ GUARDED_BY(mutex_);
  std::map<uint32_t, std::unique_ptr<Property>> property_objects_ GUARDED_BY(mutex_);
  const std::unique_ptr<ResolutionList> resolution_list_;
  const std::unique_ptr<FrameRateList> frame_rate_list_;
};

// `value` as JSON text on one line. Device texts need not be UTF-8: valid
// UTF-8 (a camera named "Kamera Süd") comes out as it is, any other byte
// sequence as U+FFFD, so the output always parses.
std::string JsonText(const nlohmann::ordered_json& value);

// The readable form of a result: identity, video, I/O, privacy zones, audio.
std::string FormatCapabilityTable(const CapabilityResult& result);

struct CapabilityQueryRequest {
  std::string address;
  uint16_t port = 80;
  std::string user;
  std::string password;
  bool ntsc = false;  // video-standard flag of the module
};

// One query as a recorder runs it through the library's exports: creates a
// module, starts it with `host` as sink and callback, waits up to `timeout`
// for the report, then deletes the module (which aborts a query still
// running and waits for its worker). False when no module could be created
// or Start refused; `error` then says which.
bool RunCapabilityQuery(const DriverExports& exports, const CapabilityQueryRequest& request,
                        std::chrono::milliseconds timeout, CapabilityHost& host,
                        std::string* error);

}  // namespace korvela::recorder
