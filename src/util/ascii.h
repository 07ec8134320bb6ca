// ASCII-only character helpers. Device texts and protocol tokens are compared
// and folded byte by byte, independent of the process locale (the recorder may
// run under any locale; tr_TR folds 'I' to a dotless i, ISO-8859-1 folds bytes
// >= 0x80).
//
// Threading: pure functions; callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace korvela {

constexpr char AsciiToLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsAsciiControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// Copy with A-Z folded to a-z; every other byte unchanged.
std::string AsciiToLower(std::string_view text);

// Equal after ASCII case folding.
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

// Whether `needle` occurs in `haystack`, ignoring ASCII case.
bool ContainsIgnoreAsciiCase(std::string_view haystack, std::string_view needle);

}  // namespace korvela
