// CRTPReceiver: the RTP stream of one medium on one local UDP port. On the
// UDP client's thread each datagram is parsed into a CRTPPacket and queued
// with its sender; the receiver's own thread, "RTP Packet Queue (%hu)", hands
// the packets to the user one at a time, in arrival order. No reordering and
// no jitter buffer: sequence checks belong to the users.
//
// The queue is bounded (RtpPacketQueue::kMaxQueuedBytes); what does not fit
// is dropped, counted and logged (throttled). Packet buffers are recycled
// through the queue's bounded spares, so a steady stream allocates nothing
// per packet. The packets of a run of datagrams the UDP client reads back to
// back are queued together and the queue thread is woken once for them:
// one lock and at most one wake-up per run rather than per packet. A video
// receiver (SetHoldUntilMarker) wakes it only for a run that ends a frame (a
// marker packet), since no frame can be put together before then: the
// packets of one frame cost one wake-up however they arrive. What it holds
// is handed over after kMaxHoldMs without a datagram, or once
// RtpPacketQueue::kMaxHeldBytes are queued, marker or not.
//
// Threading: Start, Stop, SetUser and ClearQueue run on the owner's thread
// (SetUser before Start, or while stopped). OnData, OnTimeout, OnIdle and
// OnClientClosed run on the UDP client's thread; OnRTPPacketFrom runs on the
// queue thread, OnReceiveTimeout and OnReceiveError on the UDP thread. The
// queue has its own lock; the user pointer is atomic; the UDP thread's free
// and pending packets are guarded by producerMu_.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/base_thread.h"
#include "base/event.h"
#include "base/smart_ptr.h"
#include "rtsp/rtp_packet.h"
#include "rtsp/rtp_packet_queue.h"
#include "rtsp/udp_client.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace korvela {

class IRTPReceiverUser {
 public:
  virtual ~IRTPReceiverUser() = default;
  // For users that feed packets themselves.
  virtual void OnRTPPacket(CRTPPacket* packet) = 0;
  // A packet and its sender, on the receiver's queue thread.
  virtual void OnRTPPacketFrom(const platform::Endpoint& sender, CRTPPacket* packet) = 0;
  virtual void OnReceiveTimeout() = 0;
  virtual void OnReceiveError() = 0;
};

class CRTPReceiver : public IRTPClientUser, public CBaseThread {
 public:
  // The datagram size expected (a hint: the UDP client receives any size).
  static constexpr uint32_t kInitialBufferBytes = 1536;
  static constexpr uint32_t kReceiveWaitSeconds = 2;
  // Packets of a run of datagrams are handed to the queue (and its thread
  // woken) together once the run ends (OnIdle), at the latest every this
  // many; also the number of free packets the UDP thread takes from the
  // queue's spares at a time.
  static constexpr size_t kMaxPacketsPerRun = 32;
  // The longest a held run waits for the rest of its frame.
  static constexpr uint32_t kMaxHoldMs = 20;

  explicit CRTPReceiver(IDebugMessage* log);
  ~CRTPReceiver() override;

  // Binds `port` (0: any free port) and starts both threads; false after a
  // full Stop when the port is taken or a thread does not start.
  bool Start(uint16_t port);
  // Stops both threads; queued packets are dropped undelivered.
  void Stop();
  void SetUser(IRTPReceiverUser* user) { user_.store(user); }
  // Before Start, or while stopped.
  void SetHoldUntilMarker(bool hold) { holdUntilMarker_.store(hold); }
  uint16_t GetPort() const;
  // Why the last Start failed (kAddressInUse: the port is taken).
  platform::SocketError GetStartError() const { return startError_; }
  void ClearQueue() { queue_.Clear(); }
  uint64_t GetDroppedPackets() const { return queue_.DroppedPackets(); }
  // The UDP client (to feed OnData directly in tests and benchmarks).
  IRTPClient* GetClient() const { return client_.get(); }

  void OnData(IRTPClient* client, const platform::Endpoint& sender, const uint8_t* data,
              uint32_t length) override;
  void OnTimeout(IRTPClient* client) override;
  uint32_t OnIdle(IRTPClient* client) override;
  void OnClientClosed(IRTPClient* client) override;

 protected:
  void Run() override;

 private:
  TSmartPtr<IRTPClient> client_;
  platform::SocketError startError_ = platform::SocketError::kNone;  // owner's thread
  std::atomic<IRTPReceiverUser*> user_{nullptr};
  std::atomic<bool> holdUntilMarker_{false};
  // Mirrors the stop event for the per-packet checks (an event test is a
  // system call).
  std::atomic<bool> stopping_{true};
  RtpPacketQueue queue_;
  CEvent queueEvent_;
  // Hands the pending packets to the queue, wakes its thread when it waits
  // unless `may_hold` and no pending packet ends a frame, logs drops
  // (throttled). True when packets are held.
  bool Flush(IRTPClient* client, bool may_hold) REQUIRES(producerMu_);

  // The UDP thread's side; uncontended unless tests or benchmarks call OnData
  // from a thread of their own.
  Mutex producerMu_;
  RtpQueueBatch free_ GUARDED_BY(producerMu_);     // at most kMaxPacketsPerRun
  RtpQueueBatch pending_ GUARDED_BY(producerMu_);  // parsed, not yet queued
  uint32_t dropLogCounter_ GUARDED_BY(producerMu_) = 0;
  // OnIdle came and no datagram since: the hold has run out.
  bool idleSinceData_ GUARDED_BY(producerMu_) = false;
};

}  // namespace korvela
