#include "device/privacy_zone_request.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>

#include "device/text_utils.h"

namespace korvela {
namespace {

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

ZonePictureSize ParseMaximumResolution(std::string_view text) {
  uint32_t width = 0;
  uint32_t height = 0;
  constexpr auto kMax = static_cast<uint32_t>(kMaxPictureExtent);
  if (!ParseSizeText(text, width, height) || width > kMax || height > kMax) return {};
  return {static_cast<int>(width), static_cast<int>(height)};
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
                               ZonePictureSize picture) {
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
