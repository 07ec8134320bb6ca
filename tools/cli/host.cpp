#include "host.h"

#include <cstdio>

#include "device/http_sender.h"
#include "device/oid_request.h"
#include "platform/net_error.h"

namespace veltrano_cli {

CliHost::~CliHost() { Close(); }

bool CliHost::Load(std::string* error) {
  if (library_.loaded()) return true;
  if (!library_.Load()) {
    *error = "cannot load the driver library: " + library_.error();
    return false;
  }
  return true;
}

bool CliHost::Open(const DeviceOptions& options, uint32_t stream_type, const std::string& model,
                   std::string* error) {
  Close();
  if (!Load(error)) return false;
  setup_.model = model;
  setup_.address = options.host;
  setup_.port = options.port;
  setup_.user_name = options.user;
  setup_.password = options.password;
  setup_.stream_type = stream_type;
  setup_.parameters.clear();
  korvela::recorder::DeviceSetup::FillReferenceParameters(setup_.parameters);
  for (const auto& [index, text] : options.params) setup_.parameters[index] = text;

  driver_ = std::make_unique<korvela::recorder::DriverHandle>(library_.exports());
  if (!*driver_) {
    driver_.reset();
    *error = "the driver library could not create a driver";
    return false;
  }
  if (!(*driver_)->Open(&sink_, &allocator_, &setup_)) {
    driver_.reset();
    *error = "the driver refused to open (check --param values)";
    return false;
  }
  return true;
}

void CliHost::Close() { driver_.reset(); }

std::string DeviceFailureCause(const DeviceOptions& device) {
  korvela::DEVICE_INFO info;
  info.address = device.host;
  info.port = device.port;
  info.user_name = device.user;
  info.password = device.password;
  korvela::Web::CHttpSender sender(info);
  const korvela::Web::CResultDef result = korvela::HUtils::RequestStatus("/", sender);
  if (result.cause != korvela::platform::NetError::kNone)
    return korvela::platform::NetErrorText(result.cause);
  if (result.code != korvela::HUtils::kCodeOk)
    return "status code " + std::to_string(sender.GetStatusCode());
  return "the device answers, but not as the driver expects";
}

int ReportDeviceFailure(const char* command, int exit_code, const DeviceOptions& device) {
  std::fprintf(stderr, "veltrano %s: device failed (exit %d): %s\n", command, exit_code,
               DeviceFailureCause(device).c_str());
  return exit_code;
}

}  // namespace veltrano_cli
