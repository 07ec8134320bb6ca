// RtpPortPair: reception of one RTP session on a local port pair — the RTP
// receiver on an even port from kFirstRtpPort up, the RTCP handler on the
// odd port above — and the filter that lets only the camera's packets
// through.
//
// A port is taken only when no RTP from the camera arrives on it during a
// short probe: packets there belong to an earlier session (the camera may
// still be sending to it), and taking the port would mix two streams.
//
// Threading: Start, Stop and the ports are used by the owner's worker
// thread; Accept runs on the receiver's queue thread and touches only the
// data event and the RTCP statistics (under the handler's lock).
#pragma once

#include <cstdint>

#include "base/event.h"
#include "core/device_info.h"
#include "rtsp/base_rtsp_client.h"
#include "rtsp/rtcp_handler.h"
#include "rtsp/rtp_receiver.h"

namespace korvela {

class RtpPortPair {
 public:
  // RTP ports tried: even numbers from kFirstRtpPort below kRtpPortEnd (500
  // pairs).
  static constexpr uint16_t kFirstRtpPort = 3556;
  static constexpr uint16_t kRtpPortEnd = 4556;

  // `camera_address`: IPv4 in network order, 0 when it could not be resolved
  // (then no port is ever taken: RTCP refuses to start). `video`: packets are
  // handed on a frame at a time (CRTPReceiver::SetHoldUntilMarker).
  RtpPortPair(IDebugMessage* log, uint32_t camera_address, bool video);
  ~RtpPortPair();
  RtpPortPair(const RtpPortPair&) = delete;
  RtpPortPair& operator=(const RtpPortPair&) = delete;

  // Starts reception for `user` on the first free pair; false when the stop
  // event comes, every pair is busy or a socket cannot be had for another
  // reason (logged, throttled; e.g. no descriptor left). The user is then
  // cleared.
  bool Start(IRTPReceiverUser* user, CEvent& stop, uint32_t probe_ms);
  void Stop();

  // A packet has arrived from `sender`: true when it comes from the camera;
  // then the data event is set and RTCP counts its sequence number.
  bool Accept(const platform::Endpoint& sender, const CRTPPacket& packet);
  // A packet from the camera (the sender is known).
  void Accept(const CRTPPacket& packet);

  uint16_t rtp_port() { return receiver_.GetPort(); }
  uint16_t rtcp_port() { return rtcp_.GetPort(); }
  uint32_t camera_address() const { return camera_address_; }

 private:
  void LogNoSocket(uint32_t port, platform::SocketError error);

  IDebugMessage* const log_;
  uint32_t no_socket_log_counter_ = 0;  // owner's thread
  CRTPReceiver receiver_;
  CRTCPHandler rtcp_;
  const uint32_t camera_address_;
  CManualEvent data_event_;  // an RTP packet from the camera arrived
};

// The RTSP settings of a session with `device` whose media arrive on the
// given local ports (RTSP port 554 until a channel's own settings change it).
RtspClientSettings SessionSettings(const DEVICE_INFO& device, uint16_t rtp_port,
                                   uint16_t rtcp_port);

}  // namespace korvela
