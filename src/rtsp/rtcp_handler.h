// CRTCPHandler: the receiver side of RTCP (RFC 3550 6) for one RTP session.
// It listens on the RTCP port, keeps the sequence statistics of the RTP
// stream (reported to it by the channel), answers every RTCP packet from the
// camera with one receiver report once the camera's sender report told it
// where to send, and says BYE when stopped. Its thread is named
// "RTCP Handler Thread".
//
// Threading: Start and Stop run on the channel's worker thread; OnData on the
// UDP client's thread; UpdateSequence on the RTP receiver's queue thread;
// reports are built and sent on the handler's own thread. lock_ guards the
// statistics, the peer and the report fields.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "base/base_thread.h"
#include "base/event.h"
#include "base/sync_lock.h"
#include "platform/clock.h"
#include "rtsp/rtp_sequence_statistics.h"
#include "rtsp/udp_client.h"
#include "util/thread_annotations.h"

namespace korvela {

class CRTCPHandler : public CBaseThread, public IRTPClientUser {
 public:
  static constexpr size_t kReceiverReportBytes = 32;
  static constexpr size_t kByeBytes = 8;
  static constexpr uint32_t kReportWaitMs = 10000;

  // `clock` (for the delay since the last sender report) must outlive it.
  explicit CRTCPHandler(IDebugMessage* log, const platform::Clock& clock = platform::SystemClock());
  ~CRTCPHandler() override;

  // Listens on `port` for RTCP from `expected_address` (IPv4, network byte
  // order); false when already started, when the address is 0 or the port
  // is taken.
  bool Start(uint32_t expected_address, uint16_t port);
  // Why the last Start failed (kAddressInUse: the port is taken). Owner's thread.
  platform::SocketError GetStartError() const { return startError_; }
  // Sends BYE to a known peer, then closes the port and ends the thread.
  void Stop();
  // Counts one RTP packet of the session.
  void UpdateSequence(uint16_t seq);
  uint16_t GetPort() const { return client_.GetPort(); }
  uint32_t GetOwnSsrc() const { return ownSsrc_; }
  // The UDP client (to feed OnData directly in fuzzing).
  IRTPClient* GetClient() { return &client_; }

  // The receiver report as it would be sent now (starts a new loss interval).
  std::array<uint8_t, kReceiverReportBytes> BuildReceiverReport();

  void OnData(IRTPClient* client, const platform::Endpoint& sender, const uint8_t* data,
              uint32_t length) override;
  void OnTimeout(IRTPClient*) override {}
  void OnClientClosed(IRTPClient*) override {}

 protected:
  void Run() override;

 private:
  bool SendToPeer(const uint8_t* data, size_t length);

  CUDPClient client_;
  platform::SocketError startError_ = platform::SocketError::kNone;  // owner's thread
  const platform::Clock& clock_;
  const uint32_t ownSsrc_;
  std::atomic<uint32_t> expectedAddress_{0};
  CEvent reportEvent_;

  CSyncLock lock_;
  bool peerKnown_ GUARDED_BY(lock_) = false;
  platform::Endpoint peer_ GUARDED_BY(lock_);
  RtpSequenceStatistics stats_ GUARDED_BY(lock_);
  bool srSeen_ GUARDED_BY(lock_) = false;
  uint32_t senderSsrc_ GUARDED_BY(lock_) = 0;
  uint32_t lastSrStamp_ GUARDED_BY(lock_) = 0;      // middle 32 bits of its NTP time
  uint32_t lastSrArrivalMs_ GUARDED_BY(lock_) = 0;  // clock tick at its arrival
};

}  // namespace korvela
