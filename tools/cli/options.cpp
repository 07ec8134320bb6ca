#include "options.h"

#include <algorithm>
#include <cstdio>

#include "command.h"
#include "util/ascii.h"

namespace veltrano_cli {
namespace {

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), korvela::IsAsciiDigit);
}

}  // namespace

bool ParseDecimal(const std::string& text, uint64_t min, uint64_t max, uint64_t* out) {
  if (!AllDigits(text)) return false;
  uint64_t value = 0;
  for (char c : text) {
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (digit > max || value > (max - digit) / 10) return false;
    value = value * 10 + digit;
  }
  if (value < min) return false;
  *out = value;
  return true;
}

namespace {

// "N=VALUE" with N from 1.
bool ParseParam(const std::string& item, uint32_t* index, std::string* value) {
  const size_t eq = item.find('=');
  uint64_t n = 0;
  if (eq == std::string::npos || !ParseDecimal(item.substr(0, eq), 1, UINT32_MAX, &n)) return false;
  *index = static_cast<uint32_t>(n);
  *value = item.substr(eq + 1);
  return true;
}

}  // namespace

CLI::Validator Decimal() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (!AllDigits(text)) return "not a decimal number: '" + text + "'";
        text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
        return {};
      },
      "", "decimal");
}

CLI::Validator NotEmpty() {
  return CLI::Validator(
      [](const std::string& text) -> std::string {
        return text.empty() ? "must not be empty" : "";
      },
      "", "not empty");
}

bool ParseSize(const std::string& text, uint32_t* width, uint32_t* height) {
  const size_t x = text.find('x');
  uint64_t w = 0, h = 0;
  if (x == std::string::npos || !ParseDecimal(text.substr(0, x), 1, 65535, &w) ||
      !ParseDecimal(text.substr(x + 1), 1, 65535, &h)) {
    return false;
  }
  *width = static_cast<uint32_t>(w);
  *height = static_cast<uint32_t>(h);
  return true;
}

CLI::Validator SizeValidator() {
  return CLI::Validator(
      [](const std::string& text) -> std::string {
        uint32_t w = 0, h = 0;
        return ParseSize(text, &w, &h) ? "" : "must be WxH, e.g. 1280x1024, not '" + text + "'";
      },
      "WxH", "picture size");
}

void AddDeviceOptions(CLI::App& app, DeviceOptions& out) {
  app.add_option("--host", out.host, "device address (name or IPv4)")
      ->required()
      ->check(NotEmpty());
  app.add_option("--port", out.port, "device HTTP port")
      ->transform(Decimal())
      ->check(CLI::Range(1, 65535))
      ->capture_default_str();
  app.add_option("--user", out.user, "user name");
  app.add_option("--password", out.password, "password")->envname("VELTRANO_PASSWORD");
  app.add_option("--param", "camera parameter N=VALUE as the recorder stores it (repeatable)")
      ->type_name("N=VALUE")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(CLI::Validator(
          [](const std::string& item) -> std::string {
            uint32_t index = 0;
            std::string value;
            return ParseParam(item, &index, &value) ? "" : "wants N=VALUE with N a number from 1";
          },
          "", "camera parameter"))
      ->each([&out](const std::string& item) {
        uint32_t index = 0;
        std::string value;
        if (ParseParam(item, &index, &value)) out.params[index] = std::move(value);
      });
}

int UsageError(const CLI::App& app, const std::string& prefix, const std::string& message) {
  // A subcommand's usage line names the program too.
  const CLI::App* parent = app.get_parent();
  const std::string help = parent != nullptr ? app.help(parent->get_name()) : app.help();
  std::fprintf(stderr, "%s: %s\n%s", prefix.c_str(), message.c_str(), help.c_str());
  return kExitUsage;
}

}  // namespace veltrano_cli
