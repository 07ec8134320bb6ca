#include "channels/base_http_channel.h"

#include <algorithm>
#include <span>
#include <utility>

#include "device/oid_request.h"

namespace korvela {

CBaseHttpChannel::CBaseHttpChannel(uint32_t input_index, IDriver* driver,
                                   ipcapture::IFrameReceiver* receiver,
                                   std::unique_ptr<CHttpMediaParser> parser,
                                   const HttpStreamLinkFactory& make_link,
                                   const platform::Clock& clock, HttpChannelTiming timing)
    : CBaseCameraChannel(input_index, driver, receiver, clock),
      make_link_(make_link),
      stream_link_(make_link(device())),
      parser_(std::move(parser)),
      timing_(timing) {
  if (parser_) parser_->SetReceiver(this);
}

CBaseHttpChannel::~CBaseHttpChannel() { Stop(); }

MediaParserCounters CBaseHttpChannel::parser_counters() const {
  return parser_ ? parser_->counters() : MediaParserCounters{};
}

void CBaseHttpChannel::OnStopping() {
  // Makes a call blocked on a link return at once (and every later one fail
  // until OnStarting); the worker then sees the stop event.
  if (stream_link_) stream_link_->Abort();
  MutexLock lock(control_abort_mu_);
  control_stopped_ = true;
  if (control_link_ != nullptr) control_link_->Abort();
}

bool CBaseHttpChannel::OnStarting() {
  if (!stream_link_ || !stream_link_->Usable()) {
    SetStatus(kCameraFailed);
    if (driver() != nullptr) {
      driver()->Message(1, "%s: Video input %u of %s not started: no link to the device",
                        "korvela::CBaseHttpChannel::OnStarting", input_index(),
                        device().address.c_str());
    }
    return false;
  }
  stream_link_->Rearm();
  MutexLock lock(control_abort_mu_);
  control_stopped_ = false;
  return true;
}

Web::CResultDef CBaseHttpChannel::ControlRequest(const std::string& path) {
  const Web::CResultDef not_sent(kLogNever, HUtils::kCodeNotSent, {}, platform::NetError::kAborted);
  MutexLock one_at_a_time(control_mu_);
  // Made for this request alone: a rate change is rare, and a kept link
  // would hold a connection and an event descriptor for nothing.
  std::unique_ptr<IHttpStreamLink> link = make_link_ ? make_link_(device()) : nullptr;
  if (!link || !link->Usable()) return not_sent;
  {
    MutexLock lock(control_abort_mu_);
    if (control_stopped_) return not_sent;
    control_link_ = link.get();
  }
  Web::CResultDef result = link->RequestStatus(path);
  MutexLock lock(control_abort_mu_);
  control_link_ = nullptr;
  return result;
}

uint32_t CBaseHttpChannel::Run() {
  last_frame_time().Reset();  // the silence is counted from the start
  bool lost = false;
  bool delivered = true;  // the first attempt is made at once
  for (;;) {
    const uint32_t pause =
        lost ? timing_.retry_after_loss_ms : (delivered ? 0 : timing_.retry_after_failure_ms);
    if (stop_event().Wait(pause)) {
      SetStatus(kChannelStopped);
      SetCameraState(false);
      break;
    }
    delivered = false;
    if (const std::optional<uint32_t> left = MsUntilSignalLoss()) {
      stream_link_->SetDeadlineIn(*left);
    }
    const bool opened = OpenStream();
    stream_link_->ClearDeadline();
    if (opened) {
      SetStatus(kChannelReceiving);
      // A picture left over from the previous connection must not be
      // completed with bytes of this one.
      if (parser_) parser_->Reset();
      delivered = ReadStream();
    }
    stream_link_->CloseStream();
    OnStreamClosed();
    if (stop_event().IsSet()) continue;  // the loop's head reports the stop

    lost = SignalLost();
    if (lost) {
      SetStatus(kChannelSignalLost);
      if (receiver() != nullptr) receiver()->OnSignalLost();
      SetCameraState(false);
    }
  }
  return 0;
}

bool CBaseHttpChannel::ReadStream() {
  const uint64_t connected_ms = clock().SteadyMs();
  const uint32_t limit_ms = device().receive_timeout_ms;
  accepted_on_connection_ = 0;
  while (!stop_event().IsSet()) {
    // Read straight into the parser's buffer.
    if (!parser_ && discard_.empty()) discard_.resize(CHttpMediaParser::kMinReceiveBytes);
    const size_t n = stream_link_->Read(parser_ ? parser_->ReceiveArea() : std::span(discard_));
    if (n == 0) break;
    if (parser_) parser_->Received(n);
    if (MsWithoutFrameSince(connected_ms) > limit_ms) break;
  }
  return accepted_on_connection_ > 0;
}

bool CBaseHttpChannel::SignalLost() const {
  return last_frame_time().ElapsedMs() > device().receive_timeout_ms;
}

std::optional<uint32_t> CBaseHttpChannel::MsUntilSignalLoss() const {
  const uint64_t elapsed = last_frame_time().ElapsedMs();
  const uint64_t limit = device().receive_timeout_ms;
  if (elapsed > limit) return std::nullopt;
  return static_cast<uint32_t>(limit - elapsed + 1);
}

uint64_t CBaseHttpChannel::MsWithoutFrameSince(uint64_t since_ms) const {
  const uint64_t now = clock().SteadyMs();
  const uint64_t since_connect = now > since_ms ? now - since_ms : 0;
  const uint64_t since_frame = last_frame_time().ElapsedMs();
  return std::min(since_connect, since_frame);
}

bool CBaseHttpChannel::ReceiveFrame(ipcapture::IVideoFrame* frame) {
  // Pictures still in the chunk being parsed when the stop came are dropped:
  // the recorder may be about to delete its receiver.
  if (stop_event().IsSet() || !ForwardFrame(frame)) return false;
  last_frame_time().Reset();
  ++accepted_on_connection_;
  // A frame accepted just as the channel stops must not report it online
  // again after "Channel was stopped".
  if (!stop_event().IsSet()) SetCameraState(true);
  return true;
}

}  // namespace korvela
