#include "util/md5.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace korvela::codec {
namespace {

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Test, Rfc1321Vectors) {
  const std::pair<const char*, const char*> kCases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [input, hex] : kCases) EXPECT_EQ(Md5HexOf(input), hex) << input;
}

// Lengths around the 56/64-byte padding boundary take different paths in
// Finish(); incremental updates split at every position must agree with the
// one-shot digest.
TEST(Md5Test, IncrementalMatchesOneShotAcrossBlockBoundaries) {
  for (size_t len : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 200u}) {
    std::string text;
    for (size_t i = 0; i < len; ++i) text.push_back(static_cast<char>('a' + i % 26));
    const std::string expected = Md5HexOf(text);
    for (size_t split = 0; split <= len; ++split) {
      Md5 md5;
      md5.Update(std::string_view(text).substr(0, split));
      md5.Update(std::string_view(text).substr(split));
      ASSERT_EQ(Md5ToHex(md5.Finish()), expected) << "len " << len << " split " << split;
    }
  }
}

TEST(Md5Test, KnownLongerInputs) {
  // 64 and 56 bytes of 'a' (checked against coreutils md5sum).
  EXPECT_EQ(Md5HexOf(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
  EXPECT_EQ(Md5HexOf(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  // A million 'a's fed in uneven pieces.
  Md5 md5;
  const std::string piece(997, 'a');
  size_t fed = 0;
  while (fed + piece.size() <= 1000000) {
    md5.Update(piece);
    fed += piece.size();
  }
  md5.Update(std::string(1000000 - fed, 'a'));
  EXPECT_EQ(Md5ToHex(md5.Finish()), "7707d6ae4e027c70eea2a935c2296f21");
}

}  // namespace
}  // namespace korvela::codec
