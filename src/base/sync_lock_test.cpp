#include "base/sync_lock.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "base/event.h"

// Recursive locking and locks taken inside lambdas are what these tests
// exercise; the static analysis cannot follow either.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wthread-safety-analysis"
#endif

namespace korvela {
namespace {

using platform::kInfinite;

bool TryFromOtherThread(CSyncLock& lock) {
  bool got = false;
  std::thread([&] {
    got = lock.TryLock();
    if (got) lock.Unlock();
  }).join();
  return got;
}

TEST(CSyncLockTest, OwnerMayRecurseAndOthersWaitUntilTheLastLevelIsReleased) {
  CSyncLock lock;
  lock.Lock();
  EXPECT_TRUE(lock.TryLock());  // the owner again
  {
    CSyncLockGuard guard(lock);  // a third level
    EXPECT_FALSE(TryFromOtherThread(lock));
  }
  lock.Unlock();
  EXPECT_FALSE(TryFromOtherThread(lock)) << "one level is still held";
  lock.Unlock();
  EXPECT_TRUE(TryFromOtherThread(lock));
}

TEST(CSyncLockTest, UnlockWakesABlockedWaiter) {
  CSyncLock lock;
  CEvent acquired;
  CEvent waiting;
  std::atomic<bool> owner_released{false};
  std::atomic<bool> got_it_early{false};
  lock.Lock();
  std::thread waiter([&] {
    waiting.Set();
    CSyncLockGuard guard(lock);
    got_it_early = !owner_released.load();
    acquired.Set();
  });
  ASSERT_TRUE(waiting.Wait(kInfinite));
  EXPECT_FALSE(acquired.Wait(20)) << "must not get the lock while it is held";
  owner_released = true;
  lock.Unlock();
  EXPECT_TRUE(acquired.Wait(kInfinite));
  waiter.join();
  EXPECT_FALSE(got_it_early.load());
}

}  // namespace
}  // namespace korvela
