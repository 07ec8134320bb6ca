// CBaseRTPDataChannel: the thread-based RTP channel of the audio input. Its
// own thread sets up a session (PrepareDevice, a free port pair, StartSession
// by the derived class), watches the time of the last accepted data and
// rebuilds the session after the connect time-out without data, telling the
// derived class about signal loss after the receive time-out.
//
// The derived class feeds its parser in ProcessRTPPacket and calls
// DataAccepted whenever it accepted data; it may override the session hooks
// (StartSession, StopSession, OnSignalLost, OnSessionReset, OnStopped,
// OnStopping).
//
// Threading: the owner's thread calls StartChannel/StopChannel; Run and the
// session hooks run on the channel's thread; RTP packets arrive on the
// receiver's queue thread (ProcessRTPPacket, DataAccepted), which touches only
// the events, the last data time (own lock) and RTCP's statistics.
#pragma once

#include <cstdint>

#include "base/base_thread.h"
#include "base/event.h"
#include "base/time.h"
#include "channels/rtp_port_pair.h"
#include "core/device_info.h"
#include "core/idriver.h"
#include "platform/clock.h"

namespace korvela {

struct RtpDataChannelTiming {
  uint32_t port_probe_ms = 500;  // stray-RTP probe on a fresh port
  uint32_t pass_ms = 2000;       // pause of the watch loop
};

class CBaseRTPDataChannel : public CBaseThread, public IRTPReceiverUser {
 public:
  // `driver` is not owned and must outlive the channel; its device
  // description is copied.
  CBaseRTPDataChannel(IDriver* driver, uint32_t input_index,
                      const platform::Clock& clock = platform::SystemClock(),
                      RtpDataChannelTiming timing = {});
  // The most derived class must call StopChannel in its own destructor.
  ~CBaseRTPDataChannel() override;

  // Stops a running thread, then starts the channel's thread named `name`.
  bool StartChannel(const char* name);
  // Stops the thread within twice the connect time-out (logged beyond).
  void StopChannel();

 protected:
  void Run() override;
  virtual bool PrepareDevice() = 0;
  virtual bool StartSession() { return true; }
  virtual void StopSession() {}
  virtual void ProcessRTPPacket(const CRTPPacket& packet) = 0;
  // Called every pass while data keeps coming.
  virtual void OnIdle() = 0;
  virtual void OnSignalLost() {}
  virtual void OnSessionReset() {}
  virtual void OnStopped() {}
  // Called by StopChannel after the stop event is set, before the join.
  virtual void OnStopping() {}

  // IRTPReceiverUser (queue thread).
  void OnRTPPacket(CRTPPacket* packet) override;
  void OnRTPPacketFrom(const platform::Endpoint& sender, CRTPPacket* packet) override;
  void OnReceiveTimeout() override {}
  void OnReceiveError() override {}

  // For the derived class whenever it accepted data (queue thread).
  void DataAccepted();

  IDriver* driver() const { return driver_; }
  uint32_t input_index() const { return input_index_; }
  const DEVICE_INFO& device() const { return device_; }
  uint16_t rtp_port() { return ports_.rtp_port(); }
  uint16_t rtcp_port() { return ports_.rtcp_port(); }

 private:
  // Stops session, RTCP and receiver, then OnSessionReset.
  void StopAll();
  enum class SetUp { kStarted, kSessionFailed, kFailed };
  // PrepareDevice, port pair, then StartSession.
  SetUp SetUpSession();

  bool sockets_started_ = false;  // owner's thread only
  IDriver* const driver_;
  const uint32_t input_index_;
  const DEVICE_INFO device_;
  const RtpDataChannelTiming timing_;
  RtpPortPair ports_;
  CEvent frame_event_;  // data was accepted
  CTime last_data_time_;
};

}  // namespace korvela
