#include "base/tick_thread.h"

#include <atomic>

#include <gtest/gtest.h>

namespace korvela {
namespace {

using platform::kInfinite;

// An hour: if a tick happens while the test waits, it happened before the
// first wait, not after a period.
constexpr uint32_t kLongPeriodMs = 3600 * 1000;

class CountingTicker : public CTickThread {
 public:
  CountingTicker() : CTickThread(nullptr) {}
  ~CountingTicker() override { StopThread(kInfinite); }
  std::atomic<int> ticks{0};
  CEvent ticked;
  int wanted = 1;

 protected:
  void Tick() override {
    if (++ticks >= wanted) ticked.Set();
  }
};

TEST(CTickThreadTest, StartTickingTicksBeforeTheFirstWait) {
  CountingTicker ticker;
  ticker.SetPeriod(kLongPeriodMs);
  ASSERT_TRUE(ticker.StartTicking("Digital Input thread"));
  ASSERT_TRUE(ticker.ticked.Wait(kInfinite));
  EXPECT_TRUE(ticker.StopTicking());  // the stop event ends the long wait
  EXPECT_EQ(ticker.ticks.load(), 1);
}

TEST(CTickThreadTest, StartThreadWaitsOnePeriodBeforeTheFirstTick) {
  CountingTicker ticker;
  ticker.SetPeriod(kLongPeriodMs);
  ASSERT_TRUE(ticker.StartThread("no tick first"));
  EXPECT_TRUE(ticker.StopThread(kInfinite));
  EXPECT_EQ(ticker.ticks.load(), 0);
}

TEST(CTickThreadTest, TicksEveryPeriodUntilStopped) {
  CountingTicker ticker;
  ticker.SetPeriod(1);
  ticker.wanted = 5;
  ASSERT_TRUE(ticker.StartThread("fast"));
  ASSERT_TRUE(ticker.ticked.Wait(kInfinite));
  EXPECT_TRUE(ticker.StopTicking());
  const int after_stop = ticker.ticks.load();
  EXPECT_GE(after_stop, 5);
  EXPECT_FALSE(ticker.IsRunning());
  EXPECT_EQ(ticker.ticks.load(), after_stop);
}

}  // namespace
}  // namespace korvela
