// COutputState: one queued digital-output command. TOutputHandler<T>: a queue
// thread that applies each command through a member function of its owner.
//
// Threading: as CQueueThread; the owner's function runs on the worker. The
// owner and function are fixed at construction.
#pragma once

#include <cstdint>

#include "base/queue_thread.h"

namespace korvela {

class COutputState {
 public:
  COutputState(uint32_t output_number, uint32_t requested_state)
      : output(output_number), state(requested_state) {}
  virtual ~COutputState() = default;

  uint32_t output;
  uint32_t state;
};

template <class T>
class TOutputHandler : public CQueueThread<COutputState> {
 public:
  using Handler = void (T::*)(uint32_t output, uint32_t state);

  TOutputHandler(IDebugMessage* log, T* owner, Handler handler)
      : CQueueThread<COutputState>(log), owner_(owner), handler_(handler) {}
  // The worker calls ProcessItem on this object: it must end before we go.
  ~TOutputHandler() override { Stop(); }

 protected:
  void ProcessItem(COutputState* item) override {
    if (owner_ != nullptr && handler_ != nullptr && item != nullptr) {
      (owner_->*handler_)(item->output, item->state);
    }
  }

 private:
  T* const owner_;
  const Handler handler_;
};

}  // namespace korvela
