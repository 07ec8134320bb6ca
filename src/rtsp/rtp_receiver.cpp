#include "rtsp/rtp_receiver.h"

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
  if (client_) {
    client_->SetBufferSize(kInitialBufferBytes);
    client_->SetTimeout(kReceiveWaitSeconds, 0);
    unannounced_.store(0, std::memory_order_relaxed);
    if (client_->Open(this, port)) {
      ClearQueue();
      stopping_.store(false);
      if (StartThread(StrFormat("RTP Packet Queue (%hu)", client_->GetPort()).c_str())) {
        return true;
      }
    }
  }
  Stop();
  return false;
}

void CRTPReceiver::Stop() {
  stopping_.store(true);
  StopEvent().Set();
  if (client_) {
    client_->Close();
    client_.Release();
  }
  ClearQueue();
  StopThread(2000);
}

uint16_t CRTPReceiver::GetPort() const { return client_ ? client_->GetPort() : 0; }

void CRTPReceiver::OnData(IRTPClient* client, const platform::Endpoint& sender, const uint8_t* data,
                          uint32_t length) {
  if (client != client_.get() || stopping_.load(std::memory_order_relaxed)) return;
  std::unique_ptr<RtpQueueEntry> entry = queue_.Acquire();
  if (!entry) return;
  if (!entry->packet.Parse({data, length})) {
    queue_.Recycle(std::move(entry));
    return;  // malformed datagrams are dropped silently
  }
  entry->sender = sender;
  switch (queue_.Push(std::move(entry))) {
    case RtpPacketQueue::PushResult::kWakeConsumer:
      unannounced_.store(1, std::memory_order_relaxed);
      break;
    case RtpPacketQueue::PushResult::kAppended:
      if (const uint32_t n = unannounced_.load(std::memory_order_relaxed); n > 0) {
        unannounced_.store(n + 1, std::memory_order_relaxed);
      }
      break;
    case RtpPacketQueue::PushResult::kDropped:
      if (LogThrottle(dropLogCounter_) && Log() != nullptr) {
        Log()->Message(kLogWarning, kDropped, "korvela::CRTPReceiver::OnData", client->GetPort(),
                       static_cast<unsigned>(queue_.QueuedBytes()),
                       static_cast<unsigned long long>(queue_.DroppedPackets()));
      }
      break;
  }
  if (unannounced_.load(std::memory_order_relaxed) >= kMaxPacketsBeforeWake) OnIdle(client);
}

void CRTPReceiver::OnIdle(IRTPClient* client) {
  if (client != client_.get() || unannounced_.load(std::memory_order_relaxed) == 0) return;
  unannounced_.store(0, std::memory_order_relaxed);
  queueEvent_.Set();
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
      // Empty: the next Push sets the event. The stop event comes first.
      if (WaitForAny(StopEvent(), queueEvent_, kIdleWaitMs) == 0) break;
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
