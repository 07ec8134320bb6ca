#include "channels/base_rtp_data_channel.h"

#include "platform/socket.h"

namespace korvela {

namespace {

DEVICE_INFO DeviceOf(IDriver* driver) {
  return driver != nullptr && driver->GetDeviceInfo() != nullptr ? *driver->GetDeviceInfo()
                                                                 : DEVICE_INFO();
}

}  // namespace

CBaseRTPDataChannel::CBaseRTPDataChannel(IDriver* driver, uint32_t input_index,
                                         const platform::Clock& clock, RtpDataChannelTiming timing)
    : CBaseThread(driver),
      driver_(driver),
      input_index_(input_index),
      device_(DeviceOf(driver)),
      timing_(timing),
      ports_(driver, platform::ResolveHostIpv4(device_.address), /*video=*/false),
      last_data_time_(clock) {}

CBaseRTPDataChannel::~CBaseRTPDataChannel() { StopChannel(); }

bool CBaseRTPDataChannel::StartChannel(const char* name) {
  StopChannel();
  if (!StopEvent().Raw().valid()) {
    // Without it no RTSP or RTP wait could be aborted by a stop.
    if (driver_ != nullptr) {
      driver_->Message(1, "%s: %s of %s not started: no descriptor for its stop event",
                       "korvela::CBaseRTPDataChannel::StartChannel", name, device_.address.c_str());
    }
    return false;
  }
  sockets_started_ = platform::SocketLibrary::Startup();
  if (StartThread(name)) return true;
  if (sockets_started_) platform::SocketLibrary::Cleanup();
  sockets_started_ = false;
  return false;
}

void CBaseRTPDataChannel::StopChannel() {
  StopEvent().Set();
  OnStopping();
  JoinThread(2 * device_.connect_timeout_ms);
  if (sockets_started_) platform::SocketLibrary::Cleanup();
  sockets_started_ = false;
}

void CBaseRTPDataChannel::Run() {
  // The silence counts from the start, not from construction.
  last_data_time_.Reset();
  StopAll();
  if (SetUpSession() == SetUp::kFailed) StopAll();
  for (;;) {
    if (StopEvent().Wait(timing_.pass_ms)) {
      StopAll();
      OnStopped();
      return;
    }
    const uint64_t silent_ms = last_data_time_.ElapsedMs();
    if (silent_ms < device_.connect_timeout_ms) {
      OnIdle();
      continue;
    }
    if (silent_ms > device_.receive_timeout_ms) OnSignalLost();
    frame_event_.Reset();
    StopAll();
    switch (SetUpSession()) {
      case SetUp::kStarted:
        WaitForAny(StopEvent(), frame_event_, device_.receive_timeout_ms);
        break;
      case SetUp::kFailed:
        StopAll();
        break;
      case SetUp::kSessionFailed:
        break;  // torn down at the next pass
    }
  }
}

void CBaseRTPDataChannel::StopAll() {
  StopSession();
  ports_.Stop();
  OnSessionReset();
}

CBaseRTPDataChannel::SetUp CBaseRTPDataChannel::SetUpSession() {
  if (!PrepareDevice() || !ports_.Start(this, StopEvent(), timing_.port_probe_ms)) {
    return SetUp::kFailed;
  }
  return StartSession() ? SetUp::kStarted : SetUp::kSessionFailed;
}

void CBaseRTPDataChannel::OnRTPPacket(CRTPPacket* packet) {
  if (packet == nullptr) return;
  ports_.Accept(*packet);
  ProcessRTPPacket(*packet);
}

void CBaseRTPDataChannel::OnRTPPacketFrom(const platform::Endpoint& sender, CRTPPacket* packet) {
  if (packet != nullptr && ports_.Accept(sender, *packet)) ProcessRTPPacket(*packet);
}

void CBaseRTPDataChannel::DataAccepted() {
  last_data_time_.Reset();
  frame_event_.Set();
}

}  // namespace korvela
