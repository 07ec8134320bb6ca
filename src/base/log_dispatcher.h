// LogDispatcher: formats a driver log line, adapts its level to the recorder
// version and hands it to the recorder's debug sink. The driver object keeps
// one and forwards its IDebugMessage::Message here.
//
// Rules: level 4 is never delivered; recorders before 5.12 get levels 3 and
// 100 as 2; from 5.12 to before 6.3 level 100 arrives as 3; from 6.3 levels
// are unchanged. Without a sink the line is dropped (nothing is queued).
//
// Threading: Message may be called from any thread at once. The sink and the
// version are atomics, set when the driver opens; the sink must accept
// concurrent calls.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "korvela/debug_message.h"

#include "util/str_format.h"

namespace korvela {

class LogDispatcher : public IDebugMessage {
 public:
  // The version to assume when the recorder's cannot be read.
  static constexpr uint16_t kUnreadableVersionMajor = 5;
  static constexpr uint16_t kUnreadableVersionMinor = 12;

  LogDispatcher() = default;

  void SetSink(ipcapture::IDebugInfoSink* sink) { sink_.store(sink); }
  // The recorder core's major and minor version (0.0 until known).
  void SetRecorderVersion(uint16_t major, uint16_t minor) {
    version_.store(static_cast<uint32_t>(major) << 16 | minor);
  }

  void Message(uint32_t level, const char* format, ...) override KORVELA_PRINTF_FORMAT(3, 4);
  void MessageV(uint32_t level, const char* format, va_list args);

  // The level the recorder of version major.minor receives for `level`
  // (cut to 8 bits).
  static uint8_t MapLevel(uint32_t level, uint16_t major, uint16_t minor);

 private:
  std::atomic<ipcapture::IDebugInfoSink*> sink_{nullptr};
  std::atomic<uint32_t> version_{0};
};

}  // namespace korvela
