// CDebugInfo: one log line handed to the recorder's debug sink; it lives only
// for the Report call and owns a copy of the text.
//
// Threading: immutable after construction.
#pragma once

#include <cstdint>
#include <memory>

#include "korvela/debug_message.h"

namespace korvela {

class CDebugInfo : public CDebugInfoIf {
 public:
  // Copies `text`; an empty or null text (or a failed copy) gives a null text.
  CDebugInfo(uint8_t level, const char* text);
  ~CDebugInfo() override = default;
  CDebugInfo(const CDebugInfo&) = delete;
  CDebugInfo& operator=(const CDebugInfo&) = delete;

  uint8_t GetLevel() const override { return level_; }
  const char* GetText() const override { return text_.get(); }

 private:
  uint8_t level_;
  std::unique_ptr<char[]> text_;
};

}  // namespace korvela
