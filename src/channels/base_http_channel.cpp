#include "channels/base_http_channel.h"

#include <algorithm>
#include <span>
#include <utility>

namespace korvela {

CBaseHttpChannel::CBaseHttpChannel(uint32_t input_index, IDriver* driver,
                                   ipcapture::IFrameReceiver* receiver,
                                   std::unique_ptr<CHttpMediaParser> parser,
                                   const HttpStreamLinkFactory& make_link,
                                   const platform::Clock& clock, HttpChannelTiming timing)
    : CBaseCameraChannel(input_index, driver, receiver, clock),
      stream_link_(make_link(device())),
      control_link_(make_link(device())),
      parser_(std::move(parser)),
      timing_(timing) {
  if (parser_) parser_->SetReceiver(this);
}

CBaseHttpChannel::~CBaseHttpChannel() { Stop(); }

MediaParserCounters CBaseHttpChannel::parser_counters() const {
  return parser_ ? parser_->counters() : MediaParserCounters{};
}

void CBaseHttpChannel::OnStopping() {
  // Makes a read blocked on the stream return at once; the worker then sees
  // the stop event.
  if (stream_link_) stream_link_->Abort();
}

uint32_t CBaseHttpChannel::Run() {
  if (!stream_link_ || !control_link_) {
    SetStatus(kCameraFailed);  // no link could be made: nothing to run on
    return 0;
  }
  last_frame_time().Reset();  // the silence is counted from the start
  stream_link_->Rearm();
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
    if (OpenStream()) {
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
    const size_t n = stream_link_->ReadChunk(chunk_);
    if (n == 0) break;
    if (parser_) parser_->ProcessData(std::span<const uint8_t>(chunk_.data(), n));
    if (MsWithoutFrameSince(connected_ms) > limit_ms) break;
  }
  return accepted_on_connection_ > 0;
}

bool CBaseHttpChannel::SignalLost() const {
  return last_frame_time().ElapsedMs() > device().receive_timeout_ms;
}

uint64_t CBaseHttpChannel::MsWithoutFrameSince(uint64_t since_ms) const {
  const uint64_t now = clock().SteadyMs();
  const uint64_t since_connect = now > since_ms ? now - since_ms : 0;
  const uint64_t since_frame = last_frame_time().ElapsedMs();
  return std::min(since_connect, since_frame);
}

bool CBaseHttpChannel::ReceiveFrame(ipcapture::IVideoFrame* frame) {
  if (!ForwardFrame(frame)) return false;
  last_frame_time().Reset();
  ++accepted_on_connection_;
  // A frame that was in flight while the channel stops must not report it
  // online again after "Channel was stopped".
  if (!stop_event().IsSet()) SetCameraState(true);
  return true;
}

}  // namespace korvela
