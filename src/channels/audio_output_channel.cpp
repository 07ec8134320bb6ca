#include "channels/audio_output_channel.h"

#include <string>
#include <vector>

#include "korvela/debug_message.h"

#include "base/log_throttle.h"
#include "device/oid_request.h"
#include "device/text_utils.h"
#include "util/str_format.h"

namespace korvela {
namespace {

constexpr const char* kGetOptionsOrigin = "korvela::CQuarnoAudioOutputChannel::GetAudioOptions";
constexpr const char* kSendOrigin = "korvela::CQuarnoAudioOutputChannel::SendAudioFrameToDevice";

DEVICE_INFO DeviceOf(IDriver* driver) {
  const DEVICE_INFO* info = driver != nullptr ? driver->GetDeviceInfo() : nullptr;
  return info != nullptr ? *info : DEVICE_INFO();
}

uint32_t ParameterBitRate(IDriver* driver) {
  const int32_t rate = driver != nullptr ? driver->GetParameterInt(ipcapture::kParamAudioBitRate)
                                         : kParameterNotANumber;
  return rate > CQuarnoAudioOutputChannel::kMinParameterBitRate ? static_cast<uint32_t>(rate) : 0;
}

}  // namespace

CQuarnoAudioOutputChannel::CQuarnoAudioOutputChannel(IDriver* driver, uint32_t key, uint32_t value,
                                                     ipcapture::IAudioSenderCallback* callback,
                                                     ipcapture::IAudioOutputFormatList* formats)
    : CBaseAudioOutputChannel(driver, key, value, callback, formats),
      oid_sender_(DeviceOf(driver)),
      post_sender_(DeviceOf(driver)),
      bit_rate_(ParameterBitRate(driver)) {
  post_sender_.SetCredentials(kPostUser, kDefaultPostPassword);
}

CQuarnoAudioOutputChannel::~CQuarnoAudioOutputChannel() { StopWorker(); }

bool CQuarnoAudioOutputChannel::Start() {
  oid_sender_.AllowRequests();
  post_sender_.AllowRequests();
  return CBaseAudioOutputChannel::Start();
}

void CQuarnoAudioOutputChannel::OnStopping() {
  oid_sender_.StopRequests();
  post_sender_.StopRequests();
}

bool CQuarnoAudioOutputChannel::GetAudioFormat(ipcapture::IAudioFormat* format) {
  const uint32_t bit_rate = bit_rate_.load();
  if (bit_rate == 0 || format == nullptr) return false;
  format->SetFormatCode(ipcapture::kAudioFormatMuLaw);
  format->SetSampleRate(kSampleRate);
  format->SetBitRate(bit_rate);
  format->SetStereo(0);
  return true;
}

bool CQuarnoAudioOutputChannel::IsFormatSupported(ipcapture::IAudioOutputFormatEntry* entry) {
  return entry != nullptr && entry->IsEnabled() &&
         entry->GetFormatCode() == ipcapture::kAudioFormatMuLaw;
}

bool CQuarnoAudioOutputChannel::IsFrameAcceptable(ipcapture::IAudioFrame* frame) {
  return frame->GetFormatCode() == ipcapture::kAudioFormatMuLaw &&
         frame->GetSampleRate() == kSampleRate && !frame->IsStereo() &&
         frame->GetBitRate() == bit_rate_.load();
}

Web::CResultDef CQuarnoAudioOutputChannel::GetAudioOptions(AudioOutputOptions& options) {
  const std::string address = oid_sender_.GetAddress();
  if (IsStopSignalled()) {
    return Web::CResultDef(kLogNever, 6,
                           StrFormat("%s: audio output thread is stopping now (device %s)",
                                     kGetOptionsOrigin, address.c_str()));
  }
  std::string reply;
  const Web::CResultDef result =
      HUtils::GetOidRD(oid_sender_,
                       StrFormat("%s&%s&%s&%s", kOidAudioBitRate, kOidAudioOutputState,
                                 kOidAudioDuplexMode, kOidTalkbackPassword),
                       reply);
  if (!result.Succeeded()) return result;
  return ParseAudioOutputOptions(reply, kGetOptionsOrigin, DeviceOf(driver()).model, address,
                                 options);
}

bool CQuarnoAudioOutputChannel::PrepareDevice() {
  AudioOutputOptions options;
  Web::CResultDef result = GetAudioOptions(options);
  if (result.Succeeded()) {
    bit_rate_.store(options.bit_rate);
    std::string password;
    if (!options.password.empty()) {
      if (post_sender_.GetPassword() == kDefaultPostPassword) {
        post_sender_.SetCredentials(kPostUser, RandomString(kPasswordLength));
      }
      password = post_sender_.GetPassword();
    }
    const std::string writes = BuildOutputOptionWrites(options, password);
    if (writes.empty()) return true;
    if (!IsStopSignalled()) {
      std::vector<uint8_t> body;
      result = HUtils::RequestGetRD("/set.oid?" + writes, body, oid_sender_, true);
      if (result.Succeeded()) return true;
    }
  }
  LogResult(result);
  return false;
}

bool CQuarnoAudioOutputChannel::SendAudioFrameToDevice(ipcapture::IAudioFrame* frame) {
  if (IsStopSignalled()) return true;
  const uint8_t* data = frame->GetData();
  const uint32_t length = frame->GetDataLength();
  std::vector<uint8_t> bytes;
  if (data != nullptr) bytes.assign(data, data + length);
  bool refused = false;
  if (post_sender_.IsRequestOpen() && !bytes.empty()) {
    if (post_sender_.WriteData(bytes)) return true;
    // A camera that answered the POST with an error refuses it: it is not
    // asked again before a new preparation.
    refused = post_sender_.GetStatusCode() >= kFirstRefusalStatus;
  }
  // No POST open, its declared length used up, or the camera ended it: the
  // next POST begins with this frame.
  if (!refused && OpenPost(bytes)) return true;
  if (LogThrottle(error_counter_)) {
    driver()->Message(kLogFailure, "%s: Unable to post audio data to %s device using \"%s\" URL",
                      kSendOrigin, post_sender_.GetAddress().c_str(), kPostPath);
  }
  post_sender_.CloseRequest();
  return false;
}

bool CQuarnoAudioOutputChannel::OpenPost(const std::vector<uint8_t>& bytes) {
  Web::HttpRequest request("POST", kPostPath);
  request.headers.push_back(kPostContentType);
  request.body = bytes;
  request.total_length = kPostDeclaredLength;
  return static_cast<bool>(post_sender_.SendRequest(request));
}

void CQuarnoAudioOutputChannel::LogResult(const Web::CResultDef& result) {
  if (!LogThrottle(error_counter_)) return;
  if (result.message.empty() || result.level == kLogNever) return;
  driver()->Message(result.level, "%s", result.message.c_str());
}

}  // namespace korvela
