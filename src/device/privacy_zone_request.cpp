#include "device/privacy_zone_request.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

namespace korvela {
namespace {

// atoi without its undefined overflow: optional blanks, optional sign, digits;
// stops at the first other character; saturates at the int range.
int LeadingInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int>::max()) + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return static_cast<int>(-value);
  return static_cast<int>(std::min<int64_t>(value, std::numeric_limits<int>::max()));
}

void AppendItem(std::string& path, std::string_view oid, uint32_t n, int value, bool last) {
  char item[96];
  std::snprintf(item, sizeof(item), "OidTB%.*s.%u=%d%s", static_cast<int>(oid.size()), oid.data(),
                n, value, last ? "" : "&");
  path += item;
}

}  // namespace

bool SameZone(const PrivacyZoneRecord& a, const PrivacyZoneRecord& b) {
  auto bits = [](float f) { return std::bit_cast<uint32_t>(f); };
  return a.attribute1 == b.attribute1 && a.attribute2 == b.attribute2 && a.enabled == b.enabled &&
         bits(a.left) == bits(b.left) && bits(a.top) == bits(b.top) &&
         bits(a.right) == bits(b.right) && bits(a.bottom) == bits(b.bottom);
}

PictureSize ParseMaximumResolution(std::string_view text) {
  // Split at every 'x' like a line reader: a trailing 'x' adds no piece.
  size_t pieces = 0;
  size_t start = 0;
  std::string_view first;
  std::string_view second;
  while (start < text.size()) {
    size_t end = text.find('x', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view piece = text.substr(start, end - start);
    if (pieces == 0) first = piece;
    if (pieces == 1) second = piece;
    ++pieces;
    start = end + 1;
  }
  if (pieces != 2) return {};
  return {LeadingInt(first), LeadingInt(second)};
}

int PercentToPixels(int extent, float percent) {
  float p = percent;
  if (std::isnan(p) || p < 0.0f) p = 0.0f;
  if (p > 100.0f) p = 100.0f;
  int e = std::clamp(extent, 0, kMaxPictureExtent);
  // Single precision like the edges themselves (33.3 % of 1000 gives 333);
  // with both factors clamped the product always fits an int.
  return static_cast<int>(static_cast<float>(e) * p / 100.0f);
}

std::string BuildZoneWritePath(uint32_t zone_number, const PrivacyZoneRecord& zone,
                               PictureSize picture) {
  std::string path = "/set.oid?";
  AppendItem(path, kOidZoneLeft, zone_number, PercentToPixels(picture.width, zone.left), false);
  AppendItem(path, kOidZoneTop, zone_number, PercentToPixels(picture.height, zone.top), false);
  AppendItem(path, kOidZoneRight, zone_number, PercentToPixels(picture.width, zone.right), false);
  AppendItem(path, kOidZoneBottom, zone_number, PercentToPixels(picture.height, zone.bottom), true);
  return path;
}

std::string BuildMaskingOnPath() {
  return "/set.oid?OidTB" + std::string(kOidMaskingSwitch) + "=ON";
}

}  // namespace korvela
