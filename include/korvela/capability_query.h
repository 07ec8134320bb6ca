// Capability query: the recorder's result sink and completion callback, and
// the module interface the recorder holds.
//
// The sink and callback are recorder objects, called from the module's worker
// thread. Slot numbers are the contract (slot 0 is the virtual destructor);
// ReservedN() keeps the following slots at their numbers and is never called.
#pragma once

#include <cstdint>

namespace korvela::ipcapture {

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

// The recorder's result sink given to Start. Getters return null when the
// recorder has no such object; the driver then skips the step.
class ICapabilityResultSink {
 public:
  virtual ~ICapabilityResultSink() = default;                       // 0
  virtual void SetCapability(uint32_t number, uint32_t value) = 0;  // 1
  virtual void SetName(const char* name) = 0;                       // 2
  // i: 1 address, 2 port, 3 user name, 4 password.
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
