// The recorder's video parameters for StartChannel (frame rate, quality,
// picture size, privacy zones) and the picture size for ChangeChannel.
//
// Threading: fill before handing to the driver; the driver only reads, on the
// thread of its StartChannel call. Not for concurrent modification.
#pragma once

#include <cstdint>
#include <vector>

#include "korvela/ipcapture.h"

namespace korvela::recorder {

class PictureSize final : public ipcapture::IPictureSize {
 public:
  PictureSize(uint32_t width = 0, uint32_t height = 0) : width_(width), height_(height) {}
  uint32_t GetWidth() override { return width_; }
  uint32_t GetHeight() override { return height_; }
  void Set(uint32_t width, uint32_t height) {
    width_ = width;
    height_ = height;
  }

 private:
  uint32_t width_;
  uint32_t height_;
};

// One zone as the recorder keeps it; edges in per cent of the picture.
struct ZoneSpec {
  uint32_t attribute1 = 0;
  uint32_t attribute2 = 0;
  uint32_t enabled = 1;
  float left = 0, top = 0, right = 0, bottom = 0;
};

class PrivacyZone final : public ipcapture::IPrivacyZone {
 public:
  explicit PrivacyZone(const ZoneSpec& zone) : spec_(zone) {}
  uint32_t GetAttribute1() override { return spec_.attribute1; }
  uint32_t GetAttribute2() override { return spec_.attribute2; }
  uint32_t IsEnabled() override { return spec_.enabled; }
  float GetLeft() override { return spec_.left; }
  float GetTop() override { return spec_.top; }
  float GetRight() override { return spec_.right; }
  float GetBottom() override { return spec_.bottom; }

 private:
  ZoneSpec spec_;
};

class PrivacyZoneCollection final : public ipcapture::IPrivacyZoneCollection {
 public:
  void Set(const std::vector<ZoneSpec>& zones);
  ipcapture::IPrivacyZone* GetZone(uint32_t index) override;

 private:
  std::vector<PrivacyZone> zones_;
};

class VideoParams final : public ipcapture::IVideoParams,
                          private ipcapture::IVideoFormat,
                          private ipcapture::IVideoRate {
 public:
  VideoParams(uint32_t frame_rate = 0, uint32_t quality = 0, uint32_t width = 0,
              uint32_t height = 0);

  void SetRate(uint32_t frame_rate, uint32_t quality) {
    frame_rate_ = frame_rate;
    quality_ = quality;
  }
  void SetSize(uint32_t width, uint32_t height) { size_.Set(width, height); }
  void SetZones(const std::vector<ZoneSpec>& zones) { zones_.Set(zones); }

  // IVideoParams
  ipcapture::IVideoFormat* GetFormat() override { return this; }
  ipcapture::IVideoRate* GetRate() override { return this; }
  ipcapture::IPrivacyZoneCollection* GetPrivacyZones() override { return &zones_; }

 private:
  // IVideoFormat
  ipcapture::IPictureSize* GetSize() override { return &size_; }
  // IVideoRate
  uint32_t GetFrameRate() override { return frame_rate_; }
  uint32_t GetQuality() override { return quality_; }

  uint32_t frame_rate_;
  uint32_t quality_;
  PictureSize size_;
  PrivacyZoneCollection zones_;
};

}  // namespace korvela::recorder
