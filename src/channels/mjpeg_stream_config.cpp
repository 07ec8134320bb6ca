#include "channels/mjpeg_stream_config.h"

#include <algorithm>
#include <cstdint>

#include "device/text_utils.h"

namespace korvela {

namespace {

constexpr uint32_t kMinQualityOid = 13;
constexpr uint32_t kMaxQualityOid = 90;

}  // namespace

uint32_t JpegQualityOidValue(uint32_t quality_percent) {
  const uint64_t q = uint64_t{quality_percent} * 90 / 100 + 13;
  return static_cast<uint32_t>(std::clamp<uint64_t>(q, kMinQualityOid, kMaxQualityOid));
}

std::optional<PictureSize> ParseSensorSize(std::string_view text) {
  uint32_t width = 0;
  uint32_t height = 0;
  if (!ParseSizeText(text, width, height) || width > UINT16_MAX || height > UINT16_MAX)
    return std::nullopt;
  return PictureSize{static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
}

uint32_t DownscaleFactor(const std::optional<PictureSize>& sensor, uint32_t requested_width) {
  if (!sensor || requested_width == 0) return 1;
  const uint32_t ds = sensor->width / requested_width;
  return ds == 0 ? 1 : ds;
}

MjpegRequests BuildMjpegRequests(const MjpegStreamWish& wish, uint32_t camera_group,
                                 std::string_view sensor_size_text) {
  MjpegRequests out;
  const uint32_t interval = IntervalFromRate(wish.fps);
  const std::optional<PictureSize> sensor = ParseSensorSize(sensor_size_text);

  std::string configure = "/set.oid?";
  if (camera_group == 0 || camera_group == 1) {
    if (sensor) {
      out.crop = StrFormat("/set.oid?OidTR%s=0&OidTR%s=0&OidTR%s=%u&OidTR%s=%u", oid::kCropLeft,
                           oid::kCropTop, oid::kCropWidth, unsigned{sensor->width},
                           oid::kCropHeight, unsigned{sensor->height});
    }
  } else {
    const std::string mode(
        VideoModeName(VideoModeStream::kMotionJpeg, camera_group, wish.width, wish.height));
    configure += StrFormat("OidTR%s=%s&", oid::kVideoMode, mode.c_str());
  }
  configure += StrFormat("OidTR%s=%u&OidTR%s=%u", oid::kJpegQuality,
                         JpegQualityOidValue(wish.quality), oid::kJpegFrameInterval, interval);
  out.configure = std::move(configure);
  out.after_configure = StrFormat("/set.oid?OidTR%s=%u", oid::kJpegStreamMarker, interval);

  // The push period in seconds, "%.2f" of fps / 1000 in the C locale: a
  // de_DE recorder must still send "spush0.03", not "spush0,03".
  out.stream_path = "/now.jpg?snap=spush" + FormatFixed(wish.fps / 1000.0, 2);
  if (camera_group == 0)
    out.stream_path += StrFormat("&ds=%u", DownscaleFactor(sensor, wish.width));
  return out;
}

std::string StreamClosedRequest(uint32_t fps) {
  return StrFormat("/set.oid?OidTR%s=%u", oid::kJpegStreamMarker,
                   IntervalFromRate(fps) == 1 ? 2u : 1u);
}

std::string FrameRateRequest(uint32_t fps) {
  return StrFormat("/set.oid?OidTR%s=%u", oid::kJpegFrameInterval, IntervalFromRate(fps));
}

}  // namespace korvela
