// The recorder's device setup: description, connection and camera parameters
// handed to the driver's Open.
//
// Threading: fill the public fields before Open, then leave them alone; the
// driver reads them on the thread that calls Open. Every call the driver makes
// is appended to calls() (guarded by mutex_), so tests can check the order in
// which Open reads the setup.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "korvela/ipcapture.h"

#include "util/cond_var.h"
#include "util/mutex.h"

namespace korvela::recorder {

class DeviceSetup final : public ipcapture::IDeviceSetup,
                          private ipcapture::IDeviceDescription,
                          private ipcapture::IConnectionSettings {
 public:
  DeviceSetup() = default;
  DeviceSetup(const DeviceSetup&) = delete;
  DeviceSetup& operator=(const DeviceSetup&) = delete;

  // Description.
  std::string model;
  uint32_t channel_count = 1;
  uint32_t input_count = 0;
  uint32_t output_count = 0;
  // Connection.
  std::string address;
  uint16_t port = 80;
  uint32_t stream_type = ipcapture::kStreamMjpegHttp;
  std::string user_name;
  std::string password;
  // Camera parameters by index (from 1); GetParameter returns null for a
  // missing index.
  std::map<uint32_t, std::string> parameters;

  // A setup as a recorder would give for a found IQeye camera: parameters
  // 1..8 as the capability query reports them.
  static void FillReferenceParameters(std::map<uint32_t, std::string>& parameters);

  // "Connection.GetStreamType", "Description.GetModel",
  // "Setup.GetParameter(7)", ... in call order.
  std::vector<std::string> calls() const;

  // IDeviceSetup
  ipcapture::IDeviceDescription* GetDescription() override;
  ipcapture::IConnectionSettings* GetConnection() override;
  const char* GetParameter(uint32_t index) override;

 private:
  // IDeviceDescription
  const char* GetModel() override;
  uint32_t GetChannelCount() override;
  uint32_t GetDigitalInputCount() override;
  uint32_t GetDigitalOutputCount() override;
  // IConnectionSettings
  const char* GetAddress() override;
  uint16_t GetPort() override;
  uint32_t GetStreamType() override;
  const char* GetUserName() override;
  const char* GetPassword() override;

  void Record(std::string call);

  mutable Mutex mutex_;
  std::vector<std::string> calls_ GUARDED_BY(mutex_);
};

}  // namespace korvela::recorder
