#include "device/io_base.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/testing/fake_driver.h"
#include "device/digital_io_test_callback.h"

namespace korvela {
namespace {

using testing::FakeDriver;
using testing::IoCallbackRecorder;

// A device whose output writes are recorded and whose poll answers follow a
// script (after its end every poll fails).
class FakeIO : public CIOBase {
 public:
  explicit FakeIO(IDriver* driver) : CIOBase(driver) { SetPollPeriod(5); }
  ~FakeIO() override { StopThreads(); }

  bool WriteOutput(uint32_t output, uint32_t state) override {
    std::lock_guard lock(mu_);
    writes_.push_back(std::to_string(output) + "=" + std::to_string(state));
    bool ok = write_results_.empty() ? true : write_results_.front();
    if (!write_results_.empty()) write_results_.pop_front();
    changed_.notify_all();
    return ok;
  }

  // Each poll takes one scripted input state; 0 stands for "no valid answer".
  bool PollInputs(uint32_t) override {
    uint32_t state = 0;
    {
      std::lock_guard lock(mu_);
      ++polls_;
      changed_.notify_all();
      if (!poll_states_.empty()) {
        state = poll_states_.front();
        poll_states_.pop_front();
      }
    }
    if (state == 0) {
      UpdateInput(0, 0);
      return false;
    }
    UpdateInput(0, state);
    return true;
  }

  void ScriptPolls(std::vector<uint32_t> states) {
    std::lock_guard lock(mu_);
    poll_states_.assign(states.begin(), states.end());
  }
  void ScriptWrites(std::vector<bool> results) {
    std::lock_guard lock(mu_);
    write_results_.assign(results.begin(), results.end());
  }
  bool WaitForWrites(size_t count) {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return writes_.size() >= count; });
  }
  bool WaitForPolls(int count) {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return polls_ >= count; });
  }
  std::vector<std::string> Writes() {
    std::lock_guard lock(mu_);
    return writes_;
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  std::vector<std::string> writes_;
  std::deque<bool> write_results_;
  std::deque<uint32_t> poll_states_;
  int polls_ = 0;
};

struct IoFixture {
  explicit IoFixture(uint32_t inputs, uint32_t outputs) {
    driver.input_count = inputs;
    driver.output_count = outputs;
    io.SetCallback(&callback);
  }
  FakeDriver driver;
  IoCallbackRecorder callback;
  FakeIO io{&driver};
};

TEST(IOBaseTest, OutputStartsOpenAndOnlyChangesAreWritten) {
  IoFixture f(0, 1);
  ASSERT_TRUE(f.io.Start());
  EXPECT_EQ(f.io.OutputState(0), kOutputOpen);
  EXPECT_TRUE(f.io.SetOutput(0, 1));  // already open: nothing written
  EXPECT_TRUE(f.io.SetOutput(0, 0));
  EXPECT_TRUE(f.io.SetOutput(0, 0));  // repeat: nothing
  EXPECT_TRUE(f.io.SetOutput(7, 0));  // no such output: dropped
  EXPECT_TRUE(f.io.SetOutput(0, 1));
  ASSERT_TRUE(f.io.WaitForWrites(2));
  EXPECT_TRUE(f.io.Stop());
  EXPECT_EQ(f.io.Writes(), (std::vector<std::string>{"0=0", "0=1"}));
  EXPECT_TRUE(f.callback.Events().empty());
}

TEST(IOBaseTest, SetOutputFailsAfterStopAndQueuedCommandsAreDropped) {
  IoFixture f(0, 1);
  ASSERT_TRUE(f.io.Start());
  EXPECT_TRUE(f.io.Stop());
  EXPECT_FALSE(f.io.SetOutput(0, 0));
  EXPECT_EQ(f.io.OutputState(0), 0u);  // reset by Stop
  EXPECT_TRUE(f.io.Writes().empty());
  // A second start works again.
  ASSERT_TRUE(f.io.Start());
  EXPECT_TRUE(f.io.SetOutput(0, 0));
  ASSERT_TRUE(f.io.WaitForWrites(1));
  f.io.Stop();
}

TEST(IOBaseTest, NoThreadsWithoutInputsOrOutputs) {
  IoFixture f(0, 0);
  EXPECT_FALSE(f.io.SetCallback(nullptr));
  EXPECT_TRUE(f.io.Start());
  EXPECT_FALSE(f.io.SetOutput(0, 0));  // no output thread: nothing queued
  EXPECT_TRUE(f.io.Stop());
  EXPECT_TRUE(f.callback.Events().empty());
}

TEST(IOBaseTest, PollsAndWritesWithoutCallback) {
  FakeDriver driver;
  driver.input_count = 1;
  driver.output_count = 1;
  FakeIO io(&driver);
  io.ScriptPolls({kInputOpen});  // a change, then failures
  io.ScriptWrites({false});
  ASSERT_TRUE(io.Start());
  io.SetOutput(0, 0);
  ASSERT_TRUE(io.WaitForPolls(3));
  ASSERT_TRUE(io.WaitForWrites(1));
  EXPECT_TRUE(io.Stop());
}

}  // namespace
}  // namespace korvela
