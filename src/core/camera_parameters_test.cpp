// Reading camera parameters: what counts as a number and as an audio
// capability text.
#include "core/camera_parameters.h"

#include <gtest/gtest.h>

#include "core/idriver.h"

namespace korvela {
namespace {

TEST(ParseParameterNumber, AcceptsSignedDigitsOnly) {
  struct Case {
    const char* text;
    std::optional<int32_t> expected;
  };
  const Case cases[] = {
      {"+5", 5},
      {"-5", -5},
      {"0", 0},
      {"01", 1},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"", std::nullopt},
      {"5a", std::nullopt},
      {" 5", std::nullopt},
      {"5 ", std::nullopt},
      {"--5", std::nullopt},
      {"(none)", std::nullopt},
      // Beyond 32 bits a scan would give an undefined value: not a number.
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseParameterNumber(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ParseAudioChannelCount, BothFieldsOrNothing) {
  struct Case {
    const char* text;
    uint32_t expected;
  };
  const Case cases[] = {
      {"Count=1; IsStereo=0", 1},
      {"Count=2; IsStereo=1", 2},
      {"Count=2;IsStereo=1", 2},       // the blank matches no white space too
      {"Count= 3;   IsStereo= 0", 3},  // %u skips leading blanks
      {"Count=4; IsStereo=1 trailing", 4},
      {"Count=1", 0},  // stereo field missing
      {"Count=1; ", 0},
      {"Count=1; IsStereo=", 0},
      {"Count=0; IsStereo=0", 0},
      {"", 0},
      {"count=1; IsStereo=0", 0},
      {" Count=1; IsStereo=0", 0},
      {"Count=-1; IsStereo=0", 0},  // would wrap to a huge limit
      {"Count=4294967296; IsStereo=0", 0},
      {"Count=x; IsStereo=0", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseAudioChannelCount(c.text), c.expected) << '"' << c.text << '"';
}

TEST(CameraParameters, NoneReadsEmptyAndNotANumber) {
  CameraParameters p;
  p.Set(4, "(none)");
  p.Set(1, "-5");
  p.Set(7, "01");
  EXPECT_EQ(p.Get(4), "");
  EXPECT_EQ(p.GetInt(4), kParameterNotANumber);
  EXPECT_EQ(p.Get(9), "");
  EXPECT_EQ(p.GetInt(9), kParameterNotANumber);
  EXPECT_EQ(p.GetInt(1), -5);
  EXPECT_EQ(p.Get(7), "01");
  p.Set(7, "1");  // a later value overwrites
  EXPECT_EQ(p.Get(7), "1");
  EXPECT_EQ(p.size(), 3u);
}

}  // namespace
}  // namespace korvela
