// ICameraOidDevice over the properties' own HTTP sender and the OID request
// functions.
//
// Threading: the query's thread makes every request; Abort may come from any
// thread and stops the sender, so a request blocked in the transport returns
// at once and every later one fails without reaching the device.
#pragma once

#include <memory>
#include <string>

#include "core/device_info.h"
#include "device/camera_properties_device.h"

namespace korvela {

namespace Web {
class CHttpSender;
}

class CHttpOidDevice : public ICameraOidDevice {
 public:
  explicit CHttpOidDevice(const DEVICE_INFO& device);
  ~CHttpOidDevice() override;

  uint32_t GetStatus(const std::string& path) override;
  std::string GetOid(const std::string& oids) override;
  bool GetBody(const std::string& path, std::string& body) override;
  void SendWithoutAnswer(const std::string& path) override;
  void Abort() override;

 private:
  const std::unique_ptr<Web::CHttpSender> sender_;
};

}  // namespace korvela
