// Sub-commands of the `veltrano` program register themselves with
// VELTRANO_COMMAND in their own source file, so adding a command touches no
// other file. Each declares its options on its own CLI11 subcommand.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace veltrano_cli {

// Exit codes shared by all commands.
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 2,         // bad command line
  kExitLoadFailed = 3,    // libveltrano.so could not be loaded
  kExitDeviceFailed = 4,  // the device refused, failed or could not be reached
  kExitDataFailed = 5,    // the device answered but delivered nothing usable
  kExitIoFailed = 6,      // a local file could not be read or written
};

struct Command {
  const char* name;
  const char* summary;
  // Declares the command's options on `app`, bound to state the returned
  // function owns; that function runs the command once the line parsed.
  std::function<int()> (*setup)(CLI::App& app);
};

std::vector<Command>& Commands();

struct CommandRegistration {
  explicit CommandRegistration(const Command& c) { Commands().push_back(c); }
};

// Runs `veltrano <args>` (args[0] names the command): prints the help or a
// usage error when asked for or when the line does not parse, otherwise
// runs the command. Returns the exit code.
int RunCommandLine(const std::vector<std::string>& args);

}  // namespace veltrano_cli

#define VELTRANO_COMMAND(ident, ...)                                      \
  static const ::veltrano_cli::CommandRegistration ident##_registration { \
    ::veltrano_cli::Command { __VA_ARGS__ }                               \
  }
