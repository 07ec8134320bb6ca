#include "base/base_thread.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "korvela/debug_message.h"

#include "base/testing/recording_log.h"

namespace korvela {
namespace {

using platform::kInfinite;

// A worker that ends on the stop event, or only once `gate` opens when it is
// told to ignore stops.
class TestThread : public CBaseThread {
 public:
  explicit TestThread(IDebugMessage* log) : CBaseThread(log) {}
  ~TestThread() override {
    gate.Set();
    StopThread(kInfinite);
  }

  std::atomic<bool> ignore_stop{false};
  CManualEvent gate;
  CManualEvent running;
  std::atomic<int> self_join{-1};
  std::atomic<int> self_stop{-1};
  std::atomic<bool> saw_stop_at_start{false};
  std::atomic<bool> try_self{false};

 protected:
  void Run() override {
    saw_stop_at_start = IsStopSignalled();
    if (try_self) {
      self_join = JoinThread(0) ? 1 : 0;
      self_stop = StopThread(0) ? 1 : 0;
    }
    running.Set();
    if (ignore_stop) {
      gate.Wait(kInfinite);
    } else {
      StopEvent().Wait(kInfinite);
    }
  }
};

// Opens the worker's gate when the time-out warning arrives, so the test
// sees the whole warn-then-wait path without sleeping through a time-out.
class GateOnWarning : public IDebugMessage {
 public:
  explicit GateOnWarning(testing::RecordingLog& log) : log_(log) {}
  void Message(uint32_t level, const char* format, ...) override {
    va_list args;
    va_start(args, format);
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    log_.Message(level, "%s", text);
    if (level == kLogWarning && gate != nullptr) gate->Set();
  }
  CEvent* gate = nullptr;

 private:
  testing::RecordingLog& log_;
};

TEST(CBaseThreadTest, StartJoinRestartOnlyWhenStoppedAndNoLogWhenTheWorkerStopsInTime) {
  testing::RecordingLog log;
  TestThread thread(&log);
  EXPECT_TRUE(thread.JoinThread(0)) << "nothing to join";
  ASSERT_TRUE(thread.StartThread("Digital Input thread"));
  ASSERT_TRUE(thread.running.Wait(kInfinite));
  EXPECT_TRUE(thread.IsRunning());
  const uint32_t id = thread.GetThreadId();
  EXPECT_NE(id, 0u);
  // Starting a running thread fails and changes nothing.
  EXPECT_FALSE(thread.StartThread("other"));
  EXPECT_EQ(thread.GetName(), "Digital Input thread");
  EXPECT_EQ(thread.GetThreadId(), id);
  EXPECT_TRUE(thread.JoinThread(kInfinite));
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_TRUE(log.Lines().empty());

  // The stop event stays set after a stop; the next start resets it.
  thread.running.Reset();
  ASSERT_TRUE(thread.StartThread("again"));
  ASSERT_TRUE(thread.running.Wait(kInfinite));
  EXPECT_FALSE(thread.saw_stop_at_start.load());
  EXPECT_EQ(thread.GetName(), "again");
  EXPECT_TRUE(thread.StopThread(kInfinite));
}

TEST(CBaseThreadTest, JoinOrStopFromTheThreadItselfReturnsFalseAndLeavesItHeld) {
  TestThread thread(nullptr);
  thread.try_self = true;
  ASSERT_TRUE(thread.StartThread("self"));
  ASSERT_TRUE(thread.running.Wait(kInfinite));
  EXPECT_EQ(thread.self_join.load(), 0);
  EXPECT_EQ(thread.self_stop.load(), 0);
  EXPECT_NE(thread.GetThreadId(), 0u) << "the thread is still held";
  EXPECT_TRUE(thread.JoinThread(kInfinite));
}

struct TimeoutCase {
  bool stop;  // StopThread rather than JoinThread
  const char* origin;
  const char* warning_tail;
};

TEST(CBaseThreadTest, TimeoutWarnsThenWaitsForTheThreadAndReportsTheStop) {
  const TimeoutCase cases[] = {
      {false, "korvela::CBaseThread::JoinThread", " was not stopped during 1 milliseconds"},
      // No forced termination: the warning says the wait goes on.
      {true, "korvela::CBaseThread::StopThread",
       " was not stopped during 1 milliseconds; it cannot be terminated safely, waiting until "
       "it ends"}};
  for (const auto& c : cases) {
    testing::RecordingLog log;
    GateOnWarning gate_log(log);
    TestThread worker(&gate_log);
    gate_log.gate = &worker.gate;
    worker.ignore_stop = true;
    ASSERT_TRUE(worker.StartThread("Digital Output thread"));
    ASSERT_TRUE(worker.running.Wait(kInfinite));
    const std::string who = std::string(c.origin) +
                            ": Thread (id=" + std::to_string(worker.GetThreadId()) +
                            ", name=\"Digital Output thread\")";
    EXPECT_TRUE(c.stop ? worker.StopThread(1) : worker.JoinThread(1));
    EXPECT_FALSE(worker.IsRunning()) << "returned only once the thread had ended";
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, kLogWarning);
    EXPECT_EQ(lines[0].text, who + c.warning_tail);
    EXPECT_EQ(lines[1].level, kLogState);
    EXPECT_EQ(lines[1].text, who + " was stopped correctly");
  }
}

}  // namespace
}  // namespace korvela
