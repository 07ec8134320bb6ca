// CBaseRTPChannel: a video channel fed by RTP over UDP. It receives on a free
// local port pair (RtpPortPair: RTP receiver, RTCP handler, sender filter),
// reports every packet's sequence number to RTCP, hands the packets to the
// derived class's depacketiser and receives the finished frames back through
// IMediaParserClient. Its worker watches for missing frames: status 2 and a
// new session after half the device's receive time-out without a frame, the
// recorder's OnSignalLost and the offline report after the full time-out.
//
// Derived classes supply the device steps: PrepareDevice (configuration
// before each session), SendKeepAlive and ProcessRTPPacket; CBaseRTSPChannel
// adds the RTSP dialogue to StartSession/StopSession.
//
// Threading: Run, StartSession, StopSession, CheckKeepAlive and
// PrepareDevice run on the channel's worker thread. RTP packets arrive on the
// receiver's queue thread (OnRTPPacketFrom -> ProcessRTPPacket), and the
// depacketiser calls DeliverFrame there; that path touches only the events,
// RTCP's statistics (under the handler's own lock) and the base's frame path
// (status, last frame time and online flag, each under its lock). The
// recorder's threads call Start/Stop/ChangeSettings (CBaseCameraChannel).
// last_keep_alive_ms_ belongs to the worker.
#pragma once

#include <cstdint>
#include <optional>

#include "channels/base_camera_channel.h"
#include "channels/rtp_port_pair.h"
#include "media/media_parser_client.h"

namespace korvela {

struct RtpChannelTiming {
  // How long a fresh RTP port is watched for stray packets from the camera
  // before it is taken.
  uint32_t port_probe_ms = 2000;
  // Period of SendKeepAlive while receiving.
  uint32_t keep_alive_interval_ms = 30000;
  // Pause of the worker loop between two checks.
  uint32_t pass_ms = 1000;
};

class CBaseRTPChannel : public CBaseCameraChannel,
                        public IRTPReceiverUser,
                        public IMediaParserClient {
 public:
  CBaseRTPChannel(uint32_t input_index, IDriver* driver, ipcapture::IFrameReceiver* receiver,
                  const platform::Clock& clock, RtpChannelTiming timing);
  // Stops the receiver and the RTCP handler (the worker must be stopped by
  // the most derived class's destructor before).
  ~CBaseRTPChannel() override;

  // Local RTP port of the running session; 0 without one.
  uint16_t rtp_port() { return ports_.rtp_port(); }

 protected:
  uint32_t Run() override;
  // Refuses the start (status 1, a log line) when the stop event has no
  // descriptor: the RTSP and RTP waits could not be aborted by a stop.
  bool OnStarting() override;
  virtual void CheckKeepAlive();
  // Starts reception on a free port pair.
  virtual bool StartSession();
  // Stops reception.
  virtual void StopSession();
  // Configures the device before a session; false fails the session start.
  virtual bool PrepareDevice() = 0;
  virtual void SendKeepAlive() = 0;
  // Every RTP packet from the camera, in arrival order (queue thread).
  virtual void ProcessRTPPacket(const CRTPPacket& packet) = 0;

  // IRTPReceiverUser (queue thread).
  void OnRTPPacket(CRTPPacket* packet) override;
  void OnRTPPacketFrom(const platform::Endpoint& sender, CRTPPacket* packet) override;
  void OnReceiveTimeout() override {}
  void OnReceiveError() override {}

  // IMediaParserClient (queue thread).
  bool DeliverFrame(ipcapture::IVideoFrame* frame) override;
  void GetFrameSize(uint32_t* width, uint32_t* height) override;

  bool StartReception() { return ports_.Start(this, stop_event(), timing_.port_probe_ms); }
  void StopReception() { ports_.Stop(); }
  uint16_t rtcp_port() { return ports_.rtcp_port(); }

 private:
  // One reconnection: stop, configure, start, wait for the first frame.
  void Reconnect();

  RtpPortPair ports_;
  const RtpChannelTiming timing_;
  std::optional<uint64_t> last_keep_alive_ms_;  // steady ms of the last keep-alive
  CManualEvent frame_event_;                    // the depacketiser delivered a frame
};

}  // namespace korvela
