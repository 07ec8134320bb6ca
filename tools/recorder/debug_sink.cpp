#include "recorder/debug_sink.h"

namespace korvela::recorder {

void DebugSink::SetEcho(std::FILE* out) {
  MutexLock lock(mutex_);
  echo_ = out;
}

void DebugSink::Report(const CDebugInfoIf* info) {
  if (info == nullptr) return;
  DebugLine line;
  line.level = info->GetLevel();
  const char* text = info->GetText();
  line.has_text = text != nullptr;
  if (text != nullptr) line.text = text;  // the driver's object dies after this call
  {
    MutexLock lock(mutex_);
    if (echo_ != nullptr) std::fprintf(echo_, "[%u] %s\n", line.level, line.text.c_str());
    if (lines_.size() == kMaxKeptLines) lines_.pop_front();
    lines_.push_back(std::move(line));
    ++total_;
  }
  changed_.NotifyAll();
}

std::vector<DebugLine> DebugSink::Lines() const {
  MutexLock lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

size_t DebugSink::total() const {
  MutexLock lock(mutex_);
  return total_;
}

size_t DebugSink::CountLocked(std::string_view part) const {
  size_t n = 0;
  for (const auto& line : lines_)
    if (line.text.find(part) != std::string::npos) ++n;
  return n;
}

size_t DebugSink::Count(std::string_view part) const {
  MutexLock lock(mutex_);
  return CountLocked(part);
}

int DebugSink::LevelOf(std::string_view part) const {
  MutexLock lock(mutex_);
  for (const auto& line : lines_)
    if (line.text.find(part) != std::string::npos) return line.level;
  return -1;
}

bool DebugSink::WaitFor(std::string_view part, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(mutex_);
  while (CountLocked(part) == 0 && changed_.WaitUntil(mutex_, deadline)) {
  }
  return CountLocked(part) > 0;
}

void DebugSink::Clear() {
  MutexLock lock(mutex_);
  lines_.clear();
}

}  // namespace korvela::recorder
