#include "util/mutex.h"

#include <condition_variable>
#include <thread>

#include <gtest/gtest.h>

// Locks taken inside lambdas and on other threads are what these tests
// exercise; the static analysis cannot follow them.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wthread-safety-analysis"
#endif

namespace korvela {
namespace {

bool TryFromOtherThread(Mutex& mutex) {
  bool got = false;
  std::thread([&] {
    got = mutex.TryLock();
    if (got) mutex.Unlock();
  }).join();
  return got;
}

TEST(MutexLockTest, DroppingAndRetakingAroundABlockingStepReleasesExactlyOnce) {
  Mutex mutex;
  {
    MutexLock lock(mutex);
    EXPECT_FALSE(TryFromOtherThread(mutex));
    lock.Unlock();
    EXPECT_TRUE(TryFromOtherThread(mutex)) << "dropped for the blocking step";
    lock.Lock();
    EXPECT_FALSE(TryFromOtherThread(mutex)) << "taken back";
  }
  EXPECT_TRUE(TryFromOtherThread(mutex)) << "released by the destructor";
  {
    MutexLock lock(mutex);
    lock.Unlock();
    // Leaving the scope while dropped must not unlock a second time.
  }
  EXPECT_TRUE(mutex.TryLock());
  mutex.Unlock();
}

TEST(MutexLockTest, ConditionVariableWaitsThroughTheNativeMutex) {
  Mutex mutex;
  std::condition_variable changed;
  bool ready = false;
  std::thread setter([&] {
    MutexLock lock(mutex);
    ready = true;
    changed.notify_all();
  });
  {
    MutexLock lock(mutex);
    std::unique_lock native(mutex.native(), std::adopt_lock);
    changed.wait(native, [&] { return ready; });
    native.release();  // the MutexLock still owns the hold
    EXPECT_TRUE(ready);
  }
  setter.join();
  EXPECT_TRUE(TryFromOtherThread(mutex));
}

}  // namespace
}  // namespace korvela
