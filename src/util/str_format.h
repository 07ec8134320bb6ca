// printf-style formatting into std::string, and the one format-checking
// attribute macro of the tree.
//
// Threading: pure functions; callable from any thread. Number formats use the
// C library's conversions: callers that format numbers for a device or a
// request must not depend on the process locale for them (see FormatFixed).
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

}  // namespace korvela
