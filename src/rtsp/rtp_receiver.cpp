#include "rtsp/rtp_receiver.h"

#include <new>

#include "base/log_levels.h"
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
    if (client_->Open(this, port)) {
      ClearQueue();
      if (StartThread(StrFormat("RTP Packet Queue (%hu)", client_->GetPort()).c_str())) {
        return true;
      }
    }
  }
  Stop();
  return false;
}

void CRTPReceiver::Stop() {
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
  if (client != client_.get() || IsStopSignalled()) return;
  std::unique_ptr<RtpQueueEntry> entry = queue_.Acquire();
  if (!entry || !entry->packet.Parse({data, length})) {
    if (entry) {
      RtpQueueBatch unused;
      unused.push_back(std::move(entry));
      queue_.Recycle(&unused);
    }
    return;  // malformed datagrams are dropped silently
  }
  entry->sender = sender;
  switch (queue_.Push(std::move(entry))) {
    case RtpPacketQueue::PushResult::kAppendedToEmpty:
      queueEvent_.Set();
      break;
    case RtpPacketQueue::PushResult::kAppended:
      break;
    case RtpPacketQueue::PushResult::kDropped:
      if (LogThrottle(dropLogCounter_) && Log() != nullptr) {
        Log()->Message(kLogWarning, kDropped, "korvela::CRTPReceiver::OnData", client->GetPort(),
                       static_cast<unsigned>(queue_.QueuedBytes()),
                       static_cast<unsigned long long>(queue_.DroppedPackets()));
      }
      break;
  }
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
  for (;;) {
    // The stop event comes first: a stopping receiver delivers nothing more.
    if (WaitForAny(StopEvent(), queueEvent_, kIdleWaitMs) == 0) break;
    queue_.TakeAll(&batch);
    for (auto& entry : batch) {
      if (IsStopSignalled()) break;
      if (IRTPReceiverUser* user = user_.load())
        user->OnRTPPacketFrom(entry->sender, &entry->packet);
    }
    // Whatever arrived meanwhile found the queue empty and set the event.
    queue_.Recycle(&batch);
  }
  queue_.Clear();
}

}  // namespace korvela
