#include "channels/base_rtsp_channel.h"

namespace korvela {

CBaseRTSPChannel::CBaseRTSPChannel(uint32_t input_index, IDriver* driver,
                                   ipcapture::IFrameReceiver* receiver,
                                   const platform::Clock& clock, RtpChannelTiming timing)
    : CBaseRTPChannel(input_index, driver, receiver, clock, timing) {
  client_.SetStopEvent(&stop_event().Raw());
}

CBaseRTSPChannel::~CBaseRTSPChannel() { client_.Disconnect(); }

bool CBaseRTSPChannel::StartSession() {
  if (!StartReception()) return false;
  RtspClientSettings settings = SessionSettings(device(), rtp_port(), rtcp_port());
  PrepareSettings(settings);
  if (!client_.Connect(settings)) return false;
  if (stop_event().IsSet() || !client_.Execute(kRtspDescribe)) return false;
  if (stop_event().IsSet()) return false;
  OnDescribed();
  if (!client_.Execute(kRtspSetup)) return false;
  if (stop_event().IsSet()) return false;
  return client_.Execute(kRtspPlay);
}

void CBaseRTSPChannel::StopSession() {
  // The answer does not matter: a dead session shows up as missing frames.
  if (client_.IsConnected()) client_.Execute(kRtspTeardown);
  client_.Disconnect();
  StopReception();
}

void CBaseRTSPChannel::SendKeepAlive() { client_.Execute(kRtspOptions); }

}  // namespace korvela
