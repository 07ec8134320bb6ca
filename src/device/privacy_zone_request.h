// Pure conversion of privacy zones into the camera's OID write requests.
//
// Threading: free functions over values; no state, callable from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvela {

// The seven values of one zone as the recorder gives them. The two attributes
// are kept and compared but never sent; the edges are percentages (0..100) of
// the picture width (left, right) or height (top, bottom).
struct PrivacyZoneRecord {
  uint32_t attribute1 = 0;
  uint32_t attribute2 = 0;
  uint32_t enabled = 0;
  float left = 0.0f;
  float top = 0.0f;
  float right = 0.0f;
  float bottom = 0.0f;
};

// Same bits in all seven values: a zone given again unchanged compares equal,
// even when the recorder sends a NaN edge.
bool SameZone(const PrivacyZoneRecord& a, const PrivacyZoneRecord& b);

struct ZonePictureSize {
  int width = 0;
  int height = 0;
};

// Largest picture width or height taken from the camera parameter; far above
// any sensor, low enough that every pixel value is exact in a float.
inline constexpr int kMaxPictureExtent = 1 << 20;

// "1280x1024" -> {1280, 1024}: two numbers of digits only, each at most
// kMaxPictureExtent, joined by 'x'. Anything else gives {0, 0}.
ZonePictureSize ParseMaximumResolution(std::string_view text);

// extent * percent / 100 truncated toward zero. Percentage and extent come
// unchecked from the recorder, so the percentage is clamped to 0..100 (NaN
// counts as 0) and the extent to 0..kMaxPictureExtent: a float to int
// conversion out of range is undefined behaviour.
int PercentToPixels(int extent, float percent);

// OIDs of the camera's privacy-zone table and masking switch.
inline constexpr std::string_view kOidZoneLeft = "1.2.26.1.1";
inline constexpr std::string_view kOidZoneTop = "1.2.26.1.2";
inline constexpr std::string_view kOidZoneRight = "1.2.26.1.3";
inline constexpr std::string_view kOidZoneBottom = "1.2.26.1.4";
inline constexpr std::string_view kOidMaskingSwitch = "1.2.26.4";

// "/set.oid?OidTB1.2.26.1.1.<n>=<l>&OidTB1.2.26.1.2.<n>=<t>&..." for zone
// number n (from 1) converted to pixels of `picture`.
std::string BuildZoneWritePath(uint32_t zone_number, const PrivacyZoneRecord& zone,
                               ZonePictureSize picture);

// "/set.oid?OidTB1.2.26.4=ON".
std::string BuildMaskingOnPath();

}  // namespace korvela
