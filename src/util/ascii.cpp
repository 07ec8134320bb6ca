#include "util/ascii.h"

#include <algorithm>

namespace korvela {

std::string AsciiToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiToLower(c);
  return out;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiToLower(x) == AsciiToLower(y);
         });
}

bool ContainsIgnoreAsciiCase(std::string_view haystack, std::string_view needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                     [](char x, char y) { return AsciiToLower(x) == AsciiToLower(y); }) !=
         haystack.end();
}

}  // namespace korvela
