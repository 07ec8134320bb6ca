#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"

namespace veltrano_cli {

std::vector<Command>& Commands() {
  static std::vector<Command> commands;
  return commands;
}

}  // namespace veltrano_cli

namespace {

void PrintUsage() {
  std::fprintf(stderr, "usage: veltrano <command> [options]\n\ncommands:\n");
  for (const auto& c : veltrano_cli::Commands())
    std::fprintf(stderr, "  %-8s %s\n", c.name, c.summary);
  std::fprintf(stderr, "\n'veltrano <command> --help' shows a command's options.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage();
    return argc < 2 ? veltrano_cli::kExitUsage : veltrano_cli::kExitOk;
  }
  for (const auto& c : veltrano_cli::Commands()) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& a : args) {
      if (a == "--help" || a == "-h") {
        std::fprintf(stdout, "usage: veltrano %s %s\n", c.name, c.usage);
        return veltrano_cli::kExitOk;
      }
    }
    return c.run(args);
  }
  std::fprintf(stderr, "veltrano: unknown command '%s'\n", argv[1]);
  PrintUsage();
  return veltrano_cli::kExitUsage;
}
