// Test double for IDebugMessage: formats and records every line with its level.
//
// Threading: Message may be called from any thread; the record is guarded by
// mutex_, and every accessor returns a copy taken under it.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "korvela/debug_message.h"

#include "util/str_format.h"
#include "util/thread_annotations.h"

namespace korvela::testing {

// printf-style formatting of a va_list into a string (empty for a null format).
inline std::string FormatV(const char* format, va_list args) {
  std::string text;
  if (format == nullptr) return text;
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed > 0) {
    text.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(needed));
  }
  return text;
}

struct LogLine {
  uint32_t level = 0;
  std::string text;
};

class RecordingLog : public IDebugMessage {
 public:
  void Message(uint32_t level, const char* format, ...) override KORVELA_PRINTF_FORMAT(3, 4) {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back({level, std::move(text)});
  }

  std::vector<LogLine> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

  // Number of lines whose text contains `part` (at `level`, unless 0).
  size_t Count(std::string_view part, uint32_t level = 0) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& line : lines_)
      if ((level == 0 || line.level == level) && line.text.find(part) != std::string::npos) ++n;
    return n;
  }

  bool Contains(std::string_view part, uint32_t level = 0) const { return Count(part, level) > 0; }

  // Exact text of a line, e.g. "korvela::CBaseThread::StopThread: ...".
  bool HasLine(uint32_t level, std::string_view text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& line : lines_)
      if (line.level == level && line.text == text) return true;
    return false;
  }

  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<LogLine> lines_;  // guarded by mutex_ (std::mutex has no capability annotation)
};

}  // namespace korvela::testing
