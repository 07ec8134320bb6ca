#include "device/io_base_states.h"

#include <gtest/gtest.h>

#include "device/digital_io_protocol.h"

namespace korvela {
namespace {

// What the table reports and claims is seen through CIOBase (io_base_test);
// here its bound.
TEST(IOStateTableTest, CountsAreCappedAtTheLimit) {
  CIOStateTable table;
  table.Reset(0xFFFFFFFFu, 0xFFFFFFFFu);
  table.SetOutputs(0xFFFFFFFFu, 1);
  EXPECT_TRUE(table.Input(kMaxIoPoints - 1).has_value());
  EXPECT_FALSE(table.Input(kMaxIoPoints).has_value());
  EXPECT_EQ(table.Output(kMaxIoPoints - 1), 1u);
  EXPECT_FALSE(table.Output(kMaxIoPoints).has_value());
}

TEST(DigitalIoProtocolTest, InputReplyWords) {
  struct Case {
    const char* body;
    uint32_t state;
  };
  const Case cases[] = {
      {"<html><xmp>OPEN</xmp></html>", kInputOpen},
      {"<xmp>CLOSED\r\n</xmp>", kInputClosed},
      {"CLOSED then OPEN", kInputOpen},  // both words count as open
      {"OPEN CLOSED", kInputOpen},
      {"<xmp>open</xmp>", kInputUndetermined},  // the camera writes capitals
      {"<xmp>disabled</xmp>", kInputUndetermined},
      {"", kInputUndetermined},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseInputReply(c.body), c.state) << c.body;
}

TEST(DigitalIoProtocolTest, OutputWritePath) {
  EXPECT_EQ(BuildOutputWritePath(1), "/set.oid?OidTR1.3.5.1=OPEN");
  EXPECT_EQ(BuildOutputWritePath(0), "/set.oid?OidTR1.3.5.1=CLOSED");
  EXPECT_EQ(BuildOutputWritePath(2), "/set.oid?OidTR1.3.5.1=CLOSED");
}

}  // namespace
}  // namespace korvela
