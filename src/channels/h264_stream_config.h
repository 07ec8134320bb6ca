// The device requests and RTSP location of the H.264 channel, built from the
// wanted stream settings and the camera group. Pure functions, so that every
// request the channel sends can be checked without a device.
//
// Threading: none; callable from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvela {

// RTSP port when camera parameter 2 is not a usable port number.
inline constexpr uint16_t kDefaultRtspPort = 554;

// Frame interval in ms for the encoder: 1000 / fps rounded, then rounded to
// a multiple of 15 above 15 ms and of 5 from 5 ms (25 fps: 45, 30 fps: 30).
uint32_t H264FrameInterval(uint32_t fps);

// Constant bit rate in kbit/s: 110 per per cent of quality, at least 256.
uint32_t H264BitRate(uint32_t quality_percent);

struct H264StreamWish {
  uint32_t fps = 0;
  uint32_t quality = 0;  // per cent
  uint32_t width = 0;
  uint32_t height = 0;
};

// Video mode (not for camera group 1, nor for a size outside the group's
// H.264 mode table), frame interval, rate control and bit rate, in one write.
std::string H264ConfigureRequest(const H264StreamWish& wish, uint32_t camera_group);

// Changes only the frame interval.
std::string H264FrameRateRequest(uint32_t fps);

// "now.mp4?mm=v", with "&res=low" for small pictures of camera group 3.
std::string H264StreamPath(uint32_t camera_group, uint32_t width);

// RTSP port from camera parameter 2: nothing when the parameter is empty,
// kDefaultRtspPort when it is no port number (0, negative, above 65535 or
// not a number).
std::optional<uint16_t> RtspPortFromParameter(std::string_view text);

}  // namespace korvela
