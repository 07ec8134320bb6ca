// The simulated camera models: identity, picture sizes, video modes and which
// optional features (H.264, audio, digital I/O, privacy zones) each one has.
//
// Threading: immutable values; FindModel is a pure function.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace camsim {

struct VideoMode {
  std::string name;  // value of OID 1.17.2.6, e.g. "mode2"
  uint16_t width = 0;
  uint16_t height = 0;
};

struct ModelSpec {
  std::string name;         // OID 2.8
  std::string device_name;  // OID 2.27
  std::string firmware;     // OID 2.5
  uint16_t max_width = 0;   // OID 1.2.20.5
  uint16_t max_height = 0;  // OID 1.2.20.6
  // Cameras that choose picture sizes by mode name have OID 1.17.2.6; the
  // others scale the sensor picture down (the push URL's ds parameter).
  bool has_modes = false;
  std::string default_mode;
  std::vector<VideoMode> modes;
  bool h264 = false;
  bool audio = false;
  bool io = false;
  bool privacy = false;
  int privacy_zone_count = 0;
  int max_fps = 30;
};

// Base name followed by optional "-noaudio", "-noio", "-noprivacy" suffixes.
std::optional<ModelSpec> FindModel(std::string_view name);
std::vector<std::string> BaseModelNames();

const VideoMode* FindMode(const ModelSpec& model_spec, std::string_view name);

}  // namespace camsim
