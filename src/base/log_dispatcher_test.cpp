#include "base/log_dispatcher.h"

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "korvela/debug_message.h"

#include "base/debug_info.h"
#include "recorder/debug_sink.h"

namespace korvela {
namespace {

using recorder::DebugSink;

// Counts what reaches it, then throws, as a broken recorder sink might.
struct ThrowingSink : ipcapture::IDebugInfoSink {
  void Report(const CDebugInfoIf*) override {
    ++reports;
    throw std::runtime_error("sink failure");
  }
  std::atomic<int> reports{0};
};

struct MappingCase {
  uint16_t major, minor;
  uint32_t level;
  int expected;  // -1: never delivered
};

TEST(LogDispatcherTest, LevelMappingByRecorderVersion) {
  const MappingCase cases[] = {
      // before 5.12: 3 and 100 become 2
      {5, 11, 2, 2},
      {5, 11, 3, 2},
      {5, 11, 4, -1},
      {5, 11, 100, 2},
      {0, 0, 100, 2},
      // 5.12 up to before 6.3: 100 becomes 3
      {5, 12, 3, 3},
      {5, 12, 4, -1},
      {5, 12, 100, 3},
      {6, 2, 100, 3},
      {LogDispatcher::kUnreadableVersionMajor, LogDispatcher::kUnreadableVersionMinor, 100, 3},
      // 6.3 and later: unchanged
      {6, 3, 3, 3},
      {6, 3, 4, -1},
      {6, 3, 100, 100},
      {7, 0, 1, 1}};
  for (const auto& c : cases) {
    DebugSink sink;
    LogDispatcher log;
    log.SetSink(&sink);
    log.SetRecorderVersion(c.major, c.minor);
    log.Message(c.level, "%s: line", "origin");
    auto reports = sink.Lines();
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " level " << c.level);
    if (c.expected < 0) {
      EXPECT_TRUE(reports.empty());
    } else {
      ASSERT_EQ(reports.size(), 1u);
      EXPECT_EQ(reports[0].level, c.expected);
      EXPECT_EQ(reports[0].text, "origin: line");
    }
  }
}

TEST(LogDispatcherTest, FormatsCompletelyAndEmptyTextArrivesAsNull) {
  DebugSink sink;
  LogDispatcher log;
  log.SetSink(&sink);
  log.SetRecorderVersion(6, 3);
  const std::string long_part(10000, 'x');
  log.Message(1, "%s: %s is offline or failed (%u)", "korvela::Test::Run", long_part.c_str(), 7u);
  log.Message(3, "%s", "");
  log.Message(1, nullptr);
  auto reports = sink.Lines();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].text, "korvela::Test::Run: " + long_part + " is offline or failed (7)");
  EXPECT_EQ(reports[1].level, 3);
  EXPECT_FALSE(reports[1].has_text);
}

TEST(LogDispatcherTest, WithoutSinkNothingIsKeptForLater) {
  DebugSink sink;
  LogDispatcher log;
  log.Message(1, "%s: before open", "o");
  log.SetSink(&sink);
  log.Message(1, "%s: after open", "o");
  log.SetSink(nullptr);
  log.Message(1, "%s: after close", "o");
  auto reports = sink.Lines();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "o: after open");
}

TEST(LogDispatcherTest, ThrowingSinkDoesNotEscapeAndConcurrentCallersAllArrive) {
  ThrowingSink sink;
  LogDispatcher log;
  log.SetSink(&sink);
  log.SetRecorderVersion(6, 3);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) log.Message(1, "%s: %d/%d", "o", t, i);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(sink.reports.load(), 800);
}

TEST(CDebugInfoTest, OwnsACopyOfTheText) {
  std::string text = "origin: message";
  CDebugInfo info(2, text.c_str());
  text[0] = 'X';
  EXPECT_STREQ(info.GetText(), "origin: message");
  EXPECT_EQ(info.GetLevel(), 2);
  EXPECT_EQ(CDebugInfo(1, "").GetText(), nullptr);
  EXPECT_EQ(CDebugInfo(1, nullptr).GetText(), nullptr);
}

}  // namespace
}  // namespace korvela
