// Helpers for tests of blocking calls. A test that ends a blocked call from
// another thread must act only once the call really waits; acting earlier
// lets it pass even when only an abort that precedes the wait works.
//
// Threading: any thread. FullListener: one owner.
#pragma once

#include <cstdint>
#include <vector>

#include <sys/types.h>

namespace korvela::testing {

// The calling thread's id, for WaitUntilBlocked().
pid_t ThisThreadId();

// True once thread `tid` of this process sleeps in poll() with a time-out
// other than zero (each blocking wait of the platform layer is one); false
// after `timeout_ms`.
bool WaitUntilBlocked(pid_t tid, uint32_t timeout_ms);

// A loopback listener whose accept queue is full and never drained: the
// kernel drops further SYNs, so a connect to it stays in progress until the
// caller gives up.
class FullListener {
 public:
  FullListener();
  ~FullListener();
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;

  bool ok() const { return full_; }
  uint16_t port() const { return port_; }

 private:
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  bool full_ = false;
  std::vector<int> clients_;  // the connections that fill the queue
};

}  // namespace korvela::testing
