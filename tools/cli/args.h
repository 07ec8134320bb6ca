// Command-line options of the veltrano sub-commands.
//
// ArgParser knows the options a command declares: flags (--name), options with
// a value (--name V or --name=V) and repeatable options (--param 1=0 --param
// 7=1). Anything else is an error with a message for the user; nothing exits
// the process. Positional arguments are collected when allowed.
//
// Threading: used on the main thread only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace veltrano_cli {

class ArgParser {
 public:
  ArgParser& Flag(const std::string& name, const std::string& help);
  ArgParser& Option(const std::string& name, const std::string& help,
                    const std::string& default_value = "");
  ArgParser& Repeated(const std::string& name, const std::string& help);
  ArgParser& AllowPositional(bool allow = true);

  // False with error() on an unknown option, a missing value, a repeated
  // single option or an unexpected positional argument.
  bool Parse(const std::vector<std::string>& args);

  bool Has(const std::string& name) const;
  // The value given, or the declared default.
  std::string Get(const std::string& name) const;
  std::vector<std::string> GetAll(const std::string& name) const;
  // A decimal number within [min, max]; the default when the option is
  // absent. False with error() for anything else ("12x", "", "-1").
  bool GetUint(const std::string& name, uint64_t min, uint64_t max, uint64_t* out);
  bool GetDouble(const std::string& name, double min, double max, double* out);

  const std::vector<std::string>& positional() const { return positional_; }
  const std::string& error() const { return error_; }
  // One line per option: "  --name VALUE  help".
  std::string Help() const;

 private:
  enum class Kind { kFlag, kValue, kRepeated };
  struct OptionInfo {
    Kind kind;
    std::string help;
    std::string default_value;
  };
  const OptionInfo* Find(const std::string& name) const;

  std::map<std::string, OptionInfo> specs_;
  std::vector<std::string> order_;
  bool allow_positional_ = false;
  std::map<std::string, std::vector<std::string>> values_;
  std::vector<std::string> positional_;
  std::string error_;
};

// Strict decimal parse of an unsigned number (no sign, no blanks, no
// suffix), within [min, max].
bool ParseUint(const std::string& text, uint64_t min, uint64_t max, uint64_t* out);

// "--param N=V" items into camera parameters: N a number from 1, V any text
// (may be empty or contain '='). A later item for the same N wins.
bool ParseParams(const std::vector<std::string>& items, std::map<uint32_t, std::string>* out,
                 std::string* error);

// What every device command needs: where the device is and how to log in.
struct DeviceOptions {
  std::string host;
  uint16_t port = 80;
  std::string user;
  std::string password;
  std::map<uint32_t, std::string> params;
};

// Declares --host (required by ReadDeviceOptions), --port, --user, --password
// and repeated --param. The password may instead come from the environment
// variable VELTRANO_PASSWORD, which keeps it out of the process list.
void AddDeviceOptions(ArgParser& parser);
bool ReadDeviceOptions(ArgParser& parser, DeviceOptions* out, std::string* error);

}  // namespace veltrano_cli
