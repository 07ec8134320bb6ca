#include "channels/rtp_port_pair.h"

namespace korvela {

RtpPortPair::RtpPortPair(IDebugMessage* log, uint32_t camera_address, bool video)
    : receiver_(log), rtcp_(log), camera_address_(camera_address) {
  receiver_.SetHoldUntilMarker(video);
}

RtpPortPair::~RtpPortPair() { Stop(); }

bool RtpPortPair::Start(IRTPReceiverUser* user, CEvent& stop, uint32_t probe_ms) {
  receiver_.SetUser(user);
  for (uint32_t port = kFirstRtpPort; port < kRtpPortEnd; port += 2) {
    if (stop.IsSet()) break;
    data_event_.Reset();
    if (!receiver_.Start(static_cast<uint16_t>(port))) continue;
    if (WaitForAny(stop, data_event_, probe_ms) == -1 &&
        rtcp_.Start(camera_address_, static_cast<uint16_t>(port + 1))) {
      return true;
    }
    Stop();
  }
  receiver_.SetUser(nullptr);
  return false;
}

void RtpPortPair::Stop() {
  receiver_.Stop();
  rtcp_.Stop();
}

bool RtpPortPair::Accept(const platform::Endpoint& sender, const CRTPPacket& packet) {
  if (sender.address_be != camera_address_) return false;
  Accept(packet);
  return true;
}

void RtpPortPair::Accept(const CRTPPacket& packet) {
  data_event_.Set();
  rtcp_.UpdateSequence(packet.GetSequenceNumber());
}

RtspClientSettings SessionSettings(const DEVICE_INFO& device, uint16_t rtp_port,
                                   uint16_t rtcp_port) {
  RtspClientSettings settings;
  settings.host = device.address;
  settings.userName = device.user_name;
  settings.password = device.password;
  settings.connectTimeoutMs = device.connect_timeout_ms;
  settings.clientRtpPort = rtp_port;
  settings.clientRtcpPort = rtcp_port;
  return settings;
}

}  // namespace korvela
