// Base64 with the standard alphabet and '=' padding (RFC 4648, section 4),
// without line breaks. Line-broken output (RFC 2045) is built on top of this
// by the text helpers.
//
// Threading: pure functions, reentrant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvela::codec {

// Characters produced for `input_size` bytes (always a multiple of 4).
constexpr size_t Base64EncodedSize(size_t input_size) { return (input_size + 2) / 3 * 4; }

std::string Base64Encode(std::span<const uint8_t> data);
std::string Base64Encode(std::string_view text);

// Strict decoding: the length must be a multiple of 4, padding only at the
// end (at most two '='), no characters outside the alphabet, and the unused
// bits of the last group must be zero. Anything else gives nullopt.
std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text);

}  // namespace korvela::codec
