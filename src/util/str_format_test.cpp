#include "util/str_format.h"

#include <string>

#include <gtest/gtest.h>

#include "util/testing/foreign_locale.h"

namespace korvela {
namespace {

TEST(StrFormatTest, FormatsWithoutLengthLimit) {
  EXPECT_EQ(StrFormat("/get.oid?%s&%s", "1.2.7", "1.3.15"), "/get.oid?1.2.7&1.3.15");
  EXPECT_EQ(StrFormat("%s", ""), "");
  const std::string long_text(5000, 'x');
  EXPECT_EQ(StrFormat("<%s>%u", long_text.c_str(), 42u), "<" + long_text + ">42");
}

TEST(FormatFixedTest, RoundsLikePrintfInTheCLocaleUnderAnyLocale) {
  // printf("%.2f") rounds the exact binary value: 0.025 lies just above,
  // 0.015 just below the half.
  const std::pair<double, const char*> cases[] = {
      {0.025, "0.03"}, {0.015, "0.01"}, {0.005, "0.01"},
      {0.0, "0.00"},   {0.03, "0.03"},  {1280.5, "1280.50"},
  };
  auto check = [&cases] {
    for (const auto& [value, text] : cases) EXPECT_EQ(FormatFixed(value, 2), text) << value;
    EXPECT_EQ(FormatFixed(2.5, 0), "2");
    EXPECT_EQ(FormatFixed(1e300, 300), "");  // would not fit
  };
  check();
  testing::ScopedForeignLocale locale;
  if (!locale.ok()) GTEST_SKIP() << "no non-C locale: " << locale.why_not();
  ASSERT_EQ(StrFormat("%.2f", 0.025), "0,03") << "the locale is not in effect";
  check();
}

}  // namespace
}  // namespace korvela
