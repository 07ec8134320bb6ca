#include "channels/rtp_port_pair.h"

#include "korvela/debug_message.h"

#include "base/log_throttle.h"

namespace korvela {

RtpPortPair::RtpPortPair(IDebugMessage* log, uint32_t camera_address, bool video)
    : log_(log), receiver_(log), rtcp_(log), camera_address_(camera_address) {
  receiver_.SetHoldUntilMarker(video);
}

RtpPortPair::~RtpPortPair() { Stop(); }

bool RtpPortPair::Start(IRTPReceiverUser* user, CEvent& stop, uint32_t probe_ms) {
  receiver_.SetUser(user);
  for (uint32_t port = kFirstRtpPort; port < kRtpPortEnd; port += 2) {
    if (stop.IsSet()) break;
    data_event_.Reset();
    if (!receiver_.Start(static_cast<uint16_t>(port))) {
      if (receiver_.GetStartError() == platform::SocketError::kAddressInUse) continue;
      LogNoSocket(port, receiver_.GetStartError());
      break;
    }
    if (WaitForAny(stop, data_event_, probe_ms) == -1) {
      if (rtcp_.Start(camera_address_, static_cast<uint16_t>(port + 1))) return true;
      const platform::SocketError error = rtcp_.GetStartError();
      if (error != platform::SocketError::kAddressInUse) {
        if (camera_address_ != 0) LogNoSocket(port + 1, error);
        Stop();
        break;
      }
    }
    Stop();
  }
  receiver_.SetUser(nullptr);
  return false;
}

void RtpPortPair::LogNoSocket(uint32_t port, platform::SocketError error) {
  // Trying further ports would fail the same way (e.g. no descriptor left).
  if (log_ != nullptr && LogThrottle(no_socket_log_counter_)) {
    log_->Message(1, "%s: no UDP socket on local port %u: %s", "korvela::RtpPortPair::Start", port,
                  platform::SocketErrorName(error));
  }
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
