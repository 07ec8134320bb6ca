#include "io_host.h"

#include <gtest/gtest.h>

namespace korvela::recorder {
namespace {

using std::chrono::milliseconds;

std::chrono::system_clock::time_point At(int64_t ms_since_epoch) {
  return std::chrono::system_clock::time_point(milliseconds(ms_since_epoch));
}

TEST(IoHostTest, KeepsEventsInOrderWithTheirTime) {
  int64_t now = 1'796'000'000'123;  // 2026-11-30T00:53:20.123Z
  IoHost host([&] { return At(now++); });
  host.OnInputChanged(0, 1);
  host.OnDeviceError();
  host.OnInputChanged(0, 2);
  auto events = host.Take();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(FormatIoEvent(events[0]), "2026-11-30T00:53:20.123Z input 0 open");
  EXPECT_EQ(FormatIoEvent(events[1]), "2026-11-30T00:53:20.124Z device error");
  EXPECT_EQ(FormatIoEvent(events[2]), "2026-11-30T00:53:20.125Z input 0 closed");
  EXPECT_TRUE(host.Take().empty());
}

TEST(IoHostTest, UnknownStatesAreNamedAsSuch) {
  IoEvent undetermined{IoEvent::Kind::kInputChanged, 3, 0, At(0)};
  IoEvent odd{IoEvent::Kind::kInputChanged, 3, 9, At(0)};
  EXPECT_EQ(FormatIoEvent(undetermined), "1970-01-01T00:00:00.000Z input 3 undetermined");
  EXPECT_EQ(FormatIoEvent(odd), "1970-01-01T00:00:00.000Z input 3 unknown");
}

TEST(IoHostTest, KeepsAtMostTheLimitAndDropsTheOldest) {
  IoHost host;
  for (size_t i = 0; i < IoHost::kMaxIoEvents; ++i)
    host.OnInputChanged(static_cast<uint32_t>(i), 1);
  EXPECT_EQ(host.Dropped(), 0u);
  host.OnDeviceError();  // one past the limit
  EXPECT_EQ(host.Dropped(), 1u);
  auto events = host.Take();
  ASSERT_EQ(events.size(), IoHost::kMaxIoEvents);
  EXPECT_EQ(events.front().input, 1u);
  EXPECT_EQ(events.back().kind, IoEvent::Kind::kDeviceError);
}

}  // namespace
}  // namespace korvela::recorder
