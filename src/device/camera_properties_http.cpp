#include "device/camera_properties_http.h"

#include <vector>

#include "device/http_sender.h"
#include "device/oid_request.h"

namespace korvela {

CHttpOidDevice::CHttpOidDevice(const DEVICE_INFO& device)
    : sender_(std::make_unique<Web::CHttpSender>(device)) {}

CHttpOidDevice::~CHttpOidDevice() = default;

uint32_t CHttpOidDevice::GetStatus(const std::string& path) {
  // Judged by the status alone; a failed request leaves the last one.
  static_cast<void>(sender_->SendRequest(Web::HttpRequest("GET", path)));
  const uint32_t status = sender_->GetStatusCode();
  sender_->CloseRequest();
  return status;
}

std::string CHttpOidDevice::GetOid(const std::string& oids) {
  return HUtils::GetOid(*sender_, oids);
}

bool CHttpOidDevice::GetBody(const std::string& path, std::string& body) {
  std::vector<uint8_t> bytes;
  const bool ok = HUtils::RequestGetBody(path, bytes, *sender_);
  body.assign(bytes.begin(), bytes.end());
  return ok;
}

void CHttpOidDevice::SendWithoutAnswer(const std::string& path) {
  static_cast<void>(HUtils::SendGet(path, *sender_));
  sender_->CloseRequest();
}

// Stops rather than closes: a close that lands between two requests would be
// overtaken by the next one, which then waits out the device time-out. The
// properties make one query in their life, so nothing is allowed again.
void CHttpOidDevice::Abort() { sender_->StopRequests(); }

}  // namespace korvela
