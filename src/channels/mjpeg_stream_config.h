// The device requests of the Motion-JPEG channel, built from the wanted
// stream settings and what the recorder knows about the camera (its camera
// group and sensor size). Pure functions, so that every request the channel
// sends can be checked without a device.
//
// Threading: none; callable from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "device/model_table.h"

namespace korvela {

// JPEG quality OID value for a quality in per cent: q * 90 / 100 + 13 held
// within 13..90.
uint32_t JpegQualityOidValue(uint32_t quality_percent);

// Sensor size from camera parameter 6 ("1280x1024"): two numbers of digits
// only, each at most 65535, joined by the letter x; anything else is unknown.
std::optional<PictureSize> ParseSensorSize(std::string_view text);

// Downscale factor for the push stream: sensor width / requested width, and 1
// when that is 0, when the sensor size is unknown or the requested width is 0.
uint32_t DownscaleFactor(const std::optional<PictureSize>& sensor, uint32_t requested_width);

struct MjpegStreamWish {
  uint32_t fps = 0;
  uint32_t quality = 0;  // per cent
  uint32_t width = 0;
  uint32_t height = 0;
};

// Requests of one connection, in the order they are sent.
struct MjpegRequests {
  // Full-sensor cropping window (camera groups 0 and 1 with a known sensor
  // size); its answer is not judged.
  std::optional<std::string> crop;
  // Mode (groups other than 0 and 1), quality and frame interval; must succeed.
  std::string configure;
  // Sent after a successful configuration; its answer is not judged.
  std::string after_configure;
  // Path of the server-push stream.
  std::string stream_path;
};

MjpegRequests BuildMjpegRequests(const MjpegStreamWish& wish, uint32_t camera_group,
                                 std::string_view sensor_size_text);

// Sent after every connection attempt: 2 when the frame interval is 1 (this
// includes fps 0), else 1.
std::string StreamClosedRequest(uint32_t fps);

// Changes only the frame interval.
std::string FrameRateRequest(uint32_t fps);

}  // namespace korvela
