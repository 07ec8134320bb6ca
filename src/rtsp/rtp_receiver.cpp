#include "rtsp/rtp_receiver.h"

#include <algorithm>
#include <new>

#include "korvela/debug_message.h"

#include "base/log_throttle.h"
#include "util/str_format.h"

namespace korvela {
namespace {

constexpr char kDropped[] =
    "%s: RTP packet queue of port %u is full (%u bytes), packet dropped (%llu in all)";
constexpr uint32_t kIdleWaitMs = 1000;

}  // namespace

CRTPReceiver::CRTPReceiver(IDebugMessage* log) : CBaseThread(log) {}

CRTPReceiver::~CRTPReceiver() { Stop(); }

bool CRTPReceiver::Start(uint16_t port) {
  if (client_ || IsRunning()) Stop();
  client_ = new (std::nothrow) CUDPClient(Log());
  startError_ = platform::SocketError::kNoBuffers;  // no client: memory is short
  if (client_) {
    client_->SetBufferSize(kInitialBufferBytes);
    client_->SetTimeout(kReceiveWaitSeconds, 0);
    if (!client_->Open(this, port)) {
      startError_ = client_->GetOpenError();
    } else {
      ClearQueue();
      stopping_.store(false);
      if (StartThread(StrFormat("RTP Packet Queue (%hu)", client_->GetPort()).c_str())) {
        startError_ = platform::SocketError::kNone;
        return true;
      }
      startError_ = platform::SocketError::kOther;  // no thread
    }
  }
  Stop();
  return false;
}

void CRTPReceiver::Stop() {
  stopping_.store(true);
  StopEvent().Set();
  queueEvent_.Set();
  if (client_) {
    client_->Close();
    client_.Release();
  }
  ClearQueue();
  StopThread(2000);
  MutexLock lock(producerMu_);  // the UDP thread has ended
  pending_.clear();
  free_.clear();
  idleSinceData_ = false;
}

uint16_t CRTPReceiver::GetPort() const { return client_ ? client_->GetPort() : 0; }

void CRTPReceiver::OnData(IRTPClient* client, const platform::Endpoint& sender, const uint8_t* data,
                          uint32_t length) {
  if (client != client_.get() || stopping_.load(std::memory_order_relaxed)) return;
  MutexLock lock(producerMu_);
  idleSinceData_ = false;
  if (pending_.capacity() < kMaxPacketsPerRun) {
    try {
      pending_.reserve(kMaxPacketsPerRun);
    } catch (const std::bad_alloc&) {
      return;
    }
  }
  if (free_.empty()) queue_.Acquire(&free_, kMaxPacketsPerRun);
  if (free_.empty()) return;  // memory is short: the datagram is lost
  RtpQueueEntry& entry = *free_.back();
  // Malformed datagrams are dropped silently; the entry stays free.
  if (!entry.packet.Parse({data, length})) return;
  entry.sender = sender;
  pending_.push_back(std::move(free_.back()));
  free_.pop_back();
  if (pending_.size() >= kMaxPacketsPerRun) Flush(client, holdUntilMarker_.load());
}

uint32_t CRTPReceiver::OnIdle(IRTPClient* client) {
  if (client != client_.get()) return 0;
  MutexLock lock(producerMu_);
  const bool may_hold = holdUntilMarker_.load() && !idleSinceData_;
  idleSinceData_ = true;
  return Flush(client, may_hold) ? kMaxHoldMs : 0;
}

bool CRTPReceiver::Flush(IRTPClient* client, bool may_hold) {
  const bool hold = may_hold && std::none_of(pending_.begin(), pending_.end(), [](const auto& e) {
                      return e->packet.GetMarker() != 0;
                    });
  const RtpPacketQueue::PushResult pushed = queue_.PushAll(&pending_, hold);
  if (pushed.wake_consumer) queueEvent_.Set();
  bool log = false;
  for (size_t i = 0; i < pushed.dropped; ++i) log = LogThrottle(dropLogCounter_) || log;
  if (log && Log() != nullptr) {
    Log()->Message(kLogWarning, kDropped, "korvela::CRTPReceiver::OnData", client->GetPort(),
                   static_cast<unsigned>(queue_.QueuedBytes()),
                   static_cast<unsigned long long>(queue_.DroppedPackets()));
  }
  return pushed.held;
}

void CRTPReceiver::OnTimeout(IRTPClient* client) {
  if (client != client_.get()) return;
  if (IRTPReceiverUser* user = user_.load()) user->OnReceiveTimeout();
}

void CRTPReceiver::OnClientClosed(IRTPClient* client) {
  if (client != client_.get()) return;
  if (IRTPReceiverUser* user = user_.load()) user->OnReceiveError();
}

void CRTPReceiver::Run() {
  RtpQueueBatch batch;
  while (!stopping_.load()) {
    if (!queue_.TakeAll(&batch)) {
      // Empty: the next Push sets the event, and so does Stop. One event
      // only: a wait on two takes more locks on each wake-up.
      queueEvent_.Wait(kIdleWaitMs);
      if (StopEvent().IsSet()) break;
      continue;
    }
    for (auto& entry : batch) {
      if (stopping_.load(std::memory_order_relaxed))
        break;  // a stopping receiver delivers nothing more
      if (IRTPReceiverUser* user = user_.load())
        user->OnRTPPacketFrom(entry->sender, &entry->packet);
    }
    queue_.Recycle(&batch);
  }
  queue_.Clear();
}

}  // namespace korvela
