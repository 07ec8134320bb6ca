// Logging contract between driver and recorder.
//
// IDebugMessage is what every part of the driver logs through: the format
// starts with "%s: " and the first argument names the origin, e.g.
// "korvela::CBaseThread::StopThread".
#pragma once

#include <cstdint>

namespace korvela {

// Levels of IDebugMessage::Message, and of the lines the sink receives
// (CDebugInfoIf::GetLevel). The driver adapts them to the recorder core's
// version before they reach the sink: before 5.12 levels 3 and 100 arrive as
// 2, before 6.3 level 100 arrives as 3.
enum LogLevel : uint32_t {
  kLogFailure = 1,
  kLogWarning = 2,
  kLogState = 3,
  kLogNever = 4,     // dropped before it reaches the sink
  kLogOpened = 100,  // the "DRIVER IS OPENED" line
};

}  // namespace korvela

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
