#include "platform/thread.h"

#include <atomic>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>
#include <pthread.h>

namespace korvela::platform {
namespace {

TEST(ThreadTest, RunsBodyWithOsNameCutTo15CharactersAndKnowsItsId) {
  Thread thread;
  Event release(Event::Mode::kManualReset);
  char os_name[32] = {};
  uint32_t seen_id = 0;
  bool was_current = false;
  ASSERT_TRUE(thread.Start("UDP client thread, port 3556", [&] {
    ::pthread_getname_np(::pthread_self(), os_name, sizeof os_name);
    seen_id = CurrentThreadId();
    was_current = thread.IsCurrentThread();
    release.Wait(kInfinite);
  }));
  EXPECT_NE(thread.id(), 0u);
  EXPECT_NE(thread.id(), CurrentThreadId());
  EXPECT_FALSE(thread.IsCurrentThread());
  EXPECT_FALSE(thread.HasEnded());
  EXPECT_FALSE(thread.Join(0)) << "still running";
  uint32_t id_while_running = thread.id();
  release.Set();
  EXPECT_TRUE(thread.Join(kInfinite));
  EXPECT_STREQ(os_name, "UDP client thre");
  EXPECT_EQ(seen_id, id_while_running);
  EXPECT_TRUE(was_current);
  EXPECT_EQ(thread.id(), 0u);
  EXPECT_FALSE(thread.IsHeld());
}

TEST(ThreadTest, StartRefusedWhileRunningAndAllowedAfterTheBodyEnded) {
  Thread thread;
  Event release(Event::Mode::kManualReset);
  std::atomic<int> runs{0};
  ASSERT_TRUE(thread.Start("first", [&] {
    ++runs;
    release.Wait(kInfinite);
  }));
  EXPECT_FALSE(thread.Start("second", [&] { runs += 10; }));
  release.Set();
  while (!thread.HasEnded()) {
    Event(Event::Mode::kAutoReset).Wait(1);
  }
  // Ended but not joined: Start reaps it and runs the new body.
  Event done(Event::Mode::kManualReset);
  ASSERT_TRUE(thread.Start("third", [&] {
    runs += 100;
    done.Set();
  }));
  EXPECT_TRUE(done.Wait(kInfinite));
  EXPECT_TRUE(thread.Join(kInfinite));
  EXPECT_EQ(runs.load(), 101);
}

TEST(ThreadTest, JoinFromTheThreadItselfFailsWithoutSideEffects) {
  Thread thread;
  bool join_result = true;
  Event done(Event::Mode::kManualReset);
  ASSERT_TRUE(thread.Start("self", [&] {
    join_result = thread.Join(0);
    done.Set();
  }));
  ASSERT_TRUE(done.Wait(kInfinite));
  EXPECT_TRUE(thread.Join(kInfinite));
  EXPECT_FALSE(join_result);
}

TEST(ThreadTest, JoinWithoutThreadSucceedsAndDestructorWaitsForBody) {
  Thread idle;
  EXPECT_TRUE(idle.Join(0));
  std::atomic<bool> finished{false};
  Event go(Event::Mode::kManualReset);
  {
    Thread thread;
    ASSERT_TRUE(thread.Start("dtor", [&] {
      go.Wait(kInfinite);
      finished = true;
    }));
    go.Set();
  }
  EXPECT_TRUE(finished.load());
}

TEST(ThreadTest, ExceptionFromTheBodyEndsOnlyTheThread) {
  Thread thread;
  ASSERT_TRUE(thread.Start("throws", [] { throw std::runtime_error("worker failure"); }));
  EXPECT_TRUE(thread.Join(kInfinite));
  EXPECT_TRUE(thread.HasEnded());
  bool ran = false;
  ASSERT_TRUE(thread.Start("after", [&] { ran = true; }));
  EXPECT_TRUE(thread.Join(kInfinite));
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace korvela::platform
