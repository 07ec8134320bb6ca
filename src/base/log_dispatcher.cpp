#include "base/log_dispatcher.h"

#include <cstdio>
#include <memory>
#include <new>

#include "korvela/debug_message.h"

#include "base/debug_info.h"

namespace korvela {

void LogDispatcher::Message(uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  MessageV(level, format, args);
  va_end(args);
}

void LogDispatcher::MessageV(uint32_t level, const char* format, va_list args) {
  // Lines nobody will see are not formatted at all.
  if (format == nullptr || level == kLogNever) return;
  ipcapture::IDebugInfoSink* sink = sink_.load();
  if (sink == nullptr) return;
  va_list measure;
  va_copy(measure, args);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  // The analyzer misreads va_copy of a parameter here.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return;  // not formattable: lost like a failed allocation
  std::unique_ptr<char[]> text(new (std::nothrow) char[static_cast<size_t>(length) + 1]);
  if (!text) return;
  std::vsnprintf(text.get(), static_cast<size_t>(length) + 1, format, args);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

  const uint32_t version = version_.load();
  const uint8_t mapped = MapLevel(level, static_cast<uint16_t>(version >> 16),
                                  static_cast<uint16_t>(version & 0xFFFF));
  CDebugInfo info(mapped, text.get());
  try {
    sink->Report(&info);
  } catch (...) {
    // The recorder's sink must not take a driver thread down with it.
  }
}

uint8_t LogDispatcher::MapLevel(uint32_t level, uint16_t major, uint16_t minor) {
  const bool before_5_12 = major < 5 || (major == 5 && minor < 12);
  const bool before_6_3 = major < 6 || (major == 6 && minor < 3);
  if (before_5_12) {
    if (level == kLogState || level == kLogOpened) level = kLogWarning;
  } else if (before_6_3) {
    if (level == kLogOpened) level = kLogState;
  }
  return static_cast<uint8_t>(level);
}

}  // namespace korvela
