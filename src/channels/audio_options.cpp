#include "channels/audio_options.h"

#include "device/oid_request.h"
#include "device/text_utils.h"
#include "util/str_format.h"

namespace korvela {
namespace {

void Append(std::string& list, std::string_view oid, std::string_view value) {
  if (!list.empty()) list += '&';
  list += StrFormat("OidTR%.*s=%.*s", static_cast<int>(oid.size()), oid.data(),
                    static_cast<int>(value.size()), value.data());
}

}  // namespace

std::string AudioOidValue(std::string_view reply, std::string_view oid) {
  return GetValue(reply, oid, "=", "\r\n");
}

std::string BuildInputOptionWrites(std::string_view input_state, std::string_view duplex) {
  std::string list;
  if (input_state != "enabled") Append(list, kOidAudioInputState, "enabled");
  if (!duplex.empty() && duplex != "full") Append(list, kOidAudioDuplexMode, "full");
  return list;
}

Web::CResultDef ParseAudioOutputOptions(std::string_view reply, const char* origin,
                                        std::string_view model, std::string_view address,
                                        AudioOutputOptions& options) {
  options = AudioOutputOptions();
  const std::string model_text(model);
  const std::string address_text(address);
  auto missing = [&](const char* option, const char* oid) {
    return Web::CResultDef(
        kLogFailure, kCodeUnsupportedOption,
        StrFormat("%s: the %s device (IP=%s) doesn't support \"%s\" option (OID=%s)", origin,
                  model_text.c_str(), address_text.c_str(), option, oid));
  };
  const std::string bit_rate = AudioOidValue(reply, kOidAudioBitRate);
  if (bit_rate.empty()) return missing("Audio Bitrate", kOidAudioBitRate);
  int32_t kbits = 0;
  // A negative or absurd rate is no rate: 0, which GetAudioFormat refuses.
  if (ParseInt(bit_rate, kbits) && kbits > 0 && kbits <= 4'000'000)
    options.bit_rate = static_cast<uint32_t>(kbits) * 1000;
  options.output_state = AudioOidValue(reply, kOidAudioOutputState);
  if (options.output_state.empty()) return missing("Audio Output State", kOidAudioOutputState);
  options.duplex = AudioOidValue(reply, kOidAudioDuplexMode);
  if (options.duplex.empty()) return missing("Audio Duplex Mode", kOidAudioDuplexMode);
  options.password = AudioOidValue(reply, kOidTalkbackPassword);
  return Web::CResultDef(kLogState, HUtils::kCodeOk, "");
}

std::string BuildOutputOptionWrites(const AudioOutputOptions& options, std::string_view password) {
  std::string list;
  // The condition reads the output state, so the write enables the output;
  // writing the input state instead would leave the condition true and
  // repeat the write at every preparation.
  if (options.output_state != "enabled") Append(list, kOidAudioOutputState, "enabled");
  if (options.duplex != "full") Append(list, kOidAudioDuplexMode, "full");
  if (!password.empty()) Append(list, kOidTalkbackPassword, password);
  return list;
}

}  // namespace korvela
