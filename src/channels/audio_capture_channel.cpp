#include "channels/audio_capture_channel.h"

#include <new>
#include <string>
#include <vector>

#include "korvela/debug_message.h"

#include "base/log_throttle.h"
#include "channels/audio_options.h"
#include "device/oid_request.h"
#include "device/text_utils.h"
#include "media/g711_rtp_audio_parser.h"
#include "util/str_format.h"

namespace korvela {
namespace {

constexpr const char* kOptionsOrigin =
    "korvela::CQuarnoAudioCaptureChannel::UpdateIQEyeAudioOptions";
// Above this many kbit/s a bit rate is no audio bit rate (and would not fit
// the frame's field in bits per second).
constexpr int32_t kMaxAudioKbits = 4'000'000;

DEVICE_INFO DeviceOf(IDriver* driver) {
  const DEVICE_INFO* info = driver != nullptr ? driver->GetDeviceInfo() : nullptr;
  return info != nullptr ? *info : DEVICE_INFO();
}

}  // namespace

CQuarnoAudioCaptureChannel::CQuarnoAudioCaptureChannel(
    IDriver* driver, uint32_t key, uint32_t input, ipcapture::IAudioCallback* callback,
    ipcapture::IAudioFormatList* formats, const platform::Clock& clock, RtpDataChannelTiming timing)
    : CBaseAudioRTSPChannel(driver, key, input, callback, formats, clock, timing),
      sender_(DeviceOf(driver)) {}

CQuarnoAudioCaptureChannel::~CQuarnoAudioCaptureChannel() { StopChannel(); }

void CQuarnoAudioCaptureChannel::OnStopping() { sender_.StopRequests(); }

void CQuarnoAudioCaptureChannel::ProcessRTPPacket(const CRTPPacket& packet) {
  std::shared_ptr<CBaseRTPAudioParser> parser;
  {
    MutexLock lock(parser_mu_);
    parser = parser_;
  }
  if (parser) parser->ProcessPacket(packet);
}

bool CQuarnoAudioCaptureChannel::DeliverAudioFrame(ipcapture::IAudioFrame* frame) {
  return DeliverAudio(frame);
}

void CQuarnoAudioCaptureChannel::PrepareSettings(RtspClientSettings& settings) {
  int32_t port = 0;
  const std::string text =
      driver() != nullptr ? driver()->GetParameter(ipcapture::kParamRtspPort) : "";
  if (!text.empty() && ParseInt(text, port) && port >= 0 && port <= 65535)
    settings.port = static_cast<uint16_t>(port);
  settings.path = kAudioPath;
  settings.mediaSelector = kMediaAudio;
}

bool CQuarnoAudioCaptureChannel::PrepareAudio() {
  // Allowed before the stop is tested: a stop signalled after the test
  // stops the sender after this, so its request cannot outlive the stop.
  sender_.AllowRequests();
  if (IsStopSignalled()) return false;
  ipcapture::IAudioFormatList* list = formats();
  const uint32_t count = list != nullptr ? list->GetCount() : 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (IsStopSignalled()) return false;
    ipcapture::IAudioFormatEntry* entry = list->GetEntry(i);
    if (entry == nullptr || !entry->IsEnabled() ||
        entry->GetFormatCode() != ipcapture::kAudioFormatMuLaw) {
      continue;
    }
    return UpdateIQEyeAudioOptions() && CreateParser();
  }
  return false;
}

bool CQuarnoAudioCaptureChannel::UpdateIQEyeAudioOptions() {
  Web::CResultDef result(kLogNever, HUtils::kCodeOk, "");
  if (!IsStopSignalled()) {
    std::string reply;
    result = HUtils::GetOidRD(sender_, StrFormat("%s&%s", kOidAudioInputState, kOidAudioDuplexMode),
                              reply);
    if (result.Succeeded()) {
      const std::string input_state = AudioOidValue(reply, kOidAudioInputState);
      if (input_state.empty()) {
        result.Set(kLogFailure, kCodeUnsupportedOption,
                   StrFormat("%s: the %s device (IP=%s) doesn't support \"Audio Input State\" "
                             "option (OID=%s)",
                             kOptionsOrigin, device().model.c_str(), device().address.c_str(),
                             kOidAudioInputState));
      } else {
        const std::string writes =
            BuildInputOptionWrites(input_state, AudioOidValue(reply, kOidAudioDuplexMode));
        if (writes.empty()) return true;
        std::vector<uint8_t> body;
        result = HUtils::RequestGetRD("/set.oid?" + writes, body, sender_, true);
        if (result.Succeeded()) return true;
      }
    }
  }
  if (LogThrottle(option_errors_) && !result.message.empty() && result.level != kLogNever &&
      driver() != nullptr) {
    driver()->Message(result.level, "%s", result.message.c_str());
  }
  return false;
}

uint32_t CQuarnoAudioCaptureChannel::ReadBitRate() {
  if (IsStopSignalled()) return 0;
  int32_t kbits = 0;
  if (!ParseInt(HUtils::GetOid(sender_, kOidAudioBitRate), kbits)) return 0;
  // The camera gives kbit/s; a frame carries bits per second, as talk-back
  // frames do.
  if (kbits <= 0 || kbits > kMaxAudioKbits) return 0;
  return static_cast<uint32_t>(kbits) * 1000;
}

bool CQuarnoAudioCaptureChannel::CreateParser() {
  const uint32_t bit_rate = ReadBitRate();
  if (bit_rate == 0) return false;
  std::shared_ptr<CG711RTPAudioParser> parser;
  try {
    parser = std::make_shared<CG711RTPAudioParser>(driver(), key());
  } catch (const std::bad_alloc&) {
    return false;
  }
  parser->SetClient(this);
  parser->SetFormatCode(ipcapture::kAudioFormatMuLaw);
  parser->SetSampleRate(kSampleRate);
  parser->SetBitRate(bit_rate);
  parser->SetBitsPerSample(kBitsPerSample);
  MutexLock lock(parser_mu_);
  parser_ = std::move(parser);
  return true;
}

}  // namespace korvela
