#include "channels/base_rtp_channel.h"

#include "platform/socket.h"

namespace korvela {

CBaseRTPChannel::CBaseRTPChannel(uint32_t input_index, IDriver* driver,
                                 ipcapture::IFrameReceiver* receiver, const platform::Clock& clock,
                                 RtpChannelTiming timing)
    : CBaseCameraChannel(input_index, driver, receiver, clock),
      ports_(driver, platform::ResolveHostIpv4(device().address), /*video=*/true),
      timing_(timing) {}

CBaseRTPChannel::~CBaseRTPChannel() { StopReception(); }

uint32_t CBaseRTPChannel::Run() {
  last_frame_time().Reset();  // silence counts from the start
  const uint32_t limit_ms = device().receive_timeout_ms;
  for (;;) {
    if (GetState() == kChannelReceiving) {
      CheckKeepAlive();
    } else {
      Reconnect();
    }
    const bool stopping = stop_event().Wait(timing_.pass_ms);
    const uint64_t silent_ms = last_frame_time().ElapsedMs();
    if (silent_ms < limit_ms / 2 && !stopping) continue;
    if (stopping) break;
    SetStatus(kChannelSignalLost);
    if (silent_ms >= limit_ms) {
      if (receiver() != nullptr) receiver()->OnSignalLost();
      SetCameraState(false);
    }
  }
  SetStatus(kChannelStopped);
  StopSession();
  SetCameraState(false);
  return 0;
}

void CBaseRTPChannel::Reconnect() {
  frame_event_.Reset();
  SetStatus(kChannelStopped);
  StopSession();
  if (!PrepareDevice()) {
    SetStatus(kChannelStopped);
    StopSession();
    return;
  }
  if (!StartSession()) return;  // the next pass tears the partial session down
  // The session counts as receiving once its first frame is delivered.
  if (WaitForAny(stop_event(), frame_event_, device().receive_timeout_ms) == 1) {
    SetStatus(kChannelReceiving);
  }
}

void CBaseRTPChannel::CheckKeepAlive() {
  const uint64_t now = clock().SteadyMs();
  if (last_keep_alive_ms_ && now - *last_keep_alive_ms_ <= timing_.keep_alive_interval_ms) return;
  SendKeepAlive();
  last_keep_alive_ms_ = clock().SteadyMs();
}

bool CBaseRTPChannel::OnStarting() {
  if (stop_event().Raw().valid()) return true;
  SetStatus(1);
  if (driver() != nullptr) {
    driver()->Message(1, "%s: Video input %u of %s not started: no descriptor for its stop event",
                      "korvela::CBaseRTPChannel::OnStarting", input_index(),
                      device().address.c_str());
  }
  return false;
}

bool CBaseRTPChannel::StartSession() { return StartReception(); }

void CBaseRTPChannel::StopSession() { StopReception(); }

void CBaseRTPChannel::OnRTPPacket(CRTPPacket* packet) {
  if (packet == nullptr) return;
  ports_.Accept(*packet);
  ProcessRTPPacket(*packet);
}

void CBaseRTPChannel::OnRTPPacketFrom(const platform::Endpoint& sender, CRTPPacket* packet) {
  if (packet != nullptr && ports_.Accept(sender, *packet)) ProcessRTPPacket(*packet);
}

bool CBaseRTPChannel::DeliverFrame(ipcapture::IVideoFrame* frame) {
  frame_event_.Set();
  if (!ForwardFrame(frame)) return false;
  last_frame_time().Reset();
  // A frame in flight while the channel stops must not report it online
  // again after "Channel was stopped".
  if (!stop_event().IsSet()) SetCameraState(true);
  return true;
}

void CBaseRTPChannel::GetFrameSize(uint32_t* width, uint32_t* height) {
  const StreamSettings settings = GetSettings();
  if (width != nullptr) *width = settings.width;
  if (height != nullptr) *height = settings.height;
}

}  // namespace korvela
