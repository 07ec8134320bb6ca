// An H.264 sample clip split into access units, loaded from an Annex B file.
//
// Threading: immutable after Parse/Load; shared read-only by every stream.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace camsim {

struct AccessUnit {
  std::vector<std::string> nal_units;  // without start codes
  bool key = false;                    // holds an IDR slice
};

class H264Clip {
 public:
  // Largest clip file accepted (the samples are well below).
  static constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;

  static std::optional<H264Clip> Parse(std::string_view annex_b, std::string* error);
  static std::optional<H264Clip> Load(const std::string& path, std::string* error);

  const std::vector<AccessUnit>& units() const { return units_; }
  const std::string& sps() const { return sps_; }
  const std::string& pps() const { return pps_; }
  // "sprop-parameter-sets" value: base64(SPS),base64(PPS) (RFC 6184 8.1).
  std::string SpropParameterSets() const;
  // "profile-level-id": the three bytes after the SPS NAL header, in hex.
  std::string ProfileLevelId() const;
  double average_bits_per_frame() const;

 private:
  std::vector<AccessUnit> units_;
  std::string sps_;
  std::string pps_;
};

// The NAL units of an Annex B byte stream (3- or 4-byte start codes).
std::vector<std::string_view> SplitAnnexB(std::string_view data);

// Reads a whole file (at most max_bytes); nullopt on error.
std::optional<std::string> ReadFile(const std::string& path, size_t max_bytes, std::string* error);

}  // namespace camsim
