#include "core/camera_parameters.h"

#include <limits>

#include "core/idriver.h"

namespace korvela {
namespace {

// scanf's %u: optional blanks, an optional '+', one or more digits. A '-'
// (which scanf would wrap to a huge count) and overflow are refused.
bool ScanUnsigned(std::string_view& text, uint32_t* out) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                             text[i] == '\r' || text[i] == '\v' || text[i] == '\f'))
    ++i;
  if (i < text.size() && text[i] == '+') ++i;
  const size_t first_digit = i;
  uint64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > std::numeric_limits<uint32_t>::max()) return false;
    ++i;
  }
  if (i == first_digit) return false;
  *out = static_cast<uint32_t>(value);
  text.remove_prefix(i);
  return true;
}

// A blank in a scanf format matches any run of white space, also none.
void SkipBlanks(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                           text.front() == '\r' || text.front() == '\v' || text.front() == '\f'))
    text.remove_prefix(1);
}

bool Expect(std::string_view& text, std::string_view literal) {
  if (text.substr(0, literal.size()) != literal) return false;
  text.remove_prefix(literal.size());
  return true;
}

}  // namespace

std::optional<int32_t> ParseParameterNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return std::nullopt;  // a sign alone
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(value);
}

uint32_t ParseAudioChannelCount(std::string_view text) {
  uint32_t count = 0;
  uint32_t stereo = 0;
  if (!Expect(text, "Count=") || !ScanUnsigned(text, &count)) return 0;
  if (!Expect(text, ";")) return 0;
  SkipBlanks(text);
  if (!Expect(text, "IsStereo=") || !ScanUnsigned(text, &stereo)) return 0;
  return count;
}

std::string CameraParameters::Get(uint32_t index) const {
  auto it = texts_.find(index);
  if (it == texts_.end() || it->second == kParameterNone) return {};
  return it->second;
}

int32_t CameraParameters::GetInt(uint32_t index) const {
  auto it = texts_.find(index);
  if (it == texts_.end()) return kParameterNotANumber;
  return ParseParameterNumber(it->second).value_or(kParameterNotANumber);
}

uint32_t ParseCameraGroup(std::string_view text) {
  const std::optional<int32_t> value = ParseParameterNumber(text);
  return value.has_value() && *value > 0 ? static_cast<uint32_t>(*value) : 0;
}

}  // namespace korvela
