// Value types behind the picture-size and frame-rate reports of the camera
// properties: the picture-size list with its merge rule, the fill rule per
// camera group, and the frame-rate intervals with their default.
//
// Threading: plain values; the owner serialises access.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "device/model_table.h"

namespace korvela {

// 1000 / fps rounded half up; 0 for 0 fps.
uint32_t FrameIntervalMs(uint32_t fps);

struct PictureSizeEntry {
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t interval_ms = 0;  // 0: none given, the report picks one
  friend bool operator==(const PictureSizeEntry&, const PictureSizeEntry&) = default;
};

// Ordered list of picture sizes, at most one entry per size.
class PictureSizeList {
 public:
  // Skips zero widths or heights; a size already listed keeps one entry with
  // the smaller non-zero interval.
  void Add(uint16_t width, uint16_t height, uint32_t interval_ms);
  void Clear() { entries_.clear(); }
  bool empty() const { return entries_.empty(); }
  const std::vector<PictureSizeEntry>& entries() const { return entries_; }

 private:
  std::vector<PictureSizeEntry> entries_;
};

// Frame rate a table size is offered at: 10 for width 2592, 16 for 2560, 20
// for 2048, else 30 (the sensor read-out limits of the large modes).
uint32_t TableSizeFrameRate(uint16_t width);

// Frame rate a size computed from the maximum is offered at: 8 above width
// 2048, 12 above 1600, else 30.
uint32_t ComputedSizeFrameRate(uint16_t width);

// Empties `list` and fills it for the camera group: 1 the maximum; 2 table B
// up to width 1920 (1280 for family 2); 3 table A; 4 table C up to the
// family's widest mode, then table B as for group 2; any other group the
// maximum and its halves, quarters and eighths. Lowers `default_fps` to the
// rate of a slower size.
void FillPictureSizes(uint32_t camera_group, uint32_t family, PictureSize maximum,
                      PictureSizeList& list, uint32_t& default_fps);

struct FrameRateReport {
  std::vector<uint32_t> intervals_ms;           // one per rate, ascending rate
  std::optional<uint32_t> default_interval_ms;  // absent when no rate qualifies
};

// Intervals of `rates` and the default one: the lowest rate not below
// `default_fps` (or half the highest rate when `default_fps` is 0).
FrameRateReport MakeFrameRateReport(const std::set<uint32_t>& rates, uint32_t default_fps);

}  // namespace korvela
