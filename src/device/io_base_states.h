// State tables of the digital I/O object: input number -> input state, output
// number -> last requested output state.
//
// Threading: the input thread updates inputs, the output thread claims
// outputs, and any of them (or Start/Stop on the recorder's thread) may reset
// both after a failure; lock_ guards both maps so a reset never overlaps the
// other thread's use of its map. No callback runs under lock_: every operation
// returns what the caller has to report.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "korvela/ipcapture.h"

#include "base/sync_lock.h"
#include "util/thread_annotations.h"

namespace korvela {

// Input and output states are the recorder's.
using ipcapture::kInputClosed;
using ipcapture::kInputOpen;
using ipcapture::kInputUndetermined;
using ipcapture::kOutputOpen;

// The recorder gives the number of inputs and outputs; the tables hold at most
// this many entries each so a nonsense count cannot exhaust memory.
inline constexpr uint32_t kMaxIoPoints = 256;

class CIOStateTable {
 public:
  // Every input below `inputs` and output below `outputs` becomes 0 (both
  // counts capped at kMaxIoPoints). Nothing is reported. A reset output is
  // also marked unconfirmed: the device's state is unknown after a failure,
  // so the next command for it is written whatever it asks for (a stored 0
  // would otherwise swallow a "closed" command).
  void Reset(uint32_t inputs, uint32_t outputs) EXCLUDES(lock_);

  // Every output below `outputs` (capped) takes `state`, as confirmed.
  void SetOutputs(uint32_t outputs, uint32_t state) EXCLUDES(lock_);

  // When `input` is in the table with another state, stores `state` and
  // returns true: the caller reports the change.
  bool UpdateInput(uint32_t input, uint32_t state) EXCLUDES(lock_);

  // When `output` is in the table with another or an unconfirmed state,
  // stores `state` and returns true: the caller writes it to the device.
  // Commands for outputs outside the table and repeats of a confirmed state
  // return false.
  bool ClaimOutput(uint32_t output, uint32_t state) EXCLUDES(lock_);

  std::optional<uint32_t> Input(uint32_t input) const EXCLUDES(lock_);
  std::optional<uint32_t> Output(uint32_t output) const EXCLUDES(lock_);

 private:
  mutable CSyncLock lock_;
  std::map<uint32_t, uint32_t> inputs_ GUARDED_BY(lock_);
  struct OutputEntry {
    uint32_t state = 0;
    bool confirmed = false;
  };
  std::map<uint32_t, OutputEntry> outputs_ GUARDED_BY(lock_);
};

}  // namespace korvela
