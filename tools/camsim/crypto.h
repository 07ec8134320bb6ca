// MD5 and Base64 for the simulator's server-side authentication. Kept apart
// from the driver's helpers on purpose: a shared bug would hide itself.
//
// Threading: pure functions, no state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace camsim {

std::string Md5Hex(std::string_view data);  // lower-case hex, 32 characters
std::string Base64Encode(std::string_view data);
std::optional<std::string> Base64Decode(std::string_view text);  // nullopt on bad input

}  // namespace camsim
