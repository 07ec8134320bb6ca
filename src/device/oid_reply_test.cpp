#include "device/oid_reply.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace korvela::HUtils {
namespace {

TEST(OidReplyTest, UnwrapsValuesAndErrorReports) {
  struct Case {
    std::string body;
    bool several;
    std::string value;
    std::string error;
  };
  const std::string kManyLineFeeds(65536, '\n');
  const Case cases[] = {
      {"<html><body><xmp>IQ041S</xmp></body></html>", false, "IQ041S", ""},
      {"<xmp>ERROR: no such OID</xmp>", false, "", "ERROR: no such OID"},
      {"<xmp>Parameter eRRor</xmp>", false, "", "Parameter eRRor"},
      {"<xmp>1.17.1.2=64\n1.9.5=err\n1.9.6=on</xmp>", true, "1.17.1.2=64\n1.9.6=on\n", ""},
      {"<xmp>1.2.7=IQ041S\r\n1.3.15=ERROR\r\n1.4=1\r\n</xmp>", true, "1.2.7=IQ041S\r\n1.4=1\r\n",
       ""},
      {"<xmp>1.9.5=err\n1.9.6=Err\n</xmp>", true, "", ""},
      // Only "<xmp" directly followed by ">" opens the value block.
      {"<xmp class=\"title\">not this</xmp>\n<xmp>1.2.7=IQ762</xmp>", false, "1.2.7=IQ762", ""},
      {"<xmp class=\"title\">not this</xmp>\n<xmp>1.2.7=IQ762</xmp>", true, "1.2.7=IQ762\n", ""},
      {std::string("<xmp>a\0b</xmp>\0", 15), false, std::string("a\0b", 3), ""},
      // Empty lines are kept as lines, each an empty piece of the one body.
      {"<xmp>" + kManyLineFeeds + "</xmp>", true, kManyLineFeeds, ""},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> bytes(c.body.begin(), c.body.end());
    const OidReply r = ParseOidReply(std::span<const uint8_t>(bytes), c.several);
    EXPECT_EQ(r.value, c.value) << c.body.substr(0, 80);
    EXPECT_EQ(r.error, c.error) << c.body.substr(0, 80);
  }
  // Without a block, or with nothing in it: no value and no error.
  for (bool several : {false, true}) {
    for (const char* body : {"", "<xmp></xmp>", "<xmp>1.2.7=x", "no page at all", "</xmp><xmp"}) {
      const OidReply r = ParseOidReply(body, several);
      EXPECT_EQ(r.value, "") << body;
      EXPECT_EQ(r.error, "") << body;
    }
  }
}

}  // namespace
}  // namespace korvela::HUtils
