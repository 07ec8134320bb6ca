// CG711RTPAudioParser: G.711 payloads (one byte per sample) passed through
// unchanged into recorder audio frames; see CBaseRTPAudioParser for the
// framing and the sequence check.
//
// Threading: as CBaseRTPAudioParser. The log throttle counters belong to the
// feeding thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/base_rtp_audio_parser.h"

namespace korvela {

class CG711RTPAudioParser : public CBaseRTPAudioParser {
 public:
  CG711RTPAudioParser(IDriver* driver, uint32_t audio_input);

  // False for a missing payload or one below 2 bytes.
  bool AppendPayload(const uint8_t* data, size_t length) override;
  // Allocates a "711M" record of the collected bytes, fills it, hands it to
  // the client and releases it.
  void ProcessAudioFrame() override;

 private:
  const std::string name_;  // source name of the records: the driver's name
  uint32_t allocation_log_counter_ = 0;
  uint32_t delivery_log_counter_ = 0;
};

}  // namespace korvela
