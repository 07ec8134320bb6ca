#include "device/camera_properties_lists.h"

#include <algorithm>

#include "device/text_utils.h"

namespace korvela {
namespace {

void LowerTo(uint32_t& default_fps, uint32_t fps) { default_fps = std::min(default_fps, fps); }

void AddTableSizes(std::span<const PictureSize> table, uint16_t max_width, PictureSizeList& list,
                   uint32_t& default_fps) {
  for (const PictureSize& size : table) {
    if (size.width > max_width) continue;
    const uint32_t fps = TableSizeFrameRate(size.width);
    if (fps != 30) LowerTo(default_fps, fps);
    list.Add(size.width, size.height, FrameIntervalMs(fps));
  }
}

void AddComputedSize(uint16_t width, uint16_t height, PictureSizeList& list,
                     uint32_t& default_fps) {
  if (width == 0 || height == 0) return;
  const uint32_t fps = ComputedSizeFrameRate(width);
  if (fps != 30) LowerTo(default_fps, fps);
  list.Add(width, height, FrameIntervalMs(fps));
}

uint16_t GroupTwoWidthLimit(uint32_t family) { return family == 2 ? 1280 : 1920; }

uint16_t GroupFourWidthLimit(uint32_t family) {
  switch (family) {
    case 4:
      return 2048;
    case 5:
      return 2560;
    case 6:
      return 2592;
    default:
      return 0;  // group 4 is only given to families 4 to 6
  }
}

}  // namespace

uint32_t FrameIntervalMs(uint32_t fps) { return fps == 0 ? 0 : IntervalFromRate(fps); }

void PictureSizeList::Add(uint16_t width, uint16_t height, uint32_t interval_ms) {
  if (width == 0 || height == 0) return;
  for (PictureSizeEntry& entry : entries_) {
    if (entry.width != width || entry.height != height) continue;
    if (interval_ms != 0 && (entry.interval_ms == 0 || interval_ms < entry.interval_ms))
      entry.interval_ms = interval_ms;
    return;
  }
  entries_.push_back({width, height, interval_ms});
}

uint32_t TableSizeFrameRate(uint16_t width) {
  switch (width) {
    case 2592:
      return 10;
    case 2560:
      return 16;
    case 2048:
      return 20;
    default:
      return 30;
  }
}

uint32_t ComputedSizeFrameRate(uint16_t width) {
  if (width > 2048) return 8;
  if (width > 1600) return 12;
  return 30;
}

void FillPictureSizes(uint32_t camera_group, uint32_t family, PictureSize maximum,
                      PictureSizeList& list, uint32_t& default_fps) {
  list.Clear();
  switch (camera_group) {
    case 1:
      AddComputedSize(maximum.width, maximum.height, list, default_fps);
      return;
    case 2:
      AddTableSizes(kSizeTableB, GroupTwoWidthLimit(family), list, default_fps);
      return;
    case 3:
      AddTableSizes(kSizeTableA, 0xFFFF, list, default_fps);
      return;
    case 4:
      AddTableSizes(kSizeTableC, GroupFourWidthLimit(family), list, default_fps);
      AddTableSizes(kSizeTableB, GroupTwoWidthLimit(family), list, default_fps);
      return;
    default:
      for (uint16_t divisor : {1, 2, 4, 8}) {
        AddComputedSize(static_cast<uint16_t>(maximum.width / divisor),
                        static_cast<uint16_t>(maximum.height / divisor), list, default_fps);
      }
      return;
  }
}

FrameRateReport MakeFrameRateReport(const std::set<uint32_t>& rates, uint32_t default_fps) {
  FrameRateReport report;
  for (uint32_t rate : rates) {
    if (rate != 0) report.intervals_ms.push_back(FrameIntervalMs(rate));
  }
  if (rates.empty()) return report;
  const uint32_t wanted = default_fps != 0 ? default_fps : *rates.rbegin() / 2;
  const auto it = rates.lower_bound(wanted);
  if (it != rates.end() && *it != 0) report.default_interval_ms = FrameIntervalMs(*it);
  return report;
}

}  // namespace korvela
