#include "oid_store.h"

#include <algorithm>
#include <charconv>

namespace camsim {
namespace {

constexpr std::string_view kUnknownOid = "ERROR: unknown OID";
constexpr std::string_view kPrivacyTable = "1.2.26.1.";

std::vector<std::string_view> SplitItems(std::string_view query) {
  std::vector<std::string_view> items;
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view item = query.substr(0, amp);
    if (!item.empty()) items.push_back(item);
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return items;
}

bool ParseUnsigned(std::string_view text, unsigned long max, unsigned long* out = nullptr) {
  if (text.empty()) return false;
  unsigned long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v > max) return false;
  if (out) *out = v;
  return true;
}

bool OneOf(std::string_view value, std::initializer_list<std::string_view> allowed) {
  for (auto a : allowed) {
    if (value == a) return true;
  }
  return false;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string UnescapeQueryItem(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += char(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else if (text[i] == '+') {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string XmpPage(std::string_view text) {
  std::string page = "<html>\r\n<head><title>OID</title></head>\r\n<body>\r\n<xmp>";
  page += text;
  page += "</xmp>\r\n</body>\r\n</html>\r\n";
  return page;
}

OidStore::OidStore(ModelSpec model_spec, std::string mac_address, uint16_t rtsp_port)
    : spec_(std::move(model_spec)) {
  auto& v = values_;
  v["2.27"] = spec_.device_name;
  v["2.8"] = spec_.name;
  v["2.7"] = mac_address;
  v["2.5"] = spec_.firmware;
  v["1.2.7"] = "70";
  v["1.2.31"] = "100";
  v["1.2.20.5"] = std::to_string(spec_.max_width);
  v["1.2.20.6"] = std::to_string(spec_.max_height);
  v["1.2.6.1"] = "0";
  v["1.2.6.2"] = std::to_string(spec_.max_width);
  v["1.2.6.3"] = std::to_string(spec_.max_height);
  v["1.2.6.4"] = "0";
  if (spec_.has_modes) v["1.17.2.6"] = spec_.default_mode;
  v["1.17.6"] = spec_.h264 ? "enabled" : "disabled";
  v["1.17.3.1"] = std::to_string(rtsp_port);
  if (spec_.h264) {
    v["1.17.2.2"] = "4000";
    v["1.17.2.4"] = "30";
    v["1.17.2.7"] = "vbr";
    v["1.17.2.10"] = "30";
  }
  v["1.17.2.19.3.2"] = "1";
  // Cameras without the I/O connector still know the objects and say so.
  v["1.3.15"] = spec_.io ? "OPEN" : "disabled";
  v["1.3.5.1"] = spec_.io ? "OPEN" : "disabled";
  if (spec_.privacy) {
    v["1.2.26.5"] = std::to_string(spec_.privacy_zone_count);
    v["1.2.26.4"] = "OFF";
    for (int edge = 1; edge <= 4; ++edge) {
      for (int zone = 1; zone <= spec_.privacy_zone_count; ++zone) {
        v[std::string(kPrivacyTable) + std::to_string(edge) + "." + std::to_string(zone)] = "0";
      }
    }
  }
  if (spec_.audio) {
    v["1.17.1.2"] = "64";
    v["1.9.5"] = "disabled";  // factory setting: microphone off
    v["1.9.6"] = "enabled";
    v["1.9.7"] = "half";
    v["1.9.10"] = "plume";
  }
}

std::optional<std::string> OidStore::Read(std::string_view oid) const {
  korvela::MutexLock lock(mu_);
  const auto it = values_.find(oid);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void OidStore::Force(std::string_view oid, std::string_view value) {
  korvela::MutexLock lock(mu_);
  values_[std::string(oid)] = std::string(value);
}

std::optional<std::string> OidStore::ValidateWrite(std::string_view oid,
                                                   std::string_view value) const {
  if (values_.find(oid) == values_.end()) return std::string(kUnknownOid);
  if (value.size() > kMaxValueLength) return "ERROR: value too long";
  if (OneOf(oid, {"2.8", "2.7", "2.5", "1.2.20.5", "1.2.20.6", "1.17.6", "1.17.3.1", "1.3.15",
                  "1.2.26.5"})) {
    return "ERROR: read-only OID";
  }
  if (oid == "1.17.2.6") {
    if (!FindMode(spec_, value)) return "ERROR: invalid video mode";
    return std::nullopt;
  }
  if (oid == "1.2.7") {
    unsigned long q = 0;
    if (!ParseUnsigned(value, 100, &q) || q == 0) return "ERROR: quality out of range";
    return std::nullopt;
  }
  if (OneOf(oid, {"1.2.31", "1.17.2.4", "1.17.2.10", "1.17.2.19.3.2"})) {
    if (!ParseUnsigned(value, 60000)) return "ERROR: invalid interval";
    return std::nullopt;
  }
  if (OneOf(oid, {"1.2.6.1", "1.2.6.2"})) {
    if (!ParseUnsigned(value, spec_.max_width)) return "ERROR: out of range";
    return std::nullopt;
  }
  if (OneOf(oid, {"1.2.6.3", "1.2.6.4"})) {
    if (!ParseUnsigned(value, spec_.max_height)) return "ERROR: out of range";
    return std::nullopt;
  }
  if (oid == "1.17.2.2") {
    if (!ParseUnsigned(value, 20000)) return "ERROR: invalid bit rate";
    return std::nullopt;
  }
  if (oid == "1.17.1.2") {
    if (!ParseUnsigned(value, 128)) return "ERROR: invalid bit rate";
    return std::nullopt;
  }
  if (oid == "1.17.2.7") {
    if (!OneOf(value, {"cbr", "vbr"})) return "ERROR: invalid rate control";
    return std::nullopt;
  }
  if (oid == "1.3.5.1") {
    if (!spec_.io) return "ERROR: no digital output";
    if (!OneOf(value, {"OPEN", "CLOSED"})) return "ERROR: invalid output state";
    return std::nullopt;
  }
  if (oid == "1.2.26.4") {
    if (!OneOf(value, {"ON", "OFF"})) return "ERROR: invalid switch value";
    return std::nullopt;
  }
  if (oid.starts_with(kPrivacyTable)) {
    if (!ParseUnsigned(value, std::max(spec_.max_width, spec_.max_height))) {
      return "ERROR: out of range";
    }
    return std::nullopt;
  }
  if (OneOf(oid, {"1.9.5", "1.9.6"})) {
    if (!OneOf(value, {"enabled", "disabled"})) return "ERROR: invalid state";
    return std::nullopt;
  }
  if (oid == "1.9.7") {
    if (!OneOf(value, {"full", "half"})) return "ERROR: invalid duplex mode";
    return std::nullopt;
  }
  if (oid == "1.9.10") {
    for (char c : value) {
      if (c <= ' ' || c > '~' || c == ':') return "ERROR: invalid password";
    }
    return std::nullopt;
  }
  return std::nullopt;  // device name and other free texts
}

OidStore::WriteResult OidStore::Write(std::string_view oid, std::string_view value) {
  korvela::MutexLock lock(mu_);
  if (auto error = ValidateWrite(oid, value)) return {false, *error};
  values_[std::string(oid)] = std::string(value);
  return {true, {}};
}

std::string OidStore::GetPage(std::string_view query) const {
  const auto items = SplitItems(query);
  if (items.empty()) return XmpPage("ERROR: no OID given");
  if (items.size() == 1) {
    const std::string oid = UnescapeQueryItem(items[0]);
    return XmpPage(Read(oid).value_or(std::string(kUnknownOid)));
  }
  std::string text;
  for (auto item : items) {
    const std::string oid = UnescapeQueryItem(item);
    text += oid + "=" + Read(oid).value_or(std::string(kUnknownOid)) + "\r\n";
  }
  return XmpPage(text);
}

std::string OidStore::SetPage(std::string_view query, std::vector<OidWrite>* writes) {
  std::string text;
  size_t count = 0;
  for (auto raw : SplitItems(query)) {
    if (++count > kMaxItemsPerRequest) {
      text += "ERROR: too many items\r\n";
      break;
    }
    const std::string item = UnescapeQueryItem(raw);
    const size_t eq = item.find('=');
    const std::string name = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    OidWrite record{name, value, false};
    std::string error;
    if (name.starts_with("OidTR") || name.starts_with("OidTB")) {
      record.oid = name.substr(5);
      const auto result = Write(record.oid, value);
      record.accepted = result.accepted;
      error = result.error;
    } else {
      error = "ERROR: item without OidTR/OidTB prefix";
    }
    text += record.oid + "=" + (record.accepted ? value : error) + "\r\n";
    if (writes) writes->push_back(std::move(record));
  }
  if (count == 0) text = "ERROR: nothing to set";
  return XmpPage(text);
}

}  // namespace camsim
