// CH264RTPMediaParser: rebuilds H.264 access units in Annex B form from RTP
// payloads (RFC 6184: single NAL units, STAP-A, FU-A) and delivers each as an
// "H264" (key frame: it holds a sequence parameter set before its first
// slice) or "I264" frame record, with the picture size of the last SPS.
//
// What real encoders and networks send shapes the rules:
// - every NAL unit of one byte or more is taken, delimiters, SEI and filler
//   included;
// - the parameter sets of the session description are inserted ahead of an
//   IDR slice whenever the unit holds no SPS yet, so a camera that sends them
//   only out of band still yields key frames;
// - a STAP-A that begins with an access-unit delimiter loses only the
//   delimiter;
// - a packet that carries nothing but parameter sets never ends the unit
//   (some cameras set the marker on it);
// - a repeated sequence number is a duplicate and dropped; any other break
//   drops the unit in progress and withholds frames until the next key frame;
// - a fragment that continues no fragmented unit is a loss, not data.
// Every unit ends with the five bytes 00 00 00 01 09 (a start code and a
// delimiter header) that the recorder expects.
//
// Threading: as CRTPMediaParser; SetParameterSets and Reset come from the
// channel's worker while no packets flow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "media/rtp_media_parser.h"

namespace korvela {

class CH264RTPMediaParser : public CRTPMediaParser {
 public:
  // Longest parameter set taken out of band.
  static constexpr size_t kMaxParameterSetBytes = 4096;

  CH264RTPMediaParser(IDriver* driver, std::string name,
                      const platform::Clock& clock = platform::SystemClock());

  using CRTPMediaParser::ProcessPacket;
  void ProcessPacket(const RtpPacketView& packet) override;
  void Reset() override;

  // The SPS and PPS NAL units of "sprop-parameter-sets" (without start
  // codes). Taken, with the picture size, only when both are present and the
  // SPS parses.
  void SetParameterSets(std::span<const uint8_t> sps, std::span<const uint8_t> pps);

  bool waiting_for_key_frame() const { return waiting_for_key_frame_; }

 private:
  bool ProcessPayload(std::span<const uint8_t> payload);
  bool ProcessStapA(std::span<const uint8_t> payload);
  bool ProcessFuA(std::span<const uint8_t> payload);
  // Appends a start code and the NAL header of a new unit (after the stored
  // parameter sets when it is an IDR slice of a unit without SPS).
  void BeginNal(uint8_t header);
  void AppendNal(std::span<const uint8_t> nal);
  void EmitAccessUnit(uint32_t timestamp);
  // The unit in progress is done with (emitted or dropped).
  void ClearUnit();

  bool waiting_for_key_frame_ = true;
  // False after a packet that carried only parameter sets.
  bool access_unit_may_end_ = true;
  std::vector<uint8_t> stored_sps_;
  std::vector<uint8_t> stored_pps_;

  // The unit in progress.
  static constexpr size_t kNone = SIZE_MAX;
  size_t key_sps_offset_ = kNone;  // header of an SPS that came before any slice
  bool unit_has_sps_ = false;
  bool unit_has_slice_ = false;
  bool in_fragment_ = false;  // an FU-A unit is open
  uint8_t fragment_type_ = 0;
};

}  // namespace korvela
