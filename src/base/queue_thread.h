// CQueueThread<T>: a worker that takes items from a first-in-first-out queue
// and hands each to ProcessItem. The queue owns the items.
//
// The queue is bounded (kMaxQueuedItems unless the constructor says
// otherwise): producers may be fed by the network, and a stalled worker must
// not let memory grow without limit. An item offered to a full queue is
// deleted (TryAddItem: left with the caller), counted and reported (throttled);
// AddItem then returns false.
//
// Lifetime rule (as for CBaseThread): a class that implements ProcessItem
// calls Stop() in its own destructor.
//
// Threading: AddItem may be called from any thread; queue_lock_ guards the
// queue and the drop counters. ProcessItem runs on the worker only, without
// the lock held. Start/Stop follow CBaseThread's controlling-thread rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "korvela/debug_message.h"

#include "base/base_thread.h"
#include "base/event.h"
#include "base/log_throttle.h"
#include "base/sync_lock.h"
#include "util/thread_annotations.h"

namespace korvela {

template <class T>
class CQueueThread : public CBaseThread {
 public:
  static constexpr size_t kMaxQueuedItems = 4096;
  // The worker looks at the stop event at least this often.
  static constexpr uint32_t kIdleWaitMs = 1000;

  explicit CQueueThread(IDebugMessage* log, size_t max_items = kMaxQueuedItems)
      : CBaseThread(log), max_items_(max_items) {}

  ~CQueueThread() override {
    JoinThread(5000);
    ClearQueue();
  }

  // Resets the item event and starts the worker.
  virtual bool Start(const char* name) {
    item_event_.Reset();
    // Items queued before the start are announced again, or they would wait
    // for the worker's idle time-out.
    if (GetQueueSize() > 0) item_event_.Set();
    return StartThread(name);
  }

  // Signals the stop, deletes every queued item and waits for the worker.
  virtual bool Stop() {
    StopEvent().Set();
    ClearQueue();
    return JoinThread(5000);
  }

  // Takes ownership of `item`. False (and the item deleted) when the thread
  // is stopped, the queue is full, or the item is null.
  bool AddItem(T* item) {
    std::unique_ptr<T> owned(item);
    return TryAddItem(owned);
  }

  // As AddItem, but a refused item stays with the caller in `owned` (an item
  // that carries something the caller must get back, such as a recorder frame).
  bool TryAddItem(std::unique_ptr<T>& owned) {
    if (!owned) return false;
    CSyncLockGuard guard(queue_lock_);
    // Checked under the lock: Stop signals before it empties the queue, so an
    // item can never slip in behind its clean-up.
    if (IsStopSignalled()) return false;
    if (queue_.size() >= max_items_) {
      ++dropped_;
      if (Log() != nullptr && LogThrottle(overflow_log_counter_)) {
        Log()->Message(kLogFailure,
                       "%s: Queue of thread \"%s\" is full (%zu items), item dropped (%llu so far)",
                       "korvela::CQueueThread::AddItem", GetName().c_str(), max_items_,
                       static_cast<unsigned long long>(dropped_));
      }
      return false;
    }
    // The worker drains until it finds the queue empty (under this lock), so
    // only the item that makes the queue non-empty needs to wake it; that
    // saves a system call per item in a burst.
    const bool was_empty = queue_.empty();
    queue_.push_back(std::move(owned));
    if (was_empty) item_event_.Set();
    return true;
  }

  size_t GetQueueSize() const {
    CSyncLockGuard guard(queue_lock_);
    return queue_.size();
  }
  uint64_t GetDroppedCount() const {
    CSyncLockGuard guard(queue_lock_);
    return dropped_;
  }
  size_t GetMaxItems() const { return max_items_; }

 protected:
  void Run() override {
    CManualEvent& stop = StopEvent();
    while (!stop.IsSet()) {
      // Drains after an idle time-out as well: items queued before Start
      // (whose signal Start resets) must not wait for the next AddItem.
      if (WaitForAny(stop, item_event_, kIdleWaitMs) == 0) continue;
      while (std::unique_ptr<T> item = TakeFront()) {
        if (stop.IsSet()) break;  // the taken item is deleted with `item`
        try {
          ProcessItem(item.get());
        } catch (...) {
          // A failing item must not end the worker; it is deleted below.
        }
      }
    }
  }

  virtual void ProcessItem(T* item) = 0;

 private:
  // The items are deleted outside the lock: deleting one may call out (a
  // talk-back frame goes back to the recorder's allocator).
  void ClearQueue() {
    std::deque<std::unique_ptr<T>> dropped;
    {
      CSyncLockGuard guard(queue_lock_);
      dropped.swap(queue_);
    }
  }

  std::unique_ptr<T> TakeFront() {
    CSyncLockGuard guard(queue_lock_);
    if (queue_.empty()) return nullptr;
    std::unique_ptr<T> item = std::move(queue_.front());
    queue_.pop_front();
    return item;
  }

  const size_t max_items_;
  CEvent item_event_;
  mutable CSyncLock queue_lock_;
  std::deque<std::unique_ptr<T>> queue_ GUARDED_BY(queue_lock_);
  uint64_t dropped_ GUARDED_BY(queue_lock_) = 0;
  uint32_t overflow_log_counter_ GUARDED_BY(queue_lock_) = 0;
};

}  // namespace korvela
