#include "base/debug_info.h"

#include <cstring>
#include <new>

namespace korvela {

CDebugInfo::CDebugInfo(uint8_t level, const char* text) : level_(level) {
  if (text == nullptr || text[0] == '\0') return;
  const size_t length = std::strlen(text);
  text_.reset(new (std::nothrow) char[length + 1]);
  if (text_) std::memcpy(text_.get(), text, length + 1);
}

}  // namespace korvela
