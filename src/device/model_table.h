// Constant knowledge about IQeye devices: the OIDs the driver reads and
// writes, the model families, the camera groups, the picture-size tables and
// the resolution-to-mode tables that the video channels use to pick a camera
// video mode for a requested picture size.
//
// Threading: constant data and pure functions only; callable from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace korvela {

// OIDs (dotted object identifiers of the device's /get.oid and /set.oid pages).
namespace oid {
inline constexpr const char kDeviceName[] = "2.27";
inline constexpr const char kModelName[] = "2.8";
inline constexpr const char kMacAddress[] = "2.7";
inline constexpr const char kFirmware[] = "2.5";
inline constexpr const char kVideoMode[] = "1.17.2.6";
inline constexpr const char kJpegQuality[] = "1.2.7";
inline constexpr const char kH264Availability[] = "1.17.6";
inline constexpr const char kRtspPort[] = "1.17.3.1";
inline constexpr const char kMaxWidth[] = "1.2.20.5";
inline constexpr const char kMaxHeight[] = "1.2.20.6";
inline constexpr const char kCropLeft[] = "1.2.6.1";
inline constexpr const char kCropWidth[] = "1.2.6.2";
inline constexpr const char kCropHeight[] = "1.2.6.3";
inline constexpr const char kCropTop[] = "1.2.6.4";
inline constexpr const char kJpegFrameInterval[] = "1.2.31";
inline constexpr const char kH264BitRate[] = "1.17.2.2";
inline constexpr const char kH264FrameRate[] = "1.17.2.4";
inline constexpr const char kH264RateControl[] = "1.17.2.7";
inline constexpr const char kH264FrameRate2[] = "1.17.2.10";
inline constexpr const char kJpegStreamMarker[] = "1.17.2.19.3.2";
inline constexpr const char kDigitalInput[] = "1.3.15";
inline constexpr const char kDigitalOutput[] = "1.3.5.1";
inline constexpr const char kPrivacyZoneProbe[] = "1.2.26.5";
inline constexpr const char kPrivacyMasking[] = "1.2.26.4";
inline constexpr const char kPrivacyZoneLeft[] = "1.2.26.1.1";
inline constexpr const char kPrivacyZoneTop[] = "1.2.26.1.2";
inline constexpr const char kPrivacyZoneRight[] = "1.2.26.1.3";
inline constexpr const char kPrivacyZoneBottom[] = "1.2.26.1.4";
inline constexpr const char kAudioBitRate[] = "1.17.1.2";
inline constexpr const char kAudioInput[] = "1.9.5";
inline constexpr const char kAudioOutput1[] = "1.9.6";
inline constexpr const char kAudioOutput2[] = "1.9.7";
inline constexpr const char kAudioOutputSetting[] = "1.9.10";
}  // namespace oid

struct PictureSize {
  uint16_t width = 0;
  uint16_t height = 0;
  friend constexpr bool operator==(const PictureSize&, const PictureSize&) = default;
};

// Picture-size tables, largest first.
inline constexpr std::array<PictureSize, 2> kSizeTableA{{{720, 480}, {352, 240}}};
inline constexpr std::array<PictureSize, 3> kSizeTableB{{{1920, 1080}, {1280, 720}, {720, 480}}};
inline constexpr std::array<PictureSize, 8> kSizeTableC{{{2592, 1944},
                                                         {2560, 1440},
                                                         {2048, 1536},
                                                         {1920, 1080},
                                                         {1600, 1200},
                                                         {1280, 960},
                                                         {1280, 720},
                                                         {720, 480}}};

// Model family of a model name (OID 2.8): the first family whose texts occur
// in the name, else family 3.
uint32_t ModelFamily(std::string_view model_name);

// True for the models whose picture size is simply their maximum
// ("IQ04", "IQD4", "IQ54"): camera group 1, the video mode is never read.
bool IsFixedSizeModel(std::string_view model_name);

// Camera group of a model that selects picture sizes by mode name (its OID
// 1.17.2.6 contains "mode"), by its family.
uint32_t ModeCameraGroup(uint32_t family);

// Camera group from the model name and the value of OID 1.17.2.6; 0 when the
// model neither has a fixed size nor a mode name.
uint32_t CameraGroup(std::string_view model_name, std::string_view video_mode);

// Resolution key: height in the upper 16 bits, width in the lower 16 bits.
constexpr uint32_t ResolutionKey(uint32_t width, uint32_t height) {
  return ((height & 0xFFFFu) << 16) | (width & 0xFFFFu);
}

enum class VideoModeStream { kMotionJpeg, kH264 };

// The size table a camera group's video modes are selected from: B for
// group 2, C for group 4, A for every other group.
std::span<const PictureSize> ModeSizeTable(uint32_t camera_group);

// Name of the camera video mode for a picture size in the given stream's
// resolution-to-mode table of the camera group; empty when the size is not in
// that table.
std::string_view VideoModeName(VideoModeStream stream, uint32_t camera_group, uint32_t width,
                               uint32_t height);

}  // namespace korvela
