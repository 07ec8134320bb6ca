#include "rtsp/rtp_packet_queue.h"

#include <new>

namespace korvela {

std::unique_ptr<RtpQueueEntry> RtpPacketQueue::Acquire() {
  {
    MutexLock lock(mutex_);
    if (!spares_.empty()) {
      std::unique_ptr<RtpQueueEntry> entry = std::move(spares_.back());
      spares_.pop_back();
      spareBytes_ -= entry->packet.MemoryBytes();
      return entry;
    }
  }
  return std::unique_ptr<RtpQueueEntry>(new (std::nothrow) RtpQueueEntry);
}

RtpPacketQueue::PushResult RtpPacketQueue::Push(std::unique_ptr<RtpQueueEntry> entry) {
  MutexLock lock(mutex_);
  const size_t bytes = entry->packet.MemoryBytes();
  if (queuedBytes_ + bytes > kMaxQueuedBytes) {
    ++dropped_;
    KeepSpare(entry);
    return PushResult::kDropped;
  }
  try {
    queue_.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    ++dropped_;
    return PushResult::kDropped;
  }
  queuedBytes_ += bytes;
  if (!consumerWaiting_) return PushResult::kAppended;
  consumerWaiting_ = false;
  return PushResult::kWakeConsumer;
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

void RtpPacketQueue::Recycle(std::unique_ptr<RtpQueueEntry> entry) {
  MutexLock lock(mutex_);
  KeepSpare(entry);
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
