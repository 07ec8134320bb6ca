// The recorder's debug sink: collects the driver's log lines.
//
// Threading: Report is called from any driver thread at once; lines_ and the
// echo settings are guarded by mutex_, and WaitFor sleeps on changed_ (bounded
// by its time-out). At most kMaxKeptLines lines are kept (the oldest go first);
// total() counts every line ever reported.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "korvela/ipcapture.h"

#include "util/cond_var.h"
#include "util/mutex.h"

namespace korvela::recorder {

struct DebugLine {
  uint8_t level = 0;
  bool has_text = false;  // false when the driver passed a null text
  std::string text;
};

class DebugSink final : public ipcapture::IDebugInfoSink {
 public:
  static constexpr size_t kMaxKeptLines = 10000;

  DebugSink() = default;
  DebugSink(const DebugSink&) = delete;
  DebugSink& operator=(const DebugSink&) = delete;

  // Also write each line to `out` as "[level] text" (null: no echo).
  void SetEcho(std::FILE* out);

  void Report(const CDebugInfoIf* info) override;

  std::vector<DebugLine> Lines() const;
  size_t total() const;
  size_t Count(std::string_view part) const;
  bool Contains(std::string_view part) const { return Count(part) > 0; }
  // Level of the first line containing `part`, or -1.
  int LevelOf(std::string_view part) const;
  // Waits until a line containing `part` has arrived, at most `timeout`.
  bool WaitFor(std::string_view part, std::chrono::milliseconds timeout) const;
  void Clear();

 private:
  size_t CountLocked(std::string_view part) const REQUIRES(mutex_);

  mutable Mutex mutex_;
  mutable CondVar changed_;
  std::deque<DebugLine> lines_ GUARDED_BY(mutex_);
  size_t total_ GUARDED_BY(mutex_) = 0;
  std::FILE* echo_ GUARDED_BY(mutex_) = nullptr;
};

}  // namespace korvela::recorder
