#include "recorder/device_setup.h"

#include <utility>

namespace korvela::recorder {

void DeviceSetup::FillReferenceParameters(std::map<uint32_t, std::string>& parameters) {
  using namespace ipcapture;
  parameters[kParamVideoStandard] = "0";
  parameters[kParamRtspPort] = "554";
  parameters[kParamCameraGroup] = "0";
  parameters[kParamFirmwareVersion] = "(none)";
  parameters[kParamMacAddress] = "(none)";
  parameters[kParamMaximumResolution] = "1280x1024";
  parameters[kParamPrivacyZones] = "0";
  parameters[kParamAudioBitRate] = "(none)";
}

std::vector<std::string> DeviceSetup::calls() const {
  MutexLock lock(mutex_);
  return calls_;
}

void DeviceSetup::Record(std::string call) {
  MutexLock lock(mutex_);
  calls_.push_back(std::move(call));
}

ipcapture::IDeviceDescription* DeviceSetup::GetDescription() {
  Record("Setup.GetDescription");
  return this;
}

ipcapture::IConnectionSettings* DeviceSetup::GetConnection() {
  Record("Setup.GetConnection");
  return this;
}

const char* DeviceSetup::GetParameter(uint32_t index) {
  Record("Setup.GetParameter(" + std::to_string(index) + ")");
  auto it = parameters.find(index);
  return it == parameters.end() ? nullptr : it->second.c_str();
}

const char* DeviceSetup::GetModel() {
  Record("Description.GetModel");
  return model.c_str();
}

uint32_t DeviceSetup::GetChannelCount() {
  Record("Description.GetChannelCount");
  return channel_count;
}

uint32_t DeviceSetup::GetDigitalInputCount() {
  Record("Description.GetDigitalInputCount");
  return input_count;
}

uint32_t DeviceSetup::GetDigitalOutputCount() {
  Record("Description.GetDigitalOutputCount");
  return output_count;
}

const char* DeviceSetup::GetAddress() {
  Record("Connection.GetAddress");
  return address.c_str();
}

uint16_t DeviceSetup::GetPort() {
  Record("Connection.GetPort");
  return port;
}

uint32_t DeviceSetup::GetStreamType() {
  Record("Connection.GetStreamType");
  return stream_type;
}

const char* DeviceSetup::GetUserName() {
  Record("Connection.GetUserName");
  return user_name.c_str();
}

const char* DeviceSetup::GetPassword() {
  Record("Connection.GetPassword");
  return password.c_str();
}

}  // namespace korvela::recorder
