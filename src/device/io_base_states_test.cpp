#include "device/io_base_states.h"

#include <gtest/gtest.h>

#include "device/digital_io_protocol.h"

namespace korvela {
namespace {

TEST(IOStateTableTest, ResetCreatesEntriesBelowTheCountsOnly) {
  CIOStateTable table;
  EXPECT_FALSE(table.Input(0).has_value());
  table.Reset(1, 2);
  EXPECT_EQ(table.Input(0), 0u);
  EXPECT_FALSE(table.Input(1).has_value());
  EXPECT_EQ(table.Output(0), 0u);
  EXPECT_EQ(table.Output(1), 0u);
  EXPECT_FALSE(table.Output(2).has_value());
}

TEST(IOStateTableTest, InputChangeIsReportedOnceAndOnlyForKnownInputs) {
  CIOStateTable table;
  table.Reset(1, 0);
  EXPECT_TRUE(table.UpdateInput(0, kInputOpen));
  EXPECT_FALSE(table.UpdateInput(0, kInputOpen));  // same answer again: nothing
  EXPECT_TRUE(table.UpdateInput(0, kInputClosed));
  EXPECT_TRUE(table.UpdateInput(0, kInputUndetermined));
  EXPECT_FALSE(table.UpdateInput(0, kInputUndetermined));
  EXPECT_FALSE(table.UpdateInput(5, kInputOpen));
  EXPECT_FALSE(table.Input(5).has_value());
}

TEST(IOStateTableTest, OutputClaimsDropRepeatsAndUnknownOutputs) {
  CIOStateTable table;
  table.Reset(0, 1);
  table.SetOutputs(1, kOutputOpen);
  EXPECT_FALSE(table.ClaimOutput(0, 1));  // already open after start
  EXPECT_TRUE(table.ClaimOutput(0, 0));
  EXPECT_FALSE(table.ClaimOutput(0, 0));
  EXPECT_FALSE(table.ClaimOutput(1, 0));
  // After a reset the next command for the output is written again,
  // including "closed", which equals the reset value 0.
  table.Reset(0, 1);
  EXPECT_EQ(table.Output(0), 0u);
  EXPECT_TRUE(table.ClaimOutput(0, 0));
  EXPECT_FALSE(table.ClaimOutput(0, 0));
  table.Reset(0, 1);
  EXPECT_TRUE(table.ClaimOutput(0, kOutputOpen));
}

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
