#include "device_model.h"

#include "camsim.h"

namespace camsim {
namespace {

// Mode names follow the cameras' own numbering: Motion-JPEG and H.264 modes
// of the same size have different names.
std::vector<VideoMode> FiveMegapixelModes() {
  return {{"mode17", 2592, 1944}, {"mode18", 2560, 1440}, {"mode19", 2048, 1536},
          {"mode5", 1920, 1080},  {"mode20", 1600, 1200}, {"mode21", 1280, 960},
          {"mode2", 1280, 720},   {"mode6", 720, 480},    {"mode12", 2592, 1944},
          {"mode13", 2560, 1440}, {"mode14", 2048, 1536}, {"mode1", 1920, 1080},
          {"mode15", 1600, 1200}, {"mode16", 1280, 960},  {"mode11", 720, 480}};
}

ModelSpec Iq765() {
  ModelSpec m;
  m.name = "IQ765";
  m.device_name = "IQeye Sentinel";
  m.firmware = "3.5/4";
  m.max_width = 2592;
  m.max_height = 1944;
  m.has_modes = true;
  m.default_mode = "mode12";
  m.modes = FiveMegapixelModes();
  m.h264 = m.audio = m.io = m.privacy = true;
  m.privacy_zone_count = 8;
  return m;
}

ModelSpec Iq031() {
  ModelSpec m;
  m.name = "IQ031";
  m.device_name = "IQeye Alliance";
  m.firmware = "3.1/7";
  m.max_width = 1280;
  m.max_height = 1024;
  m.has_modes = true;
  m.default_mode = "mode3";
  m.modes = {
      {"mode3", 1280, 1024}, {"mode2", 1280, 720}, {"mode6", 720, 480}, {"mode11", 720, 480}};
  m.h264 = m.audio = m.io = m.privacy = true;
  m.privacy_zone_count = 8;
  return m;
}

ModelSpec IqA30() {
  ModelSpec m;
  m.name = "IQA30";
  m.device_name = "IQeye Alliance-mini";
  m.firmware = "2.9/2";
  m.max_width = 720;
  m.max_height = 480;
  m.has_modes = true;
  m.default_mode = "mode9";
  m.modes = {{"mode9", 720, 480}, {"mode11", 352, 240}, {"mode10", 352, 240}};
  m.h264 = m.audio = m.io = m.privacy = true;
  m.privacy_zone_count = 8;
  return m;
}

ModelSpec Iq042() {
  ModelSpec m;
  m.name = "IQ042";
  m.device_name = "IQeye Dome";
  m.firmware = "2.6/1";
  m.max_width = 1280;
  m.max_height = 1024;
  m.h264 = false;
  m.io = true;
  m.privacy = true;
  m.privacy_zone_count = 8;
  return m;
}

ModelSpec Iq511() {
  ModelSpec m;
  m.name = "IQ511";
  m.device_name = "IQeye Legacy";
  m.firmware = "2.4/9";
  m.max_width = 2048;
  m.max_height = 1536;
  m.h264 = true;
  m.audio = true;
  m.io = true;
  m.privacy = true;
  m.privacy_zone_count = 8;
  m.max_fps = 12;
  return m;
}

}  // namespace

std::vector<std::string> BaseModelNames() { return {"IQ765", "IQ031", "IQA30", "IQ042", "IQ511"}; }

std::vector<std::string> ListModels() {
  auto names = BaseModelNames();
  names.push_back("<model>-noaudio");
  names.push_back("<model>-noio");
  names.push_back("<model>-noprivacy");
  return names;
}

std::optional<ModelSpec> FindModel(std::string_view name) {
  const size_t dash = name.find('-');
  const std::string_view base = name.substr(0, dash);
  std::optional<ModelSpec> model_spec;
  if (base == "IQ765")
    model_spec = Iq765();
  else if (base == "IQ031")
    model_spec = Iq031();
  else if (base == "IQA30")
    model_spec = IqA30();
  else if (base == "IQ042")
    model_spec = Iq042();
  else if (base == "IQ511")
    model_spec = Iq511();
  if (!model_spec) return std::nullopt;
  std::string_view rest = dash == std::string_view::npos ? std::string_view() : name.substr(dash);
  while (!rest.empty()) {
    const size_t next = rest.find('-', 1);
    const std::string_view suffix = rest.substr(0, next);
    if (suffix == "-noaudio")
      model_spec->audio = false;
    else if (suffix == "-noio")
      model_spec->io = false;
    else if (suffix == "-noprivacy")
      model_spec->privacy = false;
    else
      return std::nullopt;
    rest = next == std::string_view::npos ? std::string_view() : rest.substr(next);
  }
  return model_spec;
}

const VideoMode* FindMode(const ModelSpec& model_spec, std::string_view name) {
  for (const auto& mode : model_spec.modes) {
    if (mode.name == name) return &mode;
  }
  return nullptr;
}

}  // namespace camsim
