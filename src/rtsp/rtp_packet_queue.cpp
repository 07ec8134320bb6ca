#include "rtsp/rtp_packet_queue.h"

#include <new>

namespace korvela {

void RtpPacketQueue::Acquire(RtpQueueBatch* entries, size_t count) {
  try {
    entries->reserve(count);
  } catch (const std::bad_alloc&) {
    return;
  }
  {
    MutexLock lock(mutex_);
    while (entries->size() < count && !spares_.empty()) {
      spareBytes_ -= spares_.back()->packet.MemoryBytes();
      entries->push_back(std::move(spares_.back()));
      spares_.pop_back();
    }
  }
  while (entries->size() < count) {
    std::unique_ptr<RtpQueueEntry> entry(new (std::nothrow) RtpQueueEntry);
    if (!entry) return;
    entries->push_back(std::move(entry));
  }
}

RtpPacketQueue::PushResult RtpPacketQueue::PushAll(RtpQueueBatch* entries, bool hold) {
  PushResult result;
  {
    MutexLock lock(mutex_);
    for (auto& entry : *entries) {
      const size_t bytes = entry->packet.MemoryBytes();
      bool appended = false;
      if (queuedBytes_ + bytes <= kMaxQueuedBytes) {
        try {
          queue_.push_back(std::move(entry));
          appended = true;
        } catch (const std::bad_alloc&) {
        }
      }
      if (!appended) {
        ++dropped_;
        ++result.dropped;
        KeepSpare(entry);
        continue;
      }
      queuedBytes_ += bytes;
    }
    if (consumerWaiting_ && !queue_.empty()) {
      if (hold && queuedBytes_ < kMaxHeldBytes) {
        result.held = true;
      } else {
        consumerWaiting_ = false;
        result.wake_consumer = true;
      }
    }
  }
  entries->clear();  // entries not kept are deleted here, outside the lock
  return result;
}

bool RtpPacketQueue::TakeAll(RtpQueueBatch* batch) {
  batch->clear();
  MutexLock lock(mutex_);
  queue_.swap(*batch);
  queuedBytes_ = 0;
  consumerWaiting_ = batch->empty();
  return !consumerWaiting_;
}

void RtpPacketQueue::Recycle(RtpQueueBatch* batch) {
  {
    MutexLock lock(mutex_);
    for (auto& entry : *batch) KeepSpare(entry);
  }
  batch->clear();  // entries not kept are deleted here, outside the lock
}

void RtpPacketQueue::Clear() {
  RtpQueueBatch old;  // deleted after the lock is released
  MutexLock lock(mutex_);
  queue_.swap(old);
  queuedBytes_ = 0;
}

void RtpPacketQueue::KeepSpare(std::unique_ptr<RtpQueueEntry>& entry) {
  const size_t bytes = entry->packet.MemoryBytes();
  if (spareBytes_ + bytes > kMaxSpareBytes) return;  // the caller deletes it
  try {
    spares_.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    return;
  }
  spareBytes_ += bytes;
}

uint64_t RtpPacketQueue::DroppedPackets() const {
  MutexLock lock(mutex_);
  return dropped_;
}

size_t RtpPacketQueue::QueuedBytes() const {
  MutexLock lock(mutex_);
  return queuedBytes_;
}

}  // namespace korvela
