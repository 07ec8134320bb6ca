#include "platform/event.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

namespace korvela::platform {
namespace {

using Mode = Event::Mode;

template <typename E>
struct EventPair {
  EventPair(Mode first, Mode second) : a(first), b(second) {}
  E a, b;
};

// Both kinds of event keep the same contract.
template <typename E>
class EventTest : public ::testing::Test {};
using EventKinds = ::testing::Types<Event, CondEvent>;
TYPED_TEST_SUITE(EventTest, EventKinds);

TYPED_TEST(EventTest, AutoResetSignalIsConsumedOnceAndSetsCollapse) {
  TypeParam e(Mode::kAutoReset);
  EXPECT_FALSE(e.IsSet());
  EXPECT_FALSE(e.Wait(0));
  e.Set();
  e.Set();  // a second Set before anyone waits is the same single signal
  EXPECT_TRUE(e.IsSet());
  EXPECT_TRUE(e.IsSet()) << "IsSet must not consume";
  EXPECT_TRUE(e.Wait(0));
  EXPECT_FALSE(e.IsSet());
  EXPECT_FALSE(e.Wait(5));
}

TYPED_TEST(EventTest, ManualResetStaysSetUntilReset) {
  TypeParam e(Mode::kManualReset, /*initially_set=*/true);
  EXPECT_TRUE(e.Wait(0));
  EXPECT_TRUE(e.Wait(0));
  e.Reset();
  EXPECT_FALSE(e.IsSet());
  EXPECT_FALSE(e.Wait(0));
  e.Reset();  // resetting a reset event is harmless
  e.Set();
  e.Set();
  e.Reset();  // one Reset clears however many Sets
  EXPECT_FALSE(e.IsSet());
}

// Each Set of an auto-reset event releases exactly one of several waiters: if a
// signal ever woke two, one later Set would find no waiter and stay pending.
TYPED_TEST(EventTest, AutoResetReleasesExactlyOneWaiterPerSet) {
  constexpr int kWaiters = 6;
  TypeParam e(Mode::kAutoReset);
  std::mutex m;
  std::condition_variable cv;
  int winners = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < kWaiters; ++i) {
    threads.emplace_back([&] {
      if (e.Wait(kInfinite)) {
        std::lock_guard<std::mutex> lock(m);
        ++winners;
        cv.notify_all();
      }
    });
  }
  for (int k = 1; k <= kWaiters; ++k) {
    e.Set();
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return winners >= k; });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(winners, kWaiters);
  EXPECT_FALSE(e.IsSet());
}

TYPED_TEST(EventTest, WaitForAnyReturnsTheSignalledOneAndConsumesOnlyIt) {
  EventPair<TypeParam> p(Mode::kAutoReset, Mode::kAutoReset);
  p.b.Set();
  EXPECT_EQ(WaitForAny(p.a, p.b, 0), 1);
  EXPECT_FALSE(p.b.IsSet());

  p.a.Set();
  p.b.Set();
  EXPECT_EQ(WaitForAny(p.a, p.b, 0), 0);  // the first wins when both are set
  EXPECT_FALSE(p.a.IsSet());
  EXPECT_TRUE(p.b.IsSet());
  EXPECT_EQ(WaitForAny(p.a, p.b, 0), 1);
  EXPECT_EQ(WaitForAny(p.a, p.b, 5), -1);

  EventPair<TypeParam> q(Mode::kManualReset, Mode::kAutoReset);
  std::thread setter([&] { q.a.Set(); });
  EXPECT_EQ(WaitForAny(q.a, q.b, kInfinite), 0);
  setter.join();
  EXPECT_TRUE(q.a.IsSet());
}

TEST(PollableEventTest, FdIsReadableExactlyWhileSet) {
  Event e(Mode::kManualReset);
  ASSERT_TRUE(e.valid());
  pollfd p{e.fd(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0);
  e.Set();
  EXPECT_EQ(::poll(&p, 1, 0), 1);
  e.Reset();
  EXPECT_EQ(::poll(&p, 1, 0), 0);
}

struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe(fds), 0); }
  ~Pipe() {
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
  }
  void CloseWriter() {
    ::close(fds[1]);
    fds[1] = -1;
  }
};

TEST(WaitEventOrFdTest, ReportsEventFdTimeoutAndHangup) {
  Event stop(Mode::kManualReset);
  Pipe pipe;
  EXPECT_EQ(WaitEventOrFd(stop, pipe.fds[0], POLLIN, 5), -1);

  ASSERT_EQ(::write(pipe.fds[1], "x", 1), 1);
  EXPECT_EQ(WaitEventOrFd(stop, pipe.fds[0], POLLIN, kInfinite), 1);

  stop.Set();  // data is still pending, but a stop request has priority
  EXPECT_EQ(WaitEventOrFd(stop, pipe.fds[0], POLLIN, kInfinite), 0);
  stop.Reset();

  char c;
  ASSERT_EQ(::read(pipe.fds[0], &c, 1), 1);
  pipe.CloseWriter();
  EXPECT_EQ(WaitEventOrFd(stop, pipe.fds[0], POLLIN, kInfinite), 1) << "hang-up counts";
}

TEST(WaitEventOrFdTest, StopFromAnotherThreadAbortsAnUnboundedWait) {
  Event stop(Mode::kAutoReset);
  Pipe pipe;
  std::thread setter([&] { stop.Set(); });
  EXPECT_EQ(WaitEventOrFd(stop, pipe.fds[0], POLLIN, kInfinite), 0);
  setter.join();
  EXPECT_FALSE(stop.IsSet());
  EXPECT_EQ(WaitEventOrFd(stop, -1, POLLIN, 0), -1);
}

}  // namespace
}  // namespace korvela::platform
