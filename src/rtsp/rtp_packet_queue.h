// The bounded FIFO between an RTP receiver's UDP thread (producer: parses
// datagrams into entries and appends them a run at a time) and its queue
// thread (consumer: takes every queued entry at once and delivers them in
// order).
//
// The queue is fed by the network before anyone has checked the sender, so it
// holds at most kMaxQueuedBytes; an entry that does not fit is dropped and
// counted (the depacketisers see the drop as a sequence gap). Delivered
// entries are kept as spares (at most kMaxSpareBytes) and handed out again,
// so a steady stream needs no allocation per packet.
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

  // A held run is handed over once this much is queued, marker or not.
  static constexpr size_t kMaxHeldBytes = 512 * 1024;

  struct PushResult {
    size_t dropped = 0;  // entries that did not fit (kept as spares or deleted)
    // The consumer found the queue empty and waits to be woken.
    bool wake_consumer = false;
    // Entries are queued and the consumer was left asleep (`hold`).
    bool held = false;
  };

  // Tops `entries` up to `count` with spares, then new entries; fewer when
  // memory is short.
  void Acquire(RtpQueueBatch* entries, size_t count);
  // Appends `entries` in order (emptying it), dropping and counting those
  // that do not fit. A waiting consumer is to be woken unless `hold` asks to
  // let it sleep (below kMaxHeldBytes queued); an empty `entries` without
  // `hold` hands over what was held.
  PushResult PushAll(RtpQueueBatch* entries, bool hold = false);
  // Swaps every queued entry, oldest first, into `batch` (emptied first; its
  // capacity is reused by the queue). False when there was none: the
  // consumer is then taken to wait until a Push asks for it to be woken, so
  // a consumer that keeps up costs the producer no wake-up per packet.
  bool TakeAll(RtpQueueBatch* batch);
  // Returns delivered (or unwanted) entries as spares; empties `batch`.
  void Recycle(RtpQueueBatch* batch);
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
