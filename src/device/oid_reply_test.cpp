#include "device/oid_reply.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace korvela::HUtils {
namespace {

TEST(OidReplyTest, SingleValue) {
  const OidReply r = ParseOidReply("<html><body><xmp>IQ041S</xmp></body></html>", false);
  EXPECT_EQ(r.value, "IQ041S");
  EXPECT_EQ(r.error, "");
}

TEST(OidReplyTest, SingleErrorReportMovesToError) {
  for (const char* text : {"ERROR: no such OID", "err", "Parameter eRRor"}) {
    const OidReply r = ParseOidReply(std::string("<xmp>") + text + "</xmp>", false);
    EXPECT_EQ(r.value, "") << text;
    EXPECT_EQ(r.error, text);
  }
}

TEST(OidReplyTest, MultiDropsErrorLinesKeepsOrder) {
  const OidReply r = ParseOidReply("<xmp>1.17.1.2=64\n1.9.5=err\n1.9.6=on</xmp>", true);
  EXPECT_EQ(r.value, "1.17.1.2=64\n1.9.6=on\n");
  EXPECT_EQ(r.error, "");
}

TEST(OidReplyTest, MultiKeepsCarriageReturns) {
  const OidReply r = ParseOidReply("<xmp>1.2.7=IQ041S\r\n1.3.15=ERROR\r\n1.4=1\r\n</xmp>", true);
  EXPECT_EQ(r.value, "1.2.7=IQ041S\r\n1.4=1\r\n");
}

TEST(OidReplyTest, MultiAllRejectedIsEmptySuccess) {
  EXPECT_EQ(ParseOidReply("<xmp>1.9.5=err\n1.9.6=Err\n</xmp>", true).value, "");
}

TEST(OidReplyTest, AttributedTagIsSkipped) {
  const char* kPage = "<xmp class=\"title\">not this</xmp>\n<xmp>1.2.7=IQ762</xmp>";
  EXPECT_EQ(ParseOidReply(kPage, false).value, "1.2.7=IQ762");
  EXPECT_EQ(ParseOidReply(kPage, true).value, "1.2.7=IQ762\n");
}

TEST(OidReplyTest, MissingOrEmptyBlockGivesEmptyWithoutError) {
  for (bool several : {false, true}) {
    for (const char* body : {"", "<xmp></xmp>", "<xmp>1.2.7=x", "no page at all", "</xmp><xmp"}) {
      const OidReply r = ParseOidReply(body, several);
      EXPECT_EQ(r.value, "") << body;
      EXPECT_EQ(r.error, "") << body;
    }
  }
}

TEST(OidReplyTest, BinaryBodyWithZeros) {
  const std::vector<uint8_t> body = {'<', 'x', 'm', 'p', '>', 'a', 0, 'b',
                                     '<', '/', 'x', 'm', 'p', '>', 0};
  const OidReply r = ParseOidReply(std::span<const uint8_t>(body), false);
  EXPECT_EQ(r.value, std::string("a\0b", 3));
}

TEST(OidReplyTest, OidListKinds) {
  EXPECT_FALSE(IsMultiOidList("1.2.7"));
  EXPECT_TRUE(IsMultiOidList("1.2.7&1.3.15"));
  EXPECT_FALSE(IsMultiOidList(""));
}

}  // namespace
}  // namespace korvela::HUtils
