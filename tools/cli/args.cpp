#include "args.h"

#include <cerrno>
#include <cstdlib>

namespace veltrano_cli {

ArgParser& ArgParser::Flag(const std::string& name, const std::string& help) {
  if (specs_.emplace(name, OptionInfo{Kind::kFlag, help, ""}).second) order_.push_back(name);
  return *this;
}

ArgParser& ArgParser::Option(const std::string& name, const std::string& help,
                             const std::string& default_value) {
  if (specs_.emplace(name, OptionInfo{Kind::kValue, help, default_value}).second)
    order_.push_back(name);
  return *this;
}

ArgParser& ArgParser::Repeated(const std::string& name, const std::string& help) {
  if (specs_.emplace(name, OptionInfo{Kind::kRepeated, help, ""}).second) order_.push_back(name);
  return *this;
}

ArgParser& ArgParser::AllowPositional(bool allow) {
  allow_positional_ = allow;
  return *this;
}

const ArgParser::OptionInfo* ArgParser::Find(const std::string& name) const {
  auto it = specs_.find(name);
  return it == specs_.end() ? nullptr : &it->second;
}

bool ArgParser::Parse(const std::vector<std::string>& args) {
  values_.clear();
  positional_.clear();
  error_.clear();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      if (!allow_positional_ || (!arg.empty() && arg[0] == '-' && arg != "-")) {
        error_ = "unexpected argument '" + arg + "'";
        return false;
      }
      positional_.push_back(arg);
      continue;
    }
    std::string name = arg.substr(2);
    std::string value;
    bool inline_value = false;
    if (auto eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inline_value = true;
    }
    const OptionInfo* info = Find(name);
    if (info == nullptr) {
      error_ = "unknown option '--" + name + "'";
      return false;
    }
    if (info->kind == Kind::kFlag) {
      if (inline_value) {
        error_ = "option '--" + name + "' takes no value";
        return false;
      }
    } else if (!inline_value) {
      if (i + 1 >= args.size()) {
        error_ = "option '--" + name + "' needs a value";
        return false;
      }
      value = args[++i];
    }
    auto& slot = values_[name];
    if (info->kind != Kind::kRepeated && !slot.empty()) {
      error_ = "option '--" + name + "' given twice";
      return false;
    }
    slot.push_back(value);
  }
  return true;
}

bool ArgParser::Has(const std::string& name) const { return values_.count(name) != 0; }

std::string ArgParser::Get(const std::string& name) const {
  auto it = values_.find(name);
  if (it != values_.end() && !it->second.empty()) return it->second.back();
  const OptionInfo* info = Find(name);
  return info != nullptr ? info->default_value : std::string();
}

std::vector<std::string> ArgParser::GetAll(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? std::vector<std::string>() : it->second;
}

bool ArgParser::GetUint(const std::string& name, uint64_t min, uint64_t max, uint64_t* out) {
  const std::string text = Get(name);
  if (!ParseUint(text, min, max, out)) {
    error_ = "option '--" + name + "' wants a number from " + std::to_string(min) + " to " +
             std::to_string(max) + ", not '" + text + "'";
    return false;
  }
  return true;
}

bool ArgParser::GetDouble(const std::string& name, double min, double max, double* out) {
  const std::string text = Get(name);
  char* end = nullptr;
  errno = 0;
  const double v = text.empty() ? 0 : std::strtod(text.c_str(), &end);
  if (text.empty() || errno != 0 || end == nullptr || *end != '\0' || !(v >= min && v <= max)) {
    error_ = "option '--" + name + "' wants a number from " + std::to_string(min) + " to " +
             std::to_string(max) + ", not '" + text + "'";
    return false;
  }
  *out = v;
  return true;
}

std::string ArgParser::Help() const {
  std::string help;
  for (const auto& name : order_) {
    const OptionInfo& info = specs_.at(name);
    std::string left = "  --" + name + (info.kind == Kind::kFlag ? "" : " VALUE");
    if (left.size() < 24) left.resize(24, ' ');
    help += left + " " + info.help;
    if (!info.default_value.empty()) help += " (default " + info.default_value + ")";
    if (info.kind == Kind::kRepeated) help += " (repeatable)";
    help += "\n";
  }
  return help;
}

bool ParseUint(const std::string& text, uint64_t min, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  if (v < min || v > max) return false;
  *out = v;
  return true;
}

bool ParseParams(const std::vector<std::string>& items, std::map<uint32_t, std::string>* out,
                 std::string* error) {
  for (const auto& item : items) {
    const auto eq = item.find('=');
    uint64_t index = 0;
    if (eq == std::string::npos || !ParseUint(item.substr(0, eq), 1, UINT32_MAX, &index)) {
      *error = "--param wants N=VALUE with N a number from 1, not '" + item + "'";
      return false;
    }
    (*out)[static_cast<uint32_t>(index)] = item.substr(eq + 1);
  }
  return true;
}

void AddDeviceOptions(ArgParser& parser) {
  parser.Option("host", "device address (name or IPv4)")
      .Option("port", "device HTTP port", "80")
      .Option("user", "user name")
      .Option("password", "password (or set VELTRANO_PASSWORD)")
      .Repeated("param", "camera parameter N=VALUE as the recorder stores it");
}

bool ReadDeviceOptions(ArgParser& parser, DeviceOptions* out, std::string* error) {
  out->host = parser.Get("host");
  if (out->host.empty()) {
    *error = "--host is required";
    return false;
  }
  uint64_t port = 0;
  if (!parser.GetUint("port", 1, 65535, &port)) {
    *error = parser.error();
    return false;
  }
  out->port = static_cast<uint16_t>(port);
  out->user = parser.Get("user");
  if (parser.Has("password")) {
    out->password = parser.Get("password");
  } else if (const char* env = std::getenv("VELTRANO_PASSWORD"); env != nullptr) {
    out->password = env;
  }
  return ParseParams(parser.GetAll("param"), &out->params, error);
}

}  // namespace veltrano_cli
