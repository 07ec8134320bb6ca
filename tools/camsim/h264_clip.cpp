#include "h264_clip.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "crypto.h"

namespace camsim {
namespace {

uint8_t NalType(std::string_view nal) { return nal.empty() ? 0 : uint8_t(nal[0]) & 0x1f; }
bool IsVcl(uint8_t type) { return type >= 1 && type <= 5; }
// first_mb_in_slice is the slice header's first ue(v); 0 is coded as a lone 1 bit.
bool FirstSliceOfPicture(std::string_view nal) {
  return nal.size() > 1 && (uint8_t(nal[1]) & 0x80);
}

}  // namespace

std::vector<std::string_view> SplitAnnexB(std::string_view data) {
  std::vector<std::string_view> nals;
  size_t i = 0;
  size_t start = std::string_view::npos;
  while (i + 3 <= data.size()) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      if (start != std::string_view::npos) {
        size_t end = i;
        while (end > start && data[end - 1] == 0) --end;  // 4-byte start code / trailing zeros
        if (end > start) nals.push_back(data.substr(start, end - start));
      }
      i += 3;
      start = i;
    } else {
      ++i;
    }
  }
  if (start != std::string_view::npos) {
    size_t end = data.size();
    while (end > start && data[end - 1] == 0) --end;  // trailing_zero_8bits
    if (end > start) nals.push_back(data.substr(start, end - start));
  }
  return nals;
}

std::optional<std::string> ReadFile(const std::string& path, size_t max_bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open " + path;
    return std::nullopt;
  }
  std::string data;
  char buf[65536];
  while (in.read(buf, sizeof(buf)) || in.gcount() > 0) {
    data.append(buf, size_t(in.gcount()));
    if (data.size() > max_bytes) {
      if (error) *error = path + " is larger than " + std::to_string(max_bytes) + " bytes";
      return std::nullopt;
    }
  }
  return data;
}

std::optional<H264Clip> H264Clip::Parse(std::string_view annex_b, std::string* error) {
  H264Clip clip;
  AccessUnit current;
  bool current_has_vcl = false;
  auto flush = [&] {
    if (current_has_vcl) clip.units_.push_back(std::move(current));
    current = AccessUnit();
    current_has_vcl = false;
  };
  for (std::string_view nal : SplitAnnexB(annex_b)) {
    const uint8_t type = NalType(nal);
    if (type == 9 || ((type == 6 || type == 7 || type == 8) && current_has_vcl) ||
        (IsVcl(type) && current_has_vcl && FirstSliceOfPicture(nal))) {
      flush();
    }
    if (type == 9) continue;  // access unit delimiters are not sent
    if (type == 7 && clip.sps_.empty()) clip.sps_ = std::string(nal);
    if (type == 8 && clip.pps_.empty()) clip.pps_ = std::string(nal);
    if (type == 5) current.key = true;
    if (IsVcl(type)) current_has_vcl = true;
    current.nal_units.emplace_back(nal);
  }
  flush();
  if (clip.units_.empty() || clip.sps_.size() < 4 || clip.pps_.empty() || !clip.units_[0].key) {
    if (error) *error = "not an H.264 Annex B stream starting with SPS, PPS and an IDR picture";
    return std::nullopt;
  }
  return clip;
}

std::optional<H264Clip> H264Clip::Load(const std::string& path, std::string* error) {
  const auto data = ReadFile(path, kMaxFileBytes, error);
  if (!data) return std::nullopt;
  auto clip = Parse(*data, error);
  if (!clip && error) *error = path + ": " + *error;
  return clip;
}

std::string H264Clip::SpropParameterSets() const {
  return Base64Encode(sps_) + "," + Base64Encode(pps_);
}

std::string H264Clip::ProfileLevelId() const {
  char buf[8];
  std::snprintf(buf, sizeof(buf), "%02x%02x%02x", uint8_t(sps_[1]), uint8_t(sps_[2]),
                uint8_t(sps_[3]));
  return buf;
}

double H264Clip::average_bits_per_frame() const {
  double bytes = 0;
  for (const auto& unit : units_) {
    for (const auto& nal : unit.nal_units) bytes += double(nal.size());
  }
  return units_.empty() ? 0 : bytes * 8 / double(units_.size());
}

}  // namespace camsim
