#include "device/text_utils.h"

#include <set>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "util/base64.h"

namespace korvela {
namespace {

std::span<const uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string Encode(std::string_view input, size_t capacity, bool* ok = nullptr) {
  std::vector<char> out(capacity, '#');
  size_t written = 99;
  const bool result = Base64Encode(Bytes(input), out, written);
  if (ok != nullptr) *ok = result;
  if (!result) {
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(std::string(out.begin(), out.end()), std::string(capacity, '#'))
        << "a failed encode must not write";
    return {};
  }
  return std::string(out.data(), written);
}

TEST(StrFormatTest, FormatsWithoutLengthLimit) {
  EXPECT_EQ(StrFormat("/get.oid?%s&%s", "1.2.7", "1.3.15"), "/get.oid?1.2.7&1.3.15");
  EXPECT_EQ(StrFormat("%s", ""), "");
  const std::string long_text(5000, 'x');
  const std::string out = StrFormat("<%s>%u", long_text.c_str(), 42u);
  EXPECT_EQ(out, "<" + long_text + ">42");
}

TEST(SimpleTextTest, ToLowerTrimRemoveChars) {
  EXPECT_EQ(ToLower("ERROR: Bad OID 1.2.X"), "error: bad oid 1.2.x");
  EXPECT_EQ(ToLower("\xC4\x80"), "\xC4\x80");  // bytes above 0x7f pass through

  EXPECT_EQ(Trim(" \t a b\t \t"), "a b");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim(" \t \t"), "");
  EXPECT_EQ(Trim("\r\nx\r\n"), "\r\nx\r\n");  // only blanks and tabs are trimmed

  EXPECT_EQ(RemoveChars("\"realm\"", "\""), "realm");
  EXPECT_EQ(RemoveChars("a-b_c", "_-"), "abc");
  EXPECT_EQ(RemoveChars("abc", ""), "abc");
}

TEST(ExtractBetweenTest, XmpMarkers) {
  constexpr std::string_view kOpen = "<xmp", kEnd = ">", kClose = "</xmp>";
  EXPECT_EQ(ExtractBetween("<html><xmp>1.2.7=IQ041S</xmp></html>", kOpen, kEnd, kClose),
            "1.2.7=IQ041S");
  // An opening tag with an attribute is not the marker; the plain block after it is.
  EXPECT_EQ(ExtractBetween("<xmp class=a>first</xmp><xmp>second</xmp>", kOpen, kEnd, kClose),
            "second");
  EXPECT_EQ(ExtractBetween("<xmp></xmp>", kOpen, kEnd, kClose), "");
  EXPECT_EQ(ExtractBetween("<xmp>no closing tag", kOpen, kEnd, kClose), "");
  EXPECT_EQ(ExtractBetween("no markers at all", kOpen, kEnd, kClose), "");
  EXPECT_EQ(ExtractBetween("<xmp class=a>only attributed</xmp>", kOpen, kEnd, kClose), "");
  // The closing tag is searched after the opening one, not before it.
  EXPECT_EQ(ExtractBetween("</xmp><xmp>v</xmp>", kOpen, kEnd, kClose), "v");
}

TEST(ExtractBetweenTest, EmptyMarkersGiveEmpty) {
  EXPECT_EQ(ExtractBetween("<xmp>v</xmp>", "", ">", "</xmp>"), "");
  EXPECT_EQ(ExtractBetween("<xmp>v</xmp>", "<xmp", "", "</xmp>"), "");
  EXPECT_EQ(ExtractBetween("<xmp>v</xmp>", "<xmp", ">", ""), "");
}

TEST(ExtractBetweenTest, LongerMarkerEndIsNotPartOfTheValue) {
  EXPECT_EQ(ExtractBetween("[[key:=value]]", "[[key", ":=", "]]"), "value");
  EXPECT_EQ(ExtractBetween("[[key:=]]", "[[key", ":=", "]]"), "");
}

TEST(ExtractBetweenTest, MarkerEndInsideOpeningMarkerTerminates) {
  // The marker end is found at the opening marker itself; the search must
  // still advance instead of finding the same place forever.
  EXPECT_EQ(ExtractBetween("abab", "ab", "a", "b"), "");
  EXPECT_EQ(ExtractBetween("aaaa", "a", "a", "x"), "");
}

TEST(GetValueTest, KeyThatEndsALongerNameDoesNotMatch) {
  constexpr std::string_view kText = "a=1\nab=2";
  EXPECT_EQ(GetValue(kText, "ab", "=", "\r\n"), "2");
  EXPECT_EQ(GetValue(kText, "a", "=", "\r\n"), "1");
  EXPECT_EQ(GetValue(kText, "b", "=", "\r\n"), "");
  EXPECT_EQ(GetValue("xa=1\r\na=7\r\n", "a", "=", "\r\n"), "7");
}

TEST(GetValueTest, OidReplyLines) {
  constexpr std::string_view kReply = "1.17.1.2=64\n1.9.6=on\n";
  EXPECT_EQ(GetValue(kReply, "1.17.1.2", "=", "\r\n"), "64");
  EXPECT_EQ(GetValue(kReply, "1.9.6", "=", "\r\n"), "on");
  EXPECT_EQ(GetValue(kReply, "1.9.5", "=", "\r\n"), "");
  // Last item without a delimiter runs to the end of the text.
  EXPECT_EQ(GetValue("1.2.7=IQ041S", "1.2.7", "=", "\r\n"), "IQ041S");
}

TEST(GetValueTest, KeyInsideAnEarlierValueDoesNotHideTheItem) {
  EXPECT_EQ(GetValue("x=a\na=1", "a", "=", "\n"), "1");
  EXPECT_EQ(GetValue("realm=\"nonce-realm\", nonce=\"abc\"", "nonce", "=", ",\r\n"), "\"abc\"");
  EXPECT_EQ(GetValue("1.2.7=1.9.6 x\n1.9.6=on", "1.9.6", "=", "\r\n"), "on");
}

TEST(GetValueTest, NameIsTrimmedValueIsNot) {
  EXPECT_EQ(GetValue("  a\t= 1 ;b=2", "a", "=", ";"), " 1 ");
  EXPECT_EQ(GetValue("Session: 4711;timeout=60", "Session:", " ", ";\r\n"), "4711");
  EXPECT_EQ(GetValue("Session: 4711;timeout=60", "timeout", "=", ";\r\n"), "60");
  EXPECT_EQ(GetValue("realm=\"cam\", nonce=\"abc\"", "nonce", "=", ",\r\n"), "\"abc\"");
}

TEST(GetValueTest, EmptyValueContinuesToALaterItem) {
  EXPECT_EQ(GetValue("a=\na=5", "a", "=", "\n"), "5");
  EXPECT_EQ(GetValue("a=\n", "a", "=", "\n"), "");
  EXPECT_EQ(GetValue("a=", "a", "=", "\n"), "");
  EXPECT_EQ(GetValue("a\nb=1", "a", "=", "\n"), "");  // separator outside the item
}

TEST(GetValueTest, EmptyArgumentsAndStuckKeys) {
  EXPECT_EQ(GetValue("a=1", "", "=", "\n"), "");
  EXPECT_EQ(GetValue("a=1", "a", "", "\n"), "");
  EXPECT_EQ(GetValue("a=1", "a", "=", ""), "");
  // Keys made of delimiter or separator characters must not stall the search.
  EXPECT_EQ(GetValue("=a=1", "=a", "=", "="), "");
  EXPECT_EQ(GetValue("\n\n\n", "\n", "=", "\n"), "");
}

TEST(SplitTest, BehavesLikeALineReader) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Split("", ','), V{});
  EXPECT_EQ(Split("a", ','), V{"a"});
  EXPECT_EQ(Split("a,b", ','), (V{"a", "b"}));
  EXPECT_EQ(Split("a,,b", ','), (V{"a", "", "b"}));
  EXPECT_EQ(Split("a,", ','), V{"a"});
  EXPECT_EQ(Split("a,,", ','), (V{"a", ""}));
  EXPECT_EQ(Split(",a", ','), (V{"", "a"}));
  EXPECT_EQ(Split(",", ','), V{""});
  EXPECT_EQ(Split("1.2=3\n1.4=5\n", '\n'), (V{"1.2=3", "1.4=5"}));
}

TEST(ParseIntTest, AcceptsAndRejects) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case kCases[] = {
      {"-12", true, -12},
      {"+7", true, 7},
      {"0", true, 0},
      {"007", true, 7},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"12a", false, 0},
      {"-", false, 0},
      {"+", false, 0},
      {"", false, 0},
      {"+-1", false, 0},
      {"1-", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"0x10", false, 0},
      // Out of range fails instead of wrapping to a wrong value.
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const Case& c : kCases) {
    int32_t value = 12345;
    EXPECT_EQ(ParseInt(c.text, value), c.ok) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(HexToBytesTest, PairsAndOddTail) {
  using V = std::vector<uint8_t>;
  EXPECT_EQ(HexToBytes("0aF"), (V{0x0a, 0x0f}));
  EXPECT_EQ(HexToBytes("FF10a0"), (V{0xff, 0x10, 0xa0}));
  EXPECT_EQ(HexToBytes("1190"), (V{0x11, 0x90}));  // an AAC config string
  EXPECT_EQ(HexToBytes(""), V{});
  EXPECT_EQ(HexToBytes("zz1g"), (V{0x00, 0x10}));  // non-digits count as 0
}

TEST(Md5HexTest, Rfc1321Vectors) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(
      Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
      "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Base64EncodeTest, Rfc4648Vectors) {
  const std::pair<const char*, const char*> kVectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [in, expected] : kVectors) {
    EXPECT_EQ(Encode(in, 64), expected) << in;
  }
}

TEST(Base64EncodeTest, BreaksLinesAfter76Characters) {
  const std::string in57(57, 'a');  // exactly one 76-character line
  const std::string one_line = Encode(in57, 100);
  EXPECT_EQ(one_line.size(), 76u);
  EXPECT_EQ(one_line.find('\r'), std::string::npos);

  const std::string in58(58, 'a');
  const std::string two_lines = Encode(in58, 100);
  ASSERT_EQ(two_lines.size(), 82u);
  EXPECT_EQ(two_lines.substr(76, 2), "\r\n");
  EXPECT_EQ(two_lines.substr(0, 76) + two_lines.substr(78), codec::Base64Encode(in58));

  const std::string in114(114, 'z');  // two full lines, no break after the last
  const std::string full = Encode(in114, 200);
  ASSERT_EQ(full.size(), 154u);
  EXPECT_EQ(full.substr(76, 2), "\r\n");
  EXPECT_NE(full.back(), '\n');
}

TEST(Base64EncodeTest, CapacityAtLimitAndOnePast) {
  // 58 bytes: 80 characters, one full line (+2), two spare (+2).
  EXPECT_EQ(Base64EncodeCapacity(58), 84u);
  const std::string in58(58, 'q');
  bool ok = false;
  EXPECT_EQ(Encode(in58, 84, &ok).size(), 82u);
  EXPECT_TRUE(ok);
  Encode(in58, 83, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Base64EncodeCapacity(0), 2u);
  EXPECT_EQ(Base64EncodeCapacity(SIZE_MAX), 0u);  // not representable
}

TEST(Base64EncodeTest, MissingBuffersFail) {
  char out[16];
  size_t written = 7;
  EXPECT_FALSE(Base64Encode({}, out, written));
  EXPECT_EQ(written, 0u);
  const uint8_t in[3] = {1, 2, 3};
  EXPECT_FALSE(Base64Encode(in, std::span<char>(), written));
}

TEST(MakeBasicTokenTest, KnownToken) {
  EXPECT_EQ(MakeBasicToken("Aladdin", "open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_EQ(MakeBasicToken("", ""), "Og==");
}

TEST(MakeBasicTokenTest, LongCredentialsStayOnOneLineAndComplete) {
  // 72, 73 and 58+ characters once crossed buffer and line limits; the token
  // must stay whole and unbroken at every length.
  for (size_t total : {57u, 58u, 72u, 73u, 100u, 500u}) {
    const std::string user = "u";
    const std::string password(total - 2, 'p');
    const std::string token = MakeBasicToken(user, password);
    EXPECT_EQ(token.find_first_of("\r\n"), std::string::npos) << total;
    const auto decoded = codec::Base64Decode(token);
    ASSERT_TRUE(decoded.has_value()) << total;
    EXPECT_EQ(std::string(decoded->begin(), decoded->end()), user + ":" + password) << total;
  }
}

TEST(RandomStringTest, LengthAlphabetAndSpread) {
  EXPECT_EQ(RandomString(0), "");
  const std::string s = RandomString(10000);
  ASSERT_EQ(s.size(), 10000u);
  std::set<char> seen(s.begin(), s.end());
  for (char c : seen) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << c;
  // Every one of the 62 characters shows up in 10000 draws unless the source
  // is broken (chance of a miss: about 62 * (61/62)^10000).
  EXPECT_EQ(seen.size(), 62u);
  EXPECT_NE(RandomString(32), RandomString(32));
}

TEST(IntervalFromRateTest, RoundsHalfUp) {
  EXPECT_EQ(IntervalFromRate(0), 1u);
  EXPECT_EQ(IntervalFromRate(30), 33u);
  EXPECT_EQ(IntervalFromRate(25), 40u);
  EXPECT_EQ(IntervalFromRate(6), 167u);  // 166.67
  EXPECT_EQ(IntervalFromRate(1), 1000u);
  EXPECT_EQ(IntervalFromRate(2000), 1u);  // 0.5 rounds up
  EXPECT_EQ(IntervalFromRate(2001), 0u);
  EXPECT_EQ(IntervalFromRate(UINT32_MAX), 0u);
}

}  // namespace
}  // namespace korvela
