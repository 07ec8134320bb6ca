// Camera parameters: numbered texts the recorder supplies at Open.
//
// Threading: CameraParameters is filled by Open on the recorder's thread and
// only read afterwards (from any thread); it has no lock of its own.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace korvela {

// A parameter number: one or more characters, each a decimal digit except
// that the first may be '+' or '-', not a sign alone, within the signed
// 32-bit range. Anything else (including out-of-range digits) is not a
// number.
std::optional<int32_t> ParseParameterNumber(std::string_view text);

// The channel count in an audio capability text "Count=%u; IsStereo=%u".
// Only when both fields are present and are unsigned numbers is the count
// used; otherwise 0. The stereo flag is read and not used.
uint32_t ParseAudioChannelCount(std::string_view text);

// The camera group a channel's requests are built for (1-3): the parameter
// number when positive, otherwise 0 (unknown).
uint32_t ParseCameraGroup(std::string_view text);

class CameraParameters {
 public:
  void Set(uint32_t index, std::string text) { texts_[index] = std::move(text); }
  // The text, or empty when the index is missing or the text is "(none)".
  std::string Get(uint32_t index) const;
  // The text as a number, or INT32_MIN when missing or not a number.
  int32_t GetInt(uint32_t index) const;
  size_t size() const { return texts_.size(); }

 private:
  std::map<uint32_t, std::string> texts_;
};

}  // namespace korvela
