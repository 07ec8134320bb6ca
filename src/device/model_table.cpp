#include "device/model_table.h"

#include <string_view>

namespace korvela {
namespace {

struct FamilyRow {
  uint32_t family;
  std::array<std::string_view, 7> models;  // unused slots stay empty
};

// Searched in this order; the first model text found in the name decides.
constexpr std::array<FamilyRow, 5> kFamilies{{
    {1, {"IQD30", "IQ030", "IQA30", "IQM30"}},
    {2, {"IQD31", "IQ031", "IQM31", "IQA31", "IQ761", "IQ861", "IQA84N"}},
    {4, {"IQ763W", "IQ863W", "IQA33W"}},
    {5, {"IQA33N", "IQ763N", "IQ863N"}},
    {6, {"IQA35", "IQ765", "IQ865"}},
}};
constexpr uint32_t kOtherFamily = 3;

constexpr std::array<std::string_view, 3> kFixedSizeModels{"IQ04", "IQD4", "IQ54"};

// Mode names pair with the size table of the same length, position by position.
constexpr std::array<std::string_view, 2> kJpegModesA{"mode9", "mode11"};
constexpr std::array<std::string_view, 2> kH264ModesA{"mode9", "mode10"};
constexpr std::array<std::string_view, 3> kJpegModesB{"mode5", "mode2", "mode6"};
constexpr std::array<std::string_view, 3> kH264ModesB{"mode1", "mode2", "mode11"};
constexpr std::array<std::string_view, 8> kJpegModesC{"mode17", "mode18", "mode19", "mode5",
                                                      "mode20", "mode21", "mode2",  "mode6"};
constexpr std::array<std::string_view, 8> kH264ModesC{"mode12", "mode13", "mode14", "mode1",
                                                      "mode15", "mode16", "mode2",  "mode11"};
static_assert(kJpegModesA.size() == kSizeTableA.size() && kH264ModesA.size() == kSizeTableA.size());
static_assert(kJpegModesB.size() == kSizeTableB.size() && kH264ModesB.size() == kSizeTableB.size());
static_assert(kJpegModesC.size() == kSizeTableC.size() && kH264ModesC.size() == kSizeTableC.size());

std::span<const std::string_view> ModeNames(VideoModeStream stream, uint32_t camera_group) {
  const bool jpeg = stream == VideoModeStream::kMotionJpeg;
  switch (camera_group) {
    case 2:
      return jpeg ? std::span<const std::string_view>(kJpegModesB) : kH264ModesB;
    case 4:
      return jpeg ? std::span<const std::string_view>(kJpegModesC) : kH264ModesC;
    default:
      return jpeg ? std::span<const std::string_view>(kJpegModesA) : kH264ModesA;
  }
}

}  // namespace

uint32_t ModelFamily(std::string_view model_name) {
  for (const FamilyRow& row : kFamilies) {
    for (std::string_view model : row.models) {
      if (!model.empty() && model_name.find(model) != std::string_view::npos) return row.family;
    }
  }
  return kOtherFamily;
}

bool IsFixedSizeModel(std::string_view model_name) {
  for (std::string_view model : kFixedSizeModels) {
    if (model_name.find(model) != std::string_view::npos) return true;
  }
  return false;
}

uint32_t ModeCameraGroup(uint32_t family) {
  switch (family) {
    case 1:
      return 3;
    case 4:
    case 5:
    case 6:
      return 4;
    default:  // families 2 and 3
      return 2;
  }
}

uint32_t CameraGroup(std::string_view model_name, std::string_view video_mode) {
  if (IsFixedSizeModel(model_name)) return 1;
  if (video_mode.find("mode") == std::string_view::npos) return 0;
  return ModeCameraGroup(ModelFamily(model_name));
}

std::span<const PictureSize> ModeSizeTable(uint32_t camera_group) {
  switch (camera_group) {
    case 2:
      return kSizeTableB;
    case 4:
      return kSizeTableC;
    default:
      return kSizeTableA;
  }
}

std::string_view VideoModeName(VideoModeStream stream, uint32_t camera_group, uint32_t width,
                               uint32_t height) {
  const std::span<const PictureSize> sizes = ModeSizeTable(camera_group);
  const std::span<const std::string_view> names = ModeNames(stream, camera_group);
  const uint32_t key = ResolutionKey(width, height);
  if (width > 0xFFFF || height > 0xFFFF) return {};
  for (size_t i = 0; i < sizes.size(); ++i) {
    if (ResolutionKey(sizes[i].width, sizes[i].height) == key) return names[i];
  }
  return {};
}

}  // namespace korvela
