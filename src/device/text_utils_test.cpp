#include "device/text_utils.h"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "util/ascii.h"
#include "util/base64.h"

namespace korvela {
namespace {

std::span<const uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
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

TEST(ExtractBetweenTest, Markers) {
  struct Case {
    const char* text;
    const char* open;
    const char* open_end;
    const char* close;
    const char* between;
  };
  const Case cases[] = {
      // The OID reply markers are tested with the reply parser. The closing tag is searched after
      // the opening one, not before it.
      {"</xmp><xmp>v</xmp>", "<xmp", ">", "</xmp>", "v"},
      {"<xmp>v</xmp>", "", ">", "</xmp>", ""},
      {"<xmp>v</xmp>", "<xmp", "", "</xmp>", ""},
      {"<xmp>v</xmp>", "<xmp", ">", "", ""},
      {"[[key:=value]]", "[[key", ":=", "]]", "value"},
      {"[[key:=]]", "[[key", ":=", "]]", ""},
      // The marker end found at the opening marker itself: the search advances.
      {"abab", "ab", "a", "b", ""},
      {"aaaa", "a", "a", "x", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractBetween(c.text, c.open, c.open_end, c.close), c.between) << c.text;
  }
}

TEST(GetValueTest, Lookups) {
  struct Case {
    const char* text;
    const char* key;
    const char* separator;
    const char* delimiters;
    const char* value;
  };
  const Case cases[] = {
      // A key that is only the end of a longer name does not match.
      {"a=1\nab=2", "ab", "=", "\r\n", "2"},
      {"a=1\nab=2", "a", "=", "\r\n", "1"},
      {"a=1\nab=2", "b", "=", "\r\n", ""},
      {"xa=1\r\na=7\r\n", "a", "=", "\r\n", "7"},
      {"1.17.1.2=64\n1.9.6=on\n", "1.9.6", "=", "\r\n", "on"},
      {"1.2.7=IQ041S", "1.2.7", "=", "\r\n", "IQ041S"},  // last item runs to the end
      // The key inside an earlier value does not hide the item.
      {"x=a\na=1", "a", "=", "\n", "1"},
      {"1.2.7=1.9.6 x\n1.9.6=on", "1.9.6", "=", "\r\n", "on"},
      // The name is trimmed, the value is not.
      {"  a\t= 1 ;b=2", "a", "=", ";", " 1 "},
      {"Session: 4711;timeout=60", "Session:", " ", ";\r\n", "4711"},
      {"realm=\"nonce-realm\", nonce=\"abc\"", "nonce", "=", ",\r\n", "\"abc\""},
      // An empty value continues to a later item; a separator outside the item does not count.
      {"a=\na=5", "a", "=", "\n", "5"},
      {"a=", "a", "=", "\n", ""},
      {"a\nb=1", "a", "=", "\n", ""},
      {"ab:=1", "ab", ":=", "\n", "1"},
      {"ab:\n=1", "ab", ":=", "\n", ""},
      {"a=1", "", "=", "\n", ""},  // an empty key, separator or delimiter set finds nothing
      {"a=1", "a", "", "\n", ""},
      {"a=1", "a", "=", "", ""},
      // Keys made of delimiter or separator characters must not stall the search.
      {"=a=1", "=a", "=", "=", ""},
      {"\n\n\n", "\n", "=", "\n", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetValue(c.text, c.key, c.separator, c.delimiters), c.value)
        << c.text << " key " << c.key;
  }
}

TEST(GetValueTest, LinearInTheNumberOfLines) {
  // Two million lines holding the key without a separator, the value on the
  // last line. Looking for the separator beyond each line makes this take
  // hours (the test's time-out ends it); within the line it is a moment.
  std::string text;
  constexpr size_t kLines = 2'000'000;
  text.reserve(kLines * 2 + 8);
  for (size_t i = 0; i < kLines; ++i) text += "k\n";
  text += "k=v";
  EXPECT_EQ(GetValue(text, "k", "=", "\r\n"), "v");
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

TEST(NumberTest, SignedAndDeviceNumbers) {
  struct Case {
    const char* text;
    bool int_ok;
    int32_t int_value;
    bool uint_ok;
    uint32_t uint_value;
  };
  const Case kCases[] = {
      {"-12", true, -12, false, 0},
      {"+7", true, 7, false, 0},
      {"0", true, 0, true, 0},
      {"007", true, 7, true, 7},
      {"2147483647", true, INT32_MAX, true, 2147483647u},
      {"-2147483648", true, INT32_MIN, false, 0},
      {"2147483648", false, 0, true, 2147483648u},
      {"4294967295", false, 0, true, UINT32_MAX},
      {"4294968576", false, 0, false, 0},  // atoi read it as 1280
      {"-2147483649", false, 0, false, 0},
      {"99999999999999999999", false, 0, false, 0},
      {"12a", false, 0, false, 0},
      {"-", false, 0, false, 0},
      {"+", false, 0, false, 0},
      {"", false, 0, false, 0},
      {"+-1", false, 0, false, 0},
      {"1-", false, 0, false, 0},
      {" 1", false, 0, false, 0},
      {"1 ", false, 0, false, 0},
      {"0x10", false, 0, false, 0},
  };
  for (const Case& c : kCases) {
    int32_t value = 12345;
    EXPECT_EQ(ParseInt(c.text, value), c.int_ok) << c.text;
    EXPECT_EQ(value, c.int_value) << c.text;
    uint32_t unsigned_value = 12345;
    EXPECT_EQ(ParseUint32(c.text, unsigned_value), c.uint_ok) << c.text;
    EXPECT_EQ(unsigned_value, c.uint_value) << c.text;
  }
}

TEST(NumberTest, SizeText) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t width;
    uint32_t height;
  };
  const Case kCases[] = {
      {"1280x1024", true, 1280, 1024},
      {"0x0", true, 0, 0},
      {"1280x1024x2", false, 0, 0},
      {"1280", false, 0, 0},
      {"", false, 0, 0},
      {"x1024", false, 0, 0},
      {"1280x", false, 0, 0},
      {" 800x600", false, 0, 0},
      {"1280px1024", false, 0, 0},
      {"1280X1024", false, 0, 0},
      {"4294968576x720", false, 0, 0},
  };
  for (const Case& c : kCases) {
    uint32_t width = 7;
    uint32_t height = 7;
    EXPECT_EQ(ParseSizeText(c.text, width, height), c.ok) << c.text;
    EXPECT_EQ(width, c.width) << c.text;
    EXPECT_EQ(height, c.height) << c.text;
  }
}

TEST(CleanDeviceTextTest, ControlCharactersReplacedLengthCapped) {
  const std::string a256(kMaxDeviceTextBytes, 'a');
  const std::string a255 = a256.substr(1);
  const std::string a254 = a256.substr(2);
  const std::pair<std::string, std::string> cases[] = {
      {"3.4.2", "3.4.2"},
      {"3.4.2\r\nkorvela::X: Camera 1 is online", "3.4.2??korvela::X: Camera 1 is online"},
      {"\x1b[2J\x1b]0;title\x07", "?[2J?]0;title?"},
      {std::string("a\tb\x7f\0c", 6), "a?b??c"},
      {"Caf\xC3\xA9 \xC4\xB0stanbul", "Caf\xC3\xA9 \xC4\xB0stanbul"},  // UTF-8 kept
      {a256, a256},
      {a256 + "b", a256},
      {a255 + "\xC3\xA9", a255},  // not cut inside the two-byte character
      {a254 + "\xC3\xA9", a254 + "\xC3\xA9"},
      {a256 + "\x80\x80\x80\x80", a256},  // stray continuation bytes: cut at the limit
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(CleanDeviceText(in), out) << in.substr(0, 40);
}

TEST(HexToBytesTest, PairsAndOddTail) {
  using V = std::vector<uint8_t>;
  EXPECT_EQ(HexToBytes("0aF"), (V{0x0a, 0x0f}));
  EXPECT_EQ(HexToBytes("FF10a0"), (V{0xff, 0x10, 0xa0}));
  EXPECT_EQ(HexToBytes("1190"), (V{0x11, 0x90}));  // an AAC config string
  EXPECT_EQ(HexToBytes(""), V{});
  EXPECT_EQ(HexToBytes("zz1g"), (V{0x00, 0x10}));  // non-digits count as 0
}

TEST(Base64EncodeTest, LinesCapacityAndMissingBuffers) {
  struct Case {
    size_t length;    // of the input
    size_t capacity;  // of the output
    bool ok;
    size_t written;
  };
  const Case cases[] = {
      {57, 100, true, 76},    // exactly one line, no break
      {58, 100, true, 82},    // a CR LF after the 76th character
      {114, 200, true, 154},  // two full lines, no break after the last
      {58, 84, true, 82},     // capacity 80 + 2 per full line + 2 spare
      {58, 83, false, 0},
  };
  for (const Case& c : cases) {
    const std::string input(c.length, 'a');
    std::vector<char> out(c.capacity, '#');
    size_t written = 99;
    EXPECT_EQ(Base64Encode(Bytes(input), out, written), c.ok) << c.length;
    EXPECT_EQ(written, c.written);
    std::string text(out.data(), written);
    if (c.written > 78) {
      EXPECT_EQ(text.substr(76, 2), "\r\n") << c.length;
      text.erase(76, 2);
    }
    // A failed encode writes nothing.
    EXPECT_EQ(text + std::string(out.begin() + written, out.end()),
              c.ok ? codec::Base64Encode(input) + std::string(c.capacity - written, '#')
                   : std::string(c.capacity, '#'));
  }
  EXPECT_EQ(Base64EncodeCapacity(0), 2u);
  EXPECT_EQ(Base64EncodeCapacity(SIZE_MAX), 0u);  // not representable
  size_t written = 7;
  char out[16];
  EXPECT_FALSE(Base64Encode({}, out, written));
  const uint8_t in[3] = {1, 2, 3};
  EXPECT_FALSE(Base64Encode(in, std::span<char>(), written));
}

TEST(MakeBasicTokenTest, TokenStaysOnOneLineAndComplete) {
  EXPECT_EQ(MakeBasicToken("Aladdin", "open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
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
  for (char c : seen) EXPECT_TRUE(IsAsciiAlpha(c) || IsAsciiDigit(c)) << c;
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
