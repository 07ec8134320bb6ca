// CBaseThread: a worker thread with a stop event and the fixed join/stop log
// lines.
//
// The stop event is manual-reset: it stays signalled after a stop until the
// next StartThread, so a worker started and stopped in quick succession sees
// the stop at once. It holds no descriptor: a worker that blocks on a socket
// gives it an event of its own (platform::Event) that its stop sets.
//
// No forced termination: when the thread does not end in time, StopThread
// logs a warning and keeps waiting; terminating a thread from outside would
// leave its locks held and its memory leaked.
//
// Lifetime rule: Run() runs on the worker while the object exists. A class
// that implements Run (or anything Run calls virtually) must stop the thread
// in its own destructor; by the time ~CBaseThread runs, the derived parts are
// gone.
//
// Threading: StartThread/JoinThread/StopThread are called by one controlling
// thread at a time (never concurrently with each other); the worker only
// reads the stop event, the name and the id. The log is not owned.
#pragma once

#include <cstdint>
#include <string>

#include "korvela/debug_message.h"

#include "base/event.h"
#include "platform/thread.h"

namespace korvela {

class CBaseThread {
 public:
  explicit CBaseThread(IDebugMessage* log);
  // Stops the thread (StopThread(2000)), see the lifetime rule above.
  virtual ~CBaseThread();
  CBaseThread(const CBaseThread&) = delete;
  CBaseThread& operator=(const CBaseThread&) = delete;

  // Starts Run() on a new thread called `name`. False when the thread still
  // runs (the name stays) or when the OS refuses.
  virtual bool StartThread(const char* name);
  // Signals the stop event and waits up to `timeout_ms`; on time-out logs a
  // warning and waits on without limit. False only when called from the
  // thread itself.
  virtual bool JoinThread(uint32_t timeout_ms);
  // As JoinThread, with StopThread's log lines.
  virtual bool StopThread(uint32_t timeout_ms);

  bool IsRunning() const { return thread_.IsHeld() && !thread_.HasEnded(); }
  bool IsCurrentThread() const { return thread_.IsCurrentThread(); }
  uint32_t GetThreadId() const { return thread_.id(); }
  const std::string& GetName() const { return name_; }

 protected:
  // The thread body.
  virtual void Run() = 0;

  CManualEvent& StopEvent() { return stop_event_; }
  bool IsStopSignalled() const { return stop_event_.IsSet(); }
  IDebugMessage* Log() const { return log_; }

 private:
  bool StopAndWait(uint32_t timeout_ms, const char* origin, const char* timeout_format);

  std::string name_;
  platform::Thread thread_;
  IDebugMessage* const log_;
  CManualEvent stop_event_;
};

}  // namespace korvela
