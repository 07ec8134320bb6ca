#include "device/io_base.h"

#include <algorithm>
#include <new>

namespace korvela {

CIOBase::CIOBase(IDriver* driver)
    : driver_(driver),
      output_thread_(driver, this, &CIOBase::ApplyOutput),
      input_thread_(driver, this, &CIOBase::OnPollTick) {
  input_thread_.SetPeriod(kInputPollPeriodMs);
}

CIOBase::~CIOBase() { StopThreads(); }

bool CIOBase::SetCallback(ipcapture::ICaptureIOCallback* callback) {
  if (callback == nullptr) return false;
  CSyncLockGuard guard(callback_lock_);
  callback_ = callback;
  return true;
}

uint32_t CIOBase::GetInputCount() { return driver_ != nullptr ? driver_->GetIOCount().first : 0; }

uint32_t CIOBase::GetOutputCount() { return driver_ != nullptr ? driver_->GetIOCount().second : 0; }

bool CIOBase::Start() {
  stopping_ = false;
  AllowRequests();
  ResetStates();
  bool ok = true;
  const uint32_t outputs = GetOutputCount();
  if (outputs != 0) {
    if (output_thread_.Start("Digital Output thread")) {
      // The outputs count as open from here; these commands find the state
      // equal and write nothing.
      states_.SetOutputs(outputs, kOutputOpen);
      accepting_outputs_ = true;
      for (uint32_t i = 0; i < std::min(outputs, kMaxIoPoints); ++i) SetOutput(i, kOutputOpen);
    } else {
      ok = false;
    }
  }
  if (GetInputCount() != 0 && !input_thread_.StartTicking("Digital Input thread")) ok = false;
  return ok;
}

bool CIOBase::Stop() {
  const bool stopped = StopThreads();
  ResetStates();
  return stopped;
}

bool CIOBase::StopThreads() {
  accepting_outputs_ = false;
  stopping_ = true;
  AbortRequests();
  const bool output_stopped = output_thread_.Stop();
  const bool input_stopped = input_thread_.StopTicking();
  return output_stopped && input_stopped;
}

bool CIOBase::SetOutput(uint32_t output, uint32_t state) {
  if (!accepting_outputs_) return false;
  auto* item = new (std::nothrow) COutputState(output, state);
  if (item == nullptr) return false;
  return output_thread_.AddItem(item);
}

void CIOBase::ApplyOutput(uint32_t output, uint32_t state) {
  if (!states_.ClaimOutput(output, state)) return;
  if (WriteOutput(output, state)) return;
  ResetStates();
  ReportDeviceError();
}

void CIOBase::OnPollTick() {
  if (PollInputs(GetInputCount())) return;
  ResetStates();
  ReportDeviceError();
}

void CIOBase::UpdateInput(uint32_t input, uint32_t state) {
  if (!states_.UpdateInput(input, state) || stopping_) return;
  if (auto* callback = Callback()) callback->OnInputChanged(input, state);
}

void CIOBase::ResetStates() { states_.Reset(GetInputCount(), GetOutputCount()); }

ipcapture::ICaptureIOCallback* CIOBase::Callback() {
  CSyncLockGuard guard(callback_lock_);
  return callback_;
}

void CIOBase::ReportDeviceError() {
  if (stopping_) return;
  if (auto* callback = Callback()) callback->OnDeviceError();
}

}  // namespace korvela
