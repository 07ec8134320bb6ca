// Capability query: the recorder's result sink and completion callback, and
// the module interface the recorder holds.
//
// The sink and callback are recorder objects, called from the module's worker
// thread. Slot numbers are the contract (slot 0 is the virtual destructor);
// ReservedN() keeps the following slots at their numbers and is never called.
#pragma once

#include <cstdint>

namespace korvela::ipcapture {

// Numbered properties of a query result (AddProperty). The recorder stores
// each value as text and hands it back to the driver's Open as the camera
// parameter of the same number (IDeviceSetup::GetParameter); "(none)" stands
// for an empty value.
enum CameraParameter : uint32_t {
  // "0": 25 fps fallback, else 30. Open reads it as the driver's channel
  // parameter and fails unless it is a decimal number.
  kParamVideoStandard = 1,
  kParamRtspPort = 2,           // decimal; "554" when the device did not say
  kParamCameraGroup = 3,        // 0..4: how picture sizes and video modes are set
  kParamFirmwareVersion = 4,    // shown in the "DRIVER IS OPENED" line
  kParamMacAddress = 5,         // hex digits without dashes
  kParamMaximumResolution = 6,  // the sensor's full picture, "WxH" e.g. "1280x1024"
  kParamPrivacyZones = 7,       // "1": the device masks privacy zones
  kParamAudioBitRate = 8,       // bit/s, decimal
  kParamAudioInput = 101,       // "Count=%u; IsStereo=%u"; a count above 0 enables audio input
  kParamAudioOutput = 102,      // the same for talk-back
};

// Capability numbers of a query result (SetCapability). 13 to 17 are
// reported only for a device with privacy zones. kCapNever1 and kCapNever5
// are numbers of the recorder this driver never reports; the kCapAlwaysZero
// ones it reports as 0.
enum CapabilityNumber : uint32_t {
  kCapLoaded = 0,          // 1 once the device was identified and its video read
  kCapNever1 = 1,          // never
  kCapDigitalInputs = 2,   // count, when not 0
  kCapDigitalOutputs = 3,  // count, when not 0
  kCapAudioInputs = 4,     // audio input channels, when not 0
  kCapNever5 = 5,          // never
  kCapStreamType2 = 6,     // 1: a third stream type (IQeye devices have none)
  kCapMotionJpeg = 7,      // 1: Motion-JPEG over HTTP (connection stream type 1)
  kCapH264 = 8,            // 1: H.264 over RTSP (connection stream type 3)
  kCapSettingsFlag = 11,   // the driver settings file's flag, 0 or 1
  kCapAlwaysZero12 = 12,
  kCapPrivacyZoneCount = 13,
  kCapPrivacyZoneRectangles = 14,  // 1: zones are rectangles
  kCapPrivacyZoneType2 = 15,       // 1: zones of the other kind (IQeye devices have none)
  kCapAlwaysZero16 = 16,
  kCapAlwaysZero17 = 17,
};

// One connection field of the result (address, port, user name, password).
class IConnectionField {
 public:
  virtual ~IConnectionField() = default;         // 0
  virtual void SetValue(const char* value) = 0;  // 1
};

// One numbered property of the result. The driver fills it in the order
// SetLabel, SetExtra(0), SetReadOnly, SetValue.
class ICapabilityProperty {
 public:
  virtual ~ICapabilityProperty() = default;          // 0
  virtual void SetValue(const char* value) = 0;      // 1
  virtual void Reserved2() {}                        // 2
  virtual void Reserved3() {}                        // 3
  virtual void SetReadOnly(uint32_t read_only) = 0;  // 4
  virtual void SetLabel(const char* label) = 0;      // 5
  virtual void SetExtra(uint32_t value) = 0;         // 6: always called with 0
};

// Picture sizes offered by the device.
class IResolutionList {
 public:
  virtual ~IResolutionList() = default;  // 0
  virtual void Add(const char* text, uint32_t width, uint32_t height,
                   uint32_t frame_interval) = 0;  // 1
};

// Frame intervals offered by the device.
class IFrameRateList {
 public:
  virtual ~IFrameRateList() = default;                   // 0
  virtual void SetDefault(uint32_t frame_interval) = 0;  // 1
  virtual void Add(uint32_t frame_interval) = 0;         // 2
};

// Connection fields of a query result (GetConnectionField).
enum ConnectionFieldNumber : uint32_t {
  kFieldAddress = 1,
  kFieldPort = 2,  // decimal
  kFieldUserName = 3,
  kFieldPassword = 4,
};

// The recorder's result sink given to Start. Getters return null when the
// recorder has no such object; the driver then skips the step.
class ICapabilityResultSink {
 public:
  virtual ~ICapabilityResultSink() = default;                       // 0
  virtual void SetCapability(uint32_t number, uint32_t value) = 0;  // 1
  virtual void SetName(const char* name) = 0;                       // 2
  // i: a ConnectionFieldNumber.
  virtual IConnectionField* GetConnectionField(uint32_t i) = 0;   // 3
  virtual void Reserved4() {}                                     // 4
  virtual ICapabilityProperty* AddProperty(uint32_t number) = 0;  // 5
  virtual IResolutionList* GetResolutionList() = 0;               // 6
  virtual void Reserved7() {}                                     // 7
  virtual IFrameRateList* GetFrameRateList(uint32_t which) = 0;   // 8: called with 1
};

// Capability-query status values passed to OnFailed.
enum CapabilityStatus : uint32_t {
  kCapabilityInvalidAddress = 0,
  kCapabilityLoginFailed = 1,
  kCapabilityOffline = 2,
  kCapabilityOtherFailure = 3,
};

// The recorder's completion callback. Exactly one of OnCompleted/OnFailed is
// called per query, from the module's worker; OnTerminated after a worker had
// to be abandoned at shutdown.
class ICapabilityQueryCallback {
 public:
  virtual ~ICapabilityQueryCallback() = default;                    // 0
  virtual void Reserved1() {}                                       // 1
  virtual void OnCompleted() = 0;                                   // 2
  virtual void OnFailed(uint32_t status, const char* message) = 0;  // 3
  virtual void OnTerminated() = 0;                                  // 4
};

// The module the recorder holds (driver object).
class IIPCapabilityQuery {
 public:
  virtual ~IIPCapabilityQuery() = default;  // 0
  virtual bool Start(const char* address, uint16_t port, const char* user, const char* password,
                     ICapabilityResultSink* sink) = 0;  // 1
  virtual void Terminate() = 0;                         // 2
};

}  // namespace korvela::ipcapture
