#include "util/base64.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace korvela::codec {
namespace {

std::string AsString(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// RFC 4648, section 10.
TEST(Base64Test, Rfc4648Vectors) {
  const std::pair<const char*, const char*> kCases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : kCases) {
    EXPECT_EQ(Base64Encode(std::string_view(plain)), encoded);
    auto decoded = Base64Decode(encoded);
    ASSERT_TRUE(decoded.has_value()) << encoded;
    EXPECT_EQ(AsString(*decoded), plain);
    EXPECT_EQ(Base64EncodedSize(std::string_view(plain).size()), std::string_view(encoded).size());
  }
}

TEST(Base64Test, AllByteValuesRoundTrip) {
  std::vector<uint8_t> all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
  for (size_t len = 0; len <= all.size(); len += 37) {
    std::vector<uint8_t> part(all.begin(), all.begin() + static_cast<long>(len));
    const std::string encoded = Base64Encode(part);
    auto decoded = Base64Decode(encoded);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, part);
  }
  // Bytes that map onto '+' and '/'.
  const uint8_t high[] = {0xfb, 0xff, 0xbf};
  EXPECT_EQ(Base64Encode(high), "+/+/");
}

TEST(Base64Test, DecodeRejectsMalformedInput) {
  const char* kBad[] = {
      "Zg=",       // length not a multiple of four
      "Zg==Zg==",  // padding before the end
      "Z===",      // three padding characters
      "Zm9v\r\n",  // line breaks are not part of plain Base64
      "Zm9*",      // character outside the alphabet
      "Zh==",      // non-zero unused bits
      "Zm9=",      // non-zero unused bits with one '='
      "=Zm9",
  };
  for (const char* bad : kBad) EXPECT_FALSE(Base64Decode(bad).has_value()) << bad;
}

}  // namespace
}  // namespace korvela::codec
