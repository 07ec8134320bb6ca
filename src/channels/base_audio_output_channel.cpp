#include "channels/base_audio_output_channel.h"

#include <memory>
#include <new>

namespace korvela {

CBaseAudioOutputChannel::CBaseAudioOutputChannel(IDriver* driver, uint32_t key, uint32_t value,
                                                 ipcapture::IAudioSenderCallback* callback,
                                                 ipcapture::IAudioOutputFormatList* formats)
    : CQueueThread<CAudioItem>(driver),
      value_(value),
      driver_(driver),
      key_(key),
      callback_(callback),
      formats_(formats) {}

CBaseAudioOutputChannel::~CBaseAudioOutputChannel() {
  // The derived class has stopped the worker already (it implements the
  // device steps); this ends a channel whose derived part never started one.
  CQueueThread<CAudioItem>::Stop();
}

bool CBaseAudioOutputChannel::Start() {
  CSyncLockGuard guard(lifecycle_lock_);
  if (!CQueueThread<CAudioItem>::Start(kThreadName)) return false;
  SetState(kStarting);
  return AddItem(new (std::nothrow) CAudioItem(CAudioItem::kPrepare));
}

bool CBaseAudioOutputChannel::Stop() {
  StopEvent().Set();
  SetState(kStopping);
  const bool stopped = StopWorker();
  if (stopped) SetState(kStopped);
  return stopped;
}

bool CBaseAudioOutputChannel::StopWorker() {
  StopEvent().Set();
  OnStopping();
  CSyncLockGuard guard(lifecycle_lock_);
  return CQueueThread<CAudioItem>::Stop();
}

uint32_t CBaseAudioOutputChannel::GetState() {
  MutexLock lock(state_mu_);
  return state_;
}

void CBaseAudioOutputChannel::SetState(uint32_t state) {
  {
    MutexLock lock(state_mu_);
    if (state_ == state) return;
    state_ = state;
  }
  if (callback_ != nullptr) callback_->OnStateChanged(key_, state);
}

void CBaseAudioOutputChannel::SetWorkerState(uint32_t state) {
  // A step that a stop cut short says nothing about the device; from the
  // stop on, Stop alone moves the state (3, then 0).
  if (!IsStopSignalled()) SetState(state);
}

bool CBaseAudioOutputChannel::SendFrame(ipcapture::IAudioFrame* frame) {
  if (frame == nullptr || IsStopSignalled()) return false;
  ipcapture::IFrameAllocator* allocator =
      driver_ != nullptr ? driver_->GetFrameAllocator() : nullptr;
  if (allocator == nullptr) return false;
  if (frame->GetDataLength() == 0 || frame->GetData() == nullptr) return false;
  if (!IsFrameAcceptable(frame)) return false;
  std::unique_ptr<CAudioItem> item(new (std::nothrow) CAudioDataItem(frame, allocator));
  if (!item) return false;
  if (TryAddItem(item)) return true;
  // Refused (stopping, or the queue is full): the frame stays the caller's.
  static_cast<CAudioDataItem*>(item.get())->Disown();
  return false;
}

void CBaseAudioOutputChannel::ProcessItem(CAudioItem* item) {
  if (IsStopSignalled()) return;
  if (item->GetKind() == CAudioItem::kPrepare) {
    PrepareCommand();
  } else if (item->GetKind() == CAudioItem::kData) {
    DataStep(static_cast<CAudioDataItem*>(item)->GetFrame());
  }
}

void CBaseAudioOutputChannel::PrepareCommand() {
  const uint32_t count = formats_ != nullptr ? formats_->GetCount() : 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (IsStopSignalled()) return;
    ipcapture::IAudioOutputFormatEntry* entry = formats_->GetEntry(i);
    if (entry == nullptr || !entry->IsEnabled() || !IsFormatSupported(entry)) continue;
    if (!IsStopSignalled()) SetWorkerState(PrepareDevice() ? kSending : kUnreachable);
    return;
  }
  SetWorkerState(kNoFormat);
}

void CBaseAudioOutputChannel::DataStep(ipcapture::IAudioFrame* frame) {
  switch (GetState()) {
    case kSending:
      if (!SendAudioFrameToDevice(frame)) SetWorkerState(kUnreachable);
      break;
    case kUnreachable:
      // Every frame in this state is another attempt to reach the device.
      if (PrepareDevice() && !IsStopSignalled() && SendAudioFrameToDevice(frame)) {
        SetWorkerState(kSending);
      }
      break;
    default:
      break;  // dropped: not prepared, no usable format, or stopping
  }
}

}  // namespace korvela
