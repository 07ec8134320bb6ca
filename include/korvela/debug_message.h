// Logging contract between driver and recorder.
//
// IDebugMessage is what every part of the driver logs through: the format
// starts with "%s: " and the first argument names the origin, e.g.
// "korvela::CBaseThread::StopThread". Levels: 1 failure, 2 warning, 3 state
// report, 4 never delivered, 100 the driver-opened line.
#pragma once

#include <cstdint>

class IDebugMessage {
 public:
  virtual ~IDebugMessage() = default;
  virtual void Message(uint32_t level, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      = 0;
};

// One log line as handed to the recorder; lives only for the Report call.
class CDebugInfoIf {
 public:
  virtual ~CDebugInfoIf() = default;
  virtual uint8_t GetLevel() const = 0;
  virtual const char* GetText() const = 0;
};

namespace korvela::ipcapture {

// The recorder's debug sink (first argument of Open). Callable from any thread;
// copies what it keeps.
class IDebugInfoSink {
 public:
  virtual ~IDebugInfoSink() = default;
  virtual void Report(const CDebugInfoIf* info) = 0;
};

}  // namespace korvela::ipcapture
