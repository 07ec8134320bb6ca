#include "driver/ip_video_capture.h"

#include <new>
#include <utility>

#include "core/idriver.h"

namespace korvela {
namespace {

uint32_t Low16(uint32_t value) { return value & 0xFFFFu; }

}  // namespace

CIPVideoCapture::CIPVideoCapture(uint32_t channel_count, IDriver* driver)
    : driver_(driver), table_(channel_count) {}

CIPVideoCapture::~CIPVideoCapture() {
  const uint32_t count = GetChannelCount();
  for (uint32_t i = 0; i < count; ++i) StopChannel(i);
}

uint32_t CIPVideoCapture::GetChannelCount() {
  CSyncLockGuard guard(lock_);
  return static_cast<uint32_t>(table_.size());
}

StreamSettings CIPVideoCapture::SettingsFrom(ipcapture::IVideoParams* params) {
  StreamSettings settings;
  if (params == nullptr) return settings;
  if (ipcapture::IVideoRate* rate = params->GetRate()) {
    settings.frame_rate = Low16(rate->GetFrameRate());
    settings.quality = Low16(rate->GetQuality());
  }
  if (ipcapture::IVideoFormat* format = params->GetFormat()) {
    if (ipcapture::IPictureSize* size = format->GetSize()) {
      settings.width = Low16(size->GetWidth());
      settings.height = Low16(size->GetHeight());
    }
  }
  return settings;
}

bool CIPVideoCapture::StartChannel(uint32_t input, ipcapture::IFrameReceiver* receiver,
                                   ipcapture::IVideoParams* params) {
  if (input >= GetChannelCount()) return false;
  StopChannel(input);

  if (ipcapture::IPrivacyZones* zones = driver_->GetPrivacyZones();
      zones != nullptr && params != nullptr)
    zones->SetZones(params);

  ICameraChannel* raw = driver_->CreateVideoChannel(input, receiver);
  if (raw == nullptr) return true;  // unknown stream type: nothing to start
  ChannelPtr channel;
  try {
    channel = ChannelPtr(raw);
  } catch (const std::bad_alloc&) {
    return false;  // shared_ptr deleted the channel
  }

  const bool started = channel->Start(SettingsFrom(params));
  ChannelPtr displaced;
  {
    CSyncLockGuard guard(lock_);
    // Another thread may have started this input meanwhile; the newer start
    // wins and the displaced channel is stopped, never leaked.
    displaced = std::exchange(table_[input], std::move(channel));
  }
  if (displaced) StopAndRelease(std::move(displaced));
  return started;
}

void CIPVideoCapture::StopAndRelease(ChannelPtr channel) {
  channel->Stop();
  channel.reset();  // deleted here unless a concurrent call still holds it
}

bool CIPVideoCapture::StopChannel(uint32_t input) {
  ChannelPtr channel;
  {
    CSyncLockGuard guard(lock_);
    if (input >= table_.size() || !table_[input]) return false;
    channel = std::move(table_[input]);
  }
  StopAndRelease(std::move(channel));
  return true;
}

CIPVideoCapture::ChannelPtr CIPVideoCapture::Find(uint32_t input) {
  CSyncLockGuard guard(lock_);
  return input < table_.size() ? table_[input] : nullptr;
}

bool CIPVideoCapture::ChangeChannel(uint32_t input, ipcapture::IPictureSize* size, uint32_t fps) {
  ChannelPtr channel = Find(input);
  if (!channel || size == nullptr) return false;
  StreamSettings settings;
  settings.frame_rate = Low16(fps);
  settings.quality = 0;  // ignored by ChangeSettings
  settings.width = Low16(size->GetWidth());
  settings.height = Low16(size->GetHeight());
  return channel->ChangeSettings(settings);
}

bool CIPVideoCapture::GetChannelState(uint32_t input, uint32_t* status, uint32_t* error_code,
                                      char* text, uint32_t text_size) {
  if (error_code != nullptr) *error_code = 0;
  if (text_size != 0 && text != nullptr) text[0] = '\0';
  ChannelPtr channel = Find(input);
  if (!channel) return false;
  const uint32_t state = channel->GetState();
  // The recorder knows no "stopped": a stopped channel reads as signal lost.
  if (status != nullptr) *status = state == kChannelStopped ? kChannelSignalLost : state;
  return true;
}

}  // namespace korvela
