#include "rtsp/time_stamp_converter.h"

#include <algorithm>
#include <cmath>

namespace korvela {

CTimeStampConverter::CTimeStampConverter(const platform::Clock& clock) : clock_(clock) {}

void CTimeStampConverter::Reset() {
  outputTime_ = 0;
  lastTimestamp_ = 0;
  lead_ = 0;
  lastWallTime_ = 0;
  tickDeltas_.Clear();
  wallDeltas_.Clear();
}

void CTimeStampConverter::Update(uint32_t timestamp) {
  const uint64_t now = clock_.NowFileTime();
  bool jump = false;
  bool anchored = false;
  if (now == 0 || outputTime_ == 0 || lastTimestamp_ == 0) {
    anchored = true;
  } else if (timestamp > lastTimestamp_) {
    const uint32_t ticks = timestamp - lastTimestamp_;
    if (ticks * kUnitsPerTick >= kResyncStep) {
      // A second or more between frames is a break in the stream; it does
      // not enter the averages either.
      anchored = true;
    } else {
      tickDeltas_.Add(ticks);
      if (now >= lastWallTime_) wallDeltas_.Add(static_cast<uint32_t>(now - lastWallTime_));
      if (tickDeltas_.Count() <= kWarmUpSteps) {
        outputTime_ += ticks * kUnitsPerTick;
        jump = tickDeltas_.Count() == kWarmUpSteps;
      } else {
        uint64_t step = static_cast<uint64_t>(
            std::llround(ticks * wallDeltas_.Average() / tickDeltas_.Average()));
        if (lead_ > kMinCorrection && step > kCorrectFrom) {
          const uint64_t correction = std::clamp(step / 10, kMinCorrection, lead_);
          step -= correction;
          lead_ -= correction;
        }
        if (step >= kResyncStep) {
          anchored = true;
        } else {
          outputTime_ += step;
        }
      }
    }
  } else {
    // The same or an earlier timestamp (also a 32-bit wrap of the RTP clock).
    outputTime_ = std::max(outputTime_ + kRepeatStep, now);
    jump = true;
  }
  if (anchored || outputTime_ <= now) {
    outputTime_ = now;
    lead_ = 0;
  } else {
    const uint64_t lead = outputTime_ - now;
    if (jump || lead >= (uint64_t{1} << 32) || lead > kKeepLeadBelow) lead_ = lead;
  }
  lastTimestamp_ = timestamp;
  lastWallTime_ = now;
}

platform::SystemTime CTimeStampConverter::GetTime() const {
  platform::SystemTime st;
  if (outputTime_ != 0 && lastTimestamp_ != 0 && platform::FileTimeToSystemTime(outputTime_, &st)) {
    return st;
  }
  platform::FileTimeToSystemTime(clock_.NowFileTime(), &st);
  return st;
}

}  // namespace korvela
