// The camera's audio settings as OIDs: reading them from a reply and building
// the writes that switch audio on for the microphone (input) or the
// loudspeaker (talk-back output).
//
// Threading: free functions without state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "device/http_sender.h"

namespace korvela {

inline constexpr char kOidAudioBitRate[] = "1.17.1.2";    // kbit/s
inline constexpr char kOidAudioInputState[] = "1.9.5";    // "enabled" or not
inline constexpr char kOidAudioOutputState[] = "1.9.6";   // "enabled" or not
inline constexpr char kOidAudioDuplexMode[] = "1.9.7";    // "full" or "half"
inline constexpr char kOidTalkbackPassword[] = "1.9.10";  // the talk-back user's password

// Result code of a camera that lacks one of the audio OIDs.
inline constexpr uint32_t kCodeUnsupportedOption = 2;

// The value of `oid` in an OID reply ("OID=value" lines); empty when absent.
std::string AudioOidValue(std::string_view reply, std::string_view oid);

// Writes that turn the microphone on: "OidTR1.9.5=enabled" unless it is
// enabled, "OidTR1.9.7=full" when a duplex mode is given and is not full,
// joined by "&". Empty: nothing to change.
std::string BuildInputOptionWrites(std::string_view input_state, std::string_view duplex);

// The talk-back settings read by one query.
struct AudioOutputOptions {
  uint32_t bit_rate = 0;     // bits per second
  std::string output_state;  // 1.9.6
  std::string duplex;        // 1.9.7
  std::string password;      // 1.9.10; empty: the camera has no talk-back password
};

// Reads the talk-back settings from the reply to 1.17.1.2&1.9.6&1.9.7&1.9.10.
// A missing bit rate, output state or duplex mode fails with level 1, code 2
// and the message naming it (origin, model, address, OID).
Web::CResultDef ParseAudioOutputOptions(std::string_view reply, const char* origin,
                                        std::string_view model, std::string_view address,
                                        AudioOutputOptions& options);

// Writes that make the loudspeaker usable: "OidTR1.9.6=enabled" unless the
// output is enabled, "OidTR1.9.7=full" unless the duplex mode is full, and,
// when `password` is not empty, "OidTR1.9.10=<password>", joined by "&".
std::string BuildOutputOptionWrites(const AudioOutputOptions& options, std::string_view password);

}  // namespace korvela
