#include "base/queue_thread.h"

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/testing/recording_log.h"

namespace korvela {
namespace {

using platform::kInfinite;

class Item {
 public:
  Item(int value, std::atomic<int>* deleted) : value_(value), deleted_(deleted) {}
  virtual ~Item() { ++*deleted_; }
  int value() const { return value_; }

 private:
  int value_;
  std::atomic<int>* deleted_;
};

constexpr int kThrowingValue = -1;

class RecordingQueue : public CQueueThread<Item> {
 public:
  explicit RecordingQueue(IDebugMessage* log = nullptr, size_t max_items = kMaxQueuedItems)
      : CQueueThread<Item>(log, max_items) {}
  ~RecordingQueue() override { Stop(); }

  std::vector<int> processed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return processed_;
  }
  void RequestStop() { StopEvent().Set(); }

  int wanted = 0;
  CEvent done;        // set once `wanted` items were processed
  CManualEvent gate;  // ProcessItem waits here when block_first is set
  CEvent entered;
  bool block_first = false;

 protected:
  void ProcessItem(Item* item) override {
    if (block_first) {
      block_first = false;
      entered.Set();
      gate.Wait(kInfinite);
    }
    size_t count;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      processed_.push_back(item->value());
      count = processed_.size();
    }
    if (static_cast<int>(count) == wanted) done.Set();
    if (item->value() == kThrowingValue) throw std::runtime_error("bad item");
  }

 private:
  std::mutex mutex_;
  std::vector<int> processed_;
};

TEST(CQueueThreadTest, ProcessesInOrderAndSurvivesAThrowingItem) {
  std::atomic<int> deleted{0};
  RecordingQueue queue;
  queue.wanted = 201;
  ASSERT_TRUE(queue.Start("RTP Packet Queue (3556)"));
  std::vector<int> expected;
  for (int i = 0; i < 201; ++i) {
    const int value = i == 100 ? kThrowingValue : i;
    expected.push_back(value);
    ASSERT_TRUE(queue.AddItem(new Item(value, &deleted)));
  }
  ASSERT_TRUE(queue.done.Wait(kInfinite));
  EXPECT_TRUE(queue.Stop());
  EXPECT_EQ(queue.processed(), expected);
  EXPECT_EQ(deleted.load(), 201) << "every item deleted, the throwing one too";
}

TEST(CQueueThreadTest, AddItemAfterStopDeletesTheItemAndFails) {
  std::atomic<int> deleted{0};
  RecordingQueue queue;
  ASSERT_TRUE(queue.Start("q"));
  EXPECT_TRUE(queue.Stop());
  EXPECT_FALSE(queue.AddItem(new Item(1, &deleted)));
  EXPECT_EQ(deleted.load(), 1);
  EXPECT_EQ(queue.GetQueueSize(), 0u);
  EXPECT_FALSE(queue.AddItem(nullptr));

  // A new Start accepts items again.
  queue.wanted = 1;
  ASSERT_TRUE(queue.Start("q"));
  EXPECT_TRUE(queue.AddItem(new Item(2, &deleted)));
  ASSERT_TRUE(queue.done.Wait(kInfinite));
  EXPECT_EQ(queue.processed(), std::vector<int>({2}));
}

TEST(CQueueThreadTest, BoundedQueueDropsAndCountsPastTheLimit) {
  constexpr size_t kLimit = 3;
  std::atomic<int> deleted{0};
  testing::RecordingLog log;
  RecordingQueue queue(&log, kLimit);  // not started: nothing is taken out
  for (size_t i = 0; i < kLimit; ++i) EXPECT_TRUE(queue.AddItem(new Item(int(i), &deleted)));
  EXPECT_EQ(queue.GetQueueSize(), kLimit);
  EXPECT_EQ(deleted.load(), 0);
  EXPECT_FALSE(queue.AddItem(new Item(99, &deleted)));
  EXPECT_FALSE(queue.AddItem(new Item(100, &deleted)));
  EXPECT_EQ(queue.GetQueueSize(), kLimit);
  EXPECT_EQ(queue.GetDroppedCount(), 2u);
  EXPECT_EQ(deleted.load(), 2);
  EXPECT_EQ(log.Count("korvela::CQueueThread::AddItem: Queue of thread", kLogFailure), 2u);

  // Starting drains the backlog in order.
  queue.wanted = 3;
  ASSERT_TRUE(queue.Start("drain"));
  ASSERT_TRUE(queue.done.Wait(kInfinite));
  EXPECT_EQ(queue.processed(), std::vector<int>({0, 1, 2}));
}

TEST(CQueueThreadTest, StopDropsTheBacklogAndAStopSeenMidDrainEndsProcessing) {
  std::atomic<int> deleted{0};
  RecordingQueue queue;
  queue.block_first = true;
  ASSERT_TRUE(queue.Start("q"));
  ASSERT_TRUE(queue.AddItem(new Item(1, &deleted)));
  ASSERT_TRUE(queue.entered.Wait(kInfinite));  // the worker holds item 1
  for (int i = 2; i <= 5; ++i) ASSERT_TRUE(queue.AddItem(new Item(i, &deleted)));
  queue.RequestStop();
  queue.gate.Set();
  EXPECT_TRUE(queue.Stop());
  EXPECT_EQ(queue.processed(), std::vector<int>({1}));
  EXPECT_EQ(deleted.load(), 5);
}

// Never started, so it needs no Stop in its destructor: what is queued is
// deleted by ~CQueueThread itself.
class IdleQueue : public CQueueThread<Item> {
 public:
  IdleQueue() : CQueueThread<Item>(nullptr) {}

 protected:
  void ProcessItem(Item*) override {}
};

TEST(CQueueThreadTest, DestructorDeletesQueuedItems) {
  std::atomic<int> deleted{0};
  {
    IdleQueue queue;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(queue.AddItem(new Item(i, &deleted)));
  }
  EXPECT_EQ(deleted.load(), 4);
}

}  // namespace
}  // namespace korvela
