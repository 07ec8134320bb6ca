#include "channels/base_audio_rtsp_channel.h"

#include <string>

#include "korvela/debug_message.h"

#include "util/str_format.h"

namespace korvela {
namespace {

constexpr const char* kSignalOrigin = "korvela::CBaseAudioRTSPChannel::SetDeviceState";

}  // namespace

bool AudioInputStateMachine::IsAllowed(uint32_t from, uint32_t to) {
  using S = CBaseAudioRTSPChannel::State;
  switch (from) {
    case S::kStopped:
      return to == S::kConnecting;
    case S::kConnecting:
      return to == S::kRunning || to == S::kStopping || to == S::kAudioLost;
    case S::kRunning:
      return to == S::kStopping || to == S::kAudioLost;
    case S::kStopping:
    case S::kError:
      return to == S::kStopped;
    case S::kAudioLost:
      return to == S::kConnecting || to == S::kStopping;
    default:
      return false;
  }
}

bool AudioInputStateMachine::Move(uint32_t to) {
  // One thread moves the state: no compare-and-swap needed.
  if (!IsAllowed(state_.load(), to)) return false;
  state_.store(to);
  if (report_) report_(to);
  return true;
}

CBaseAudioRTSPChannel::CBaseAudioRTSPChannel(IDriver* driver, uint32_t key, uint32_t input,
                                             ipcapture::IAudioCallback* callback,
                                             ipcapture::IAudioFormatList* formats,
                                             const platform::Clock& clock,
                                             RtpDataChannelTiming timing)
    : CBaseRTPDataChannel(driver, input, clock, timing),
      state_([this](uint32_t state) {
        if (callback_ != nullptr) callback_->OnStateChanged(key_, state);
      }),
      key_(key),
      last_keep_alive_(clock),
      callback_(callback),
      formats_(formats) {
  client_.SetStopEvent(&StopEvent().Raw());
}

CBaseAudioRTSPChannel::~CBaseAudioRTSPChannel() { client_.Disconnect(); }

bool CBaseAudioRTSPChannel::Start() {
  CSyncLockGuard guard(lifecycle_lock_);
  return StartChannel(kThreadName);
}

bool CBaseAudioRTSPChannel::Stop() {
  CSyncLockGuard guard(lifecycle_lock_);
  StopChannel();
  return true;
}

bool CBaseAudioRTSPChannel::PrepareDevice() {
  MoveTo(kConnecting);
  if (PrepareAudio()) return true;
  MoveTo(kAudioLost);
  return false;
}

bool CBaseAudioRTSPChannel::StartSession() {
  RtspClientSettings settings = SessionSettings(device(), rtp_port(), rtcp_port());
  PrepareSettings(settings);
  const bool started = client_.Connect(settings) && !IsStopSignalled() &&
                       client_.Execute(kRtspDescribe) && !IsStopSignalled() &&
                       client_.Execute(kRtspSetup) && !IsStopSignalled() &&
                       client_.Execute(kRtspPlay);
  if (!started || IsStopSignalled()) {
    MoveTo(kAudioLost);
    return false;
  }
  last_keep_alive_.Reset();  // PLAY has just refreshed the session
  MoveTo(kRunning);
  return true;
}

void CBaseAudioRTSPChannel::StopSession() {
  const uint32_t state = state_.Get();
  if (!IsStopSignalled() && (state == kConnecting || state == kRunning)) MoveTo(kStopping);
  // The answer does not matter; a dead session shows up as missing audio.
  if (client_.IsConnected()) client_.Execute(kRtspTeardown);
  client_.Disconnect();
}

void CBaseAudioRTSPChannel::OnIdle() {
  if (!client_.IsConnected()) return;
  if (last_keep_alive_.ElapsedMs() <= client_.GetSessionTimeoutMs() / 2) return;
  if (client_.Execute(kRtspOptions)) {
    last_keep_alive_.Reset();
    return;
  }
  const uint32_t state = state_.Get();
  if (state == kConnecting || state == kRunning) MoveTo(kAudioLost);
}

void CBaseAudioRTSPChannel::OnSignalLost() {
  const uint32_t state = state_.Get();
  if (state == kConnecting || state == kRunning) MoveTo(kAudioLost);
  SetDeviceState(false);
}

void CBaseAudioRTSPChannel::OnSessionReset() {
  const uint32_t state = state_.Get();
  if (!IsStopSignalled() && (state == kStopping || state == kError)) MoveTo(kStopped);
}

void CBaseAudioRTSPChannel::OnStopped() {
  // A stop ends in 0 from whatever state the channel was in: through 3
  // (session being stopped) unless it is there or in 4 already.
  const uint32_t state = state_.Get();
  if (state != kStopping && state != kError) MoveTo(kStopping);
  MoveTo(kStopped);
  SetDeviceState(false);
}

bool CBaseAudioRTSPChannel::DeliverAudio(ipcapture::IAudioFrame* frame) {
  if (IsStopSignalled() || state_.Get() != kRunning) return false;
  if (callback_ != nullptr) callback_->OnAudioFrame(frame);
  DataAccepted();
  SetDeviceState(true);
  return true;
}

void CBaseAudioRTSPChannel::SetDeviceState(bool present) {
  {
    MutexLock lock(signal_mu_);
    if (signal_present_ == present) return;
    signal_present_ = present;
  }
  IDriver* log = driver();
  if (log == nullptr) return;
  const std::string name =
      log->GetChannelCount() > 1
          ? StrFormat("video-server %s (channel %u)", device().address.c_str(), input_index())
          : StrFormat("camera %s", device().address.c_str());
  if (present) {
    log->Message(kLogState, "%s: Audio signal from %s is OK", kSignalOrigin, name.c_str());
    return;
  }
  switch (state_.Get()) {
    case kStopped:
      log->Message(kLogState, "%s: Audio channel was stopped for %s", kSignalOrigin, name.c_str());
      break;
    case kConnecting:
      log->Message(kLogFailure, "%s: Audio channel connecting %s", kSignalOrigin, name.c_str());
      break;
    case kError:
      log->Message(kLogFailure, "%s: Error occurs in audio channel for %s", kSignalOrigin,
                   name.c_str());
      break;
    case kAudioLost:
      log->Message(kLogFailure, "%s: Audio signal was lost for %s", kSignalOrigin, name.c_str());
      break;
    default:
      log->Message(kLogFailure, "%s: Unexpected channel status for %s", kSignalOrigin,
                   name.c_str());
      break;
  }
}

}  // namespace korvela
