#include "recorder/video_params.h"

namespace korvela::recorder {

void PrivacyZoneCollection::Set(const std::vector<ZoneSpec>& zones) {
  zones_.clear();
  zones_.reserve(zones.size());
  for (const auto& z : zones) zones_.emplace_back(z);
}

ipcapture::IPrivacyZone* PrivacyZoneCollection::GetZone(uint32_t index) {
  return index < zones_.size() ? &zones_[index] : nullptr;
}

VideoParams::VideoParams(uint32_t frame_rate, uint32_t quality, uint32_t width, uint32_t height)
    : frame_rate_(frame_rate), quality_(quality), size_(width, height) {}

}  // namespace korvela::recorder
