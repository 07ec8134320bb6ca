// CBaseRTSPChannel: an RTP video channel whose session is set up over RTSP.
// A session is: reception on a free port pair, then DESCRIBE, SETUP and PLAY
// (with one authentication retry each, inside the client); OPTIONS keeps it
// alive; TEARDOWN, disconnect and the end of reception close it. Derived
// classes name the stream (PrepareSettings) and take what DESCRIBE learnt
// (OnDescribed).
//
// Every RTSP wait ends as soon as the channel's stop event is signalled (the
// client waits on it together with its socket), and the stop is checked
// between the steps, so a stop during DESCRIBE returns at once.
//
// Threading: as CBaseRTPChannel; the RTSP client is used by the worker only.
#pragma once

#include <cstdint>

#include "channels/base_rtp_channel.h"
#include "rtsp/base_rtsp_client.h"

namespace korvela {

class CBaseRTSPChannel : public CBaseRTPChannel {
 public:
  CBaseRTSPChannel(uint32_t input_index, IDriver* driver, ipcapture::IFrameReceiver* receiver,
                   const platform::Clock& clock, RtpChannelTiming timing);
  ~CBaseRTSPChannel() override;

 protected:
  bool StartSession() override;
  void StopSession() override;
  // OPTIONS (with the authentication retry); its result is ignored.
  void SendKeepAlive() override;
  // Sets what the derived class knows about the stream (port, path, media).
  virtual void PrepareSettings(RtspClientSettings& /*settings*/) {}
  // Called after a successful DESCRIBE, before SETUP.
  virtual void OnDescribed() {}

  const CBaseRTSPClient& rtsp_client() const { return client_; }

 private:
  CBaseRTSPClient client_;
};

}  // namespace korvela
