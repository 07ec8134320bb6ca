#include "device/digital_io.h"

#include <string_view>
#include <vector>

#include "device/digital_io_protocol.h"
#include "device/oid_request.h"

namespace korvela {
namespace {

DEVICE_INFO DeviceOf(IDriver* driver) {
  const DEVICE_INFO* info = driver != nullptr ? driver->GetDeviceInfo() : nullptr;
  return info != nullptr ? *info : DEVICE_INFO();
}

}  // namespace

CQuarnoDigitalIO::CQuarnoDigitalIO(IDriver* driver)
    : CIOBase(driver), input_sender_(DeviceOf(driver)), output_sender_(DeviceOf(driver)) {}

CQuarnoDigitalIO::~CQuarnoDigitalIO() { StopThreads(); }

bool CQuarnoDigitalIO::Start() {
  if (!input_sender_.Usable() || !output_sender_.Usable()) {
    if (driver() != nullptr) {
      driver()->Message(1, "%s: Digital I/O of %s not started: no link to the device",
                        "korvela::CQuarnoDigitalIO::Start", input_sender_.GetAddress().c_str());
    }
    return false;
  }
  return CIOBase::Start();
}

bool CQuarnoDigitalIO::PollInputs(uint32_t /*count*/) {
  std::vector<uint8_t> body;
  if (HUtils::RequestGet(std::string(kInputPollPath), body, input_sender_)) {
    const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
    const uint32_t state = ParseInputReply(text);
    if (state != kInputUndetermined) {
      UpdateInput(0, state);
      return true;
    }
  }
  UpdateInput(0, kInputUndetermined);
  return false;
}

bool CQuarnoDigitalIO::WriteOutput(uint32_t output, uint32_t state) {
  if (output != 0) return false;
  // Judged by the status code: a write the camera refused (401, 404, 500)
  // is a failure, so the next command for the output is written again.
  return HUtils::RequestStatus(BuildOutputWritePath(state), output_sender_).code == HUtils::kCodeOk;
}

void CQuarnoDigitalIO::AbortRequests() {
  input_sender_.StopRequests();
  output_sender_.StopRequests();
}

void CQuarnoDigitalIO::AllowRequests() {
  input_sender_.AllowRequests();
  output_sender_.AllowRequests();
}

}  // namespace korvela
