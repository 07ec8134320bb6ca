// Command-line options the veltrano commands share, declared on CLI11 apps,
// and the checks their values need beyond CLI11's own: strict decimal
// numbers, picture sizes, camera parameter items.
//
// Threading: used on the main thread only.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

namespace veltrano_cli {

// A number from min to max in strict decimal (digits only).
bool ParseDecimal(const std::string& text, uint64_t min, uint64_t max, uint64_t* out);

// Decimal digits only: "12", not "+12", " 12" or "0x0c" (CLI11 alone takes
// C notation, so "010" would be 8). A transform: give it before a
// CLI::Range check.
CLI::Validator Decimal();

// Refuses an empty value.
CLI::Validator NotEmpty();

// "WxH" with width and height from 1 to 65535.
bool ParseSize(const std::string& text, uint32_t* width, uint32_t* height);
CLI::Validator SizeValidator();

// What every device command needs: where the device is and how to log in.
struct DeviceOptions {
  std::string host;
  uint16_t port = 80;
  std::string user;
  std::string password;
  std::map<uint32_t, std::string> params;  // a later --param for the same N wins
};

// Declares --host (required, not empty), --port, --user, --password and
// repeatable --param N=VALUE (N from 1, VALUE any text). The password may
// instead come from the environment variable VELTRANO_PASSWORD, which keeps
// it out of the process list.
void AddDeviceOptions(CLI::App& app, DeviceOptions& out);

// The (sub)command's usage error: "<prefix>: <message>" and its help on
// stderr; returns the usage exit code.
int UsageError(const CLI::App& app, const std::string& prefix, const std::string& message);

}  // namespace veltrano_cli
