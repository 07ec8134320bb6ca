// printf-style formatting into std::string, and the one format-checking
// attribute macro of the tree.
//
// Threading: pure functions; callable from any thread. StrFormat's number
// conversions follow the process locale ("%.2f" gives "0,03" under de_DE):
// texts for a device or a request format fractions with FormatFixed.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#if defined(__GNUC__)
#define KORVELA_PRINTF_FORMAT(format_index, first_arg) \
  __attribute__((format(printf, format_index, first_arg)))
#else
#define KORVELA_PRINTF_FORMAT(format_index, first_arg)
#endif

namespace korvela {

// printf into a string of exactly the needed length; no length limit.
std::string StrFormat(const char* format, ...) KORVELA_PRINTF_FORMAT(1, 2);
std::string StrFormatV(const char* format, va_list args);

// `value` with exactly `decimals` digits after a '.', rounded like printf's
// "%.*f" in the C locale, whatever the process locale; empty when that text
// would need more than 511 characters.
std::string FormatFixed(double value, int decimals);

}  // namespace korvela
