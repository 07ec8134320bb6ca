// Levels passed to IDebugMessage::Message.
#pragma once

#include <cstdint>

namespace korvela {

constexpr uint32_t kLogFailure = 1;
constexpr uint32_t kLogWarning = 2;
constexpr uint32_t kLogState = 3;
constexpr uint32_t kLogNever = 4;     // dropped before it reaches the recorder
constexpr uint32_t kLogOpened = 100;  // the "DRIVER IS OPENED" line

}  // namespace korvela
