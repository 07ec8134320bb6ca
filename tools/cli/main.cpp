#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "command.h"
#include "options.h"

namespace veltrano_cli {

std::vector<Command>& Commands() {
  static std::vector<Command> commands;
  return commands;
}

int RunCommandLine(const std::vector<std::string>& args) {
  CLI::App app{"veltrano: the command-line host of libveltrano.so", "veltrano"};
  app.require_subcommand(1);
  std::vector<std::pair<CLI::App*, std::function<int()>>> runs;
  for (const Command& c : Commands()) {
    CLI::App* sub = app.add_subcommand(c.name, c.summary);
    runs.emplace_back(sub, c.setup(*sub));
  }
  app.footer("'veltrano <command> --help' shows a command's options.");
  if (args.empty()) return UsageError(app, "veltrano", "no command given");
  const bool known = std::any_of(runs.begin(), runs.end(),
                                 [&](const auto& run) { return run.first->check_name(args[0]); });
  if (!known && !args[0].starts_with("-"))
    return UsageError(app, "veltrano", "unknown command '" + args[0] + "'");

  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);  // the selected command's help
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    const std::vector<CLI::App*> selected = app.get_subcommands();
    const CLI::App& failed = selected.empty() ? app : *selected.front();
    const std::string prefix =
        selected.empty() ? std::string("veltrano") : "veltrano " + failed.get_name();
    return UsageError(failed, prefix, e.what());
  }
  for (const auto& [sub, run] : runs) {
    if (sub->parsed()) return run();
  }
  return UsageError(app, "veltrano", "no command given");
}

}  // namespace veltrano_cli

int main(int argc, char** argv) {
  return veltrano_cli::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc));
}
