#include "util/mutex.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "util/cond_var.h"

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

TEST(CondVarTest, WaitsReleaseTheMutexAndHoldItAgainOnReturn) {
  Mutex mutex;
  CondVar changed;
  bool ready = false;
  {
    MutexLock lock(mutex);
    const auto soon = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    EXPECT_FALSE(changed.WaitUntil(mutex, soon)) << "nobody notified";
    EXPECT_FALSE(TryFromOtherThread(mutex)) << "held again after the time-out";
  }
  std::thread setter([&] {
    MutexLock lock(mutex);
    ready = true;
    changed.NotifyAll();
  });
  {
    MutexLock lock(mutex);
    while (!ready) changed.Wait(mutex);
    EXPECT_FALSE(TryFromOtherThread(mutex)) << "held again after the wake-up";
  }
  setter.join();
  EXPECT_TRUE(TryFromOtherThread(mutex));
}

}  // namespace
}  // namespace korvela
