// A locale other than "C" for tests of locale independence: Turkish with its
// 8-bit character set, where printf writes "0,03", tolower('I') is a dotless
// i (0xFD) and bytes from 0xC0 have case, so every C-library habit that could
// leak into a device text or a request shows.
//
// Threading: the locale is made current for the constructing thread only
// (uselocale) and given back by the destructor on that same thread; code
// under test that runs on that thread sees it.
#pragma once

#include <string>

#include <locale.h>

namespace korvela::testing {

class ScopedForeignLocale {
 public:
  // Uses an installed Turkish locale, or else compiles one with localedef
  // into a temporary folder (once per process).
  ScopedForeignLocale();
  ~ScopedForeignLocale();
  ScopedForeignLocale(const ScopedForeignLocale&) = delete;
  ScopedForeignLocale& operator=(const ScopedForeignLocale&) = delete;

  // False when no such locale could be had; `why_not()` says why (for a skip
  // message).
  bool ok() const { return locale_ != nullptr; }
  const std::string& why_not() const { return why_not_; }

 private:
  locale_t locale_ = nullptr;
  locale_t previous_ = nullptr;
  std::string why_not_;
};

}  // namespace korvela::testing
