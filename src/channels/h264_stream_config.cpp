#include "channels/h264_stream_config.h"

#include <algorithm>
#include <cstdlib>

#include "device/model_table.h"
#include "device/text_utils.h"
#include "util/str_format.h"

namespace korvela {

uint32_t H264FrameInterval(uint32_t fps) {
  const uint32_t v = IntervalFromRate(fps);
  // Round half up to the nearest step: floor(v / step + 0.5).
  if (v > 15) return 15 * ((2 * v + 15) / 30);
  if (v >= 5) return 5 * ((2 * v + 5) / 10);
  return v;
}

uint32_t H264BitRate(uint32_t quality_percent) {
  const uint64_t rate = uint64_t{quality_percent} * 11000 / 100;
  return static_cast<uint32_t>(std::clamp<uint64_t>(rate, 256, UINT32_MAX));
}

std::string H264ConfigureRequest(const H264StreamWish& wish, uint32_t camera_group) {
  std::string mode_part;
  if (camera_group != 1) {
    const std::string mode(
        VideoModeName(VideoModeStream::kH264, camera_group, wish.width, wish.height));
    if (!mode.empty()) mode_part = StrFormat("OidTR%s=%s", oid::kVideoMode, mode.c_str());
  }
  const uint32_t interval = H264FrameInterval(wish.fps);
  return StrFormat("/set.oid?%s&OidTR%s=%u&OidTR%s=cbr&OidTR%s=%u&OidTR%s=%u", mode_part.c_str(),
                   oid::kH264FrameRate, interval, oid::kH264RateControl, oid::kH264BitRate,
                   H264BitRate(wish.quality), oid::kH264FrameRate2, interval);
}

std::string H264FrameRateRequest(uint32_t fps) {
  return StrFormat("/set.oid?&OidTR%s=%u", oid::kH264FrameRate, H264FrameInterval(fps));
}

std::string H264StreamPath(uint32_t camera_group, uint32_t width) {
  std::string path = "now.mp4?mm=v";
  if (camera_group == 3 && width < 720) path += "&res=low";
  return path;
}

std::optional<uint16_t> RtspPortFromParameter(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const std::string copy(text);
  const long port = std::atol(copy.c_str());
  if (port <= 0 || port > 65535) return kDefaultRtspPort;
  return static_cast<uint16_t>(port);
}

}  // namespace korvela
