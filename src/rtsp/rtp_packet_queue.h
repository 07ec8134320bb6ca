// The bounded FIFO between an RTP receiver's UDP thread (producer: parses
// each datagram into an entry and appends it) and its queue thread
// (consumer: takes every queued entry at once and delivers them in order).
//
// The queue is fed by the network before anyone has checked the sender, so it
// holds at most kMaxQueuedBytes; an entry that does not fit is dropped and
// counted (the depacketisers see the drop as a sequence gap). Delivered
// entries are kept as spares (at most kMaxSpareBytes) and reused, so a
// steady stream needs no allocation per packet.
//
// Threading: any thread; mutex_ guards every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/socket.h"
#include "rtsp/rtp_packet.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace korvela {

struct RtpQueueEntry {
  platform::Endpoint sender;
  CRTPPacket packet;
};

using RtpQueueBatch = std::vector<std::unique_ptr<RtpQueueEntry>>;

class RtpPacketQueue {
 public:
  // About 10 s of a 12 Mbit/s stream: a delivery thread that falls further
  // behind has stalled, and older packets are of no use to it.
  static constexpr size_t kMaxQueuedBytes = 16 * 1024 * 1024;
  // Enough for the packets of a large key frame (about 1,400 of 1,500 bytes).
  static constexpr size_t kMaxSpareBytes = 2 * 1024 * 1024;

  enum class PushResult { kAppended, kWakeConsumer, kDropped };

  // A spare entry or a new one; null when memory is short.
  std::unique_ptr<RtpQueueEntry> Acquire();
  // Appends the entry, or drops and counts it when it does not fit.
  // kWakeConsumer: the consumer found the queue empty and waits to be woken.
  PushResult Push(std::unique_ptr<RtpQueueEntry> entry);
  // Swaps every queued entry, oldest first, into `batch` (emptied first; its
  // capacity is reused by the queue). False when there was none: the
  // consumer is then taken to wait until a Push asks for it to be woken, so
  // a consumer that keeps up costs the producer no wake-up per packet.
  bool TakeAll(RtpQueueBatch* batch);
  // Returns delivered (or unwanted) entries as spares; empties `batch`.
  void Recycle(RtpQueueBatch* batch);
  void Recycle(std::unique_ptr<RtpQueueEntry> entry);
  // Deletes every queued entry.
  void Clear();

  uint64_t DroppedPackets() const;
  size_t QueuedBytes() const;

 private:
  // Moves `entry` to the spares unless they are full.
  void KeepSpare(std::unique_ptr<RtpQueueEntry>& entry) REQUIRES(mutex_);

  mutable Mutex mutex_;
  RtpQueueBatch queue_ GUARDED_BY(mutex_);
  size_t queuedBytes_ GUARDED_BY(mutex_) = 0;
  RtpQueueBatch spares_ GUARDED_BY(mutex_);
  size_t spareBytes_ GUARDED_BY(mutex_) = 0;
  uint64_t dropped_ GUARDED_BY(mutex_) = 0;
  bool consumerWaiting_ GUARDED_BY(mutex_) = true;
};

}  // namespace korvela
