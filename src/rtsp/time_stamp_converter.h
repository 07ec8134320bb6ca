// CTimeStampConverter: wall-clock times for the frames of an RTP video stream
// from their RTP timestamps alone (no sender reports). The first frame is
// stamped with the local time; each later one advances by its timestamp step
// scaled by the measured ratio of local time to RTP ticks (after a warm-up of
// 100 steps at the nominal 90 kHz), never falls behind the local clock, and
// bleeds off any lead it builds up a little per frame.
//
// Threading: a value; the depacketiser that owns it calls it from the
// receiver's queue thread only.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/file_time.h"
#include "rtsp/statistics_helper.h"

namespace korvela {

class CTimeStampConverter {
 public:
  static constexpr uint32_t kWindow = 1000;            // steps in the averages
  static constexpr uint32_t kWarmUpSteps = 100;        // steps at the nominal rate
  static constexpr uint64_t kUnitsPerTick = 111;       // 100-ns units per 90 kHz tick
  static constexpr uint64_t kResyncStep = 10000000;    // 1 s: a discontinuity
  static constexpr uint64_t kRepeatStep = 10000;       // 1 ms for a repeated timestamp
  static constexpr uint64_t kMinCorrection = 10000;    // 1 ms
  static constexpr uint64_t kCorrectFrom = 40000;      // steps above 4 ms bleed the lead
  static constexpr uint64_t kKeepLeadBelow = 2500000;  // 0.25 s

  // `clock` must outlive the converter.
  explicit CTimeStampConverter(const platform::Clock& clock = platform::SystemClock());
  virtual ~CTimeStampConverter() = default;

  void Reset();
  // Takes the RTP timestamp of the next finished frame.
  void Update(uint32_t timestamp);
  // The last frame's time (UTC), or the current time before the first frame.
  platform::SystemTime GetTime() const;
  // The same as FILETIME (0 before the first frame).
  uint64_t GetFileTime() const { return lastTimestamp_ != 0 ? outputTime_ : 0; }

 private:
  const platform::Clock& clock_;
  uint64_t outputTime_ = 0;
  uint32_t lastTimestamp_ = 0;
  uint64_t lead_ = 0;
  TStatisticsHelper<unsigned int> tickDeltas_{kWindow};
  TStatisticsHelper<unsigned int> wallDeltas_{kWindow};
  uint64_t lastWallTime_ = 0;
};

}  // namespace korvela
