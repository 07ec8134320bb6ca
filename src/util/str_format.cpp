#include "util/str_format.h"

#include <charconv>

namespace korvela {

std::string StrFormat(const char* format, ...) {
  if (format == nullptr) return {};
  va_list args;
  va_start(args, format);
  std::string out = StrFormatV(format, args);
  va_end(args);
  return out;
}

std::string StrFormatV(const char* format, va_list args) {
  va_list count_args;
  va_copy(count_args, args);
  // The analyzer does not see that va_copy initialises the copy.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const int needed = std::vsnprintf(nullptr, 0, format, count_args);
  va_end(count_args);
  if (needed <= 0) return {};
  std::string out(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(needed));
  return out;
}

std::string FormatFixed(double value, int decimals) {
  // Enough for any double in fixed notation (309 integer digits) and the
  // decimals asked for.
  char buffer[512];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), value,
                                       std::chars_format::fixed, decimals < 0 ? 0 : decimals);
  if (ec != std::errc()) return {};
  return std::string(buffer, end);
}

}  // namespace korvela
