// CBaseHttpChannel: an HTTP video channel. Its worker configures the camera
// and opens a never-ending server-push response (OpenStream, by the derived
// class), feeds every chunk read to its media parser, receives the finished
// frames back through IMediaReceiver, reconnects on its own and reports
// signal loss.
//
// Signal loss is measured from the last accepted frame. A new connection gets
// a full receive time-out to deliver its first frame, but reconnecting does
// not restart the count: a camera that keeps accepting connections without
// sending pictures is still reported lost. Opening a connection counts too:
// its exchanges (zones, configuration, stream request) must end by the time
// the signal would count as lost, so a camera that trickles its answers is
// reported lost after the usual time. A pass that delivered no frame is
// followed by a pause (kRetryAfterFailureMs) rather than an immediate retry,
// so a device that refuses at once is not hammered; after a loss the pause is
// kRetryAfterLossMs.
//
// Threading: Run, OpenStream, OnStreamClosed, the parser and ReceiveFrame run
// on the worker thread and use stream_link_ and the parser alone. The
// recorder's thread sends control requests (SetFrameRate in derived classes)
// on a link made for each request; control_mu_ lets one such request run at
// a time, and control_abort_mu_ guards the link in use and the abort flag, so
// that OnStopping (any thread) aborts it. Status, settings and the last frame
// time are guarded in the base class.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channels/base_camera_channel.h"
#include "channels/http_media_parser.h"
#include "channels/http_stream_link.h"
#include "core/media_receiver.h"
#include "device/http_sender.h"
#include "util/mutex.h"

namespace korvela {

struct HttpChannelTiming {
  // Pause before the next attempt once the signal was lost.
  uint32_t retry_after_loss_ms = 5000;
  // Pause after a pass that delivered no frame (failed open, empty stream).
  uint32_t retry_after_failure_ms = 1000;
};

class CBaseHttpChannel : public CBaseCameraChannel, private IMediaReceiver {
 public:
  // Status of a channel that could not allocate its links.
  static constexpr uint32_t kCameraFailed = 1;
  static constexpr uint32_t kRetryAfterLossMs = 5000;
  static constexpr uint32_t kRetryAfterFailureMs = 1000;

  // Links are made with `make_link` from the driver's device description:
  // one for the stream (worker) at construction, and one for each request
  // the recorder's thread sends while the worker streams. `parser` may be
  // null (allocation failed): chunks are then read and dropped.
  CBaseHttpChannel(uint32_t input_index, IDriver* driver, ipcapture::IFrameReceiver* receiver,
                   std::unique_ptr<CHttpMediaParser> parser, const HttpStreamLinkFactory& make_link,
                   const platform::Clock& clock, HttpChannelTiming timing);
  // Stops the worker before the parser and the links go.
  ~CBaseHttpChannel() override;

  MediaParserCounters parser_counters() const;

 protected:
  uint32_t Run() override;
  void OnStopping() override;
  bool OnStarting() override;
  // Configures the camera and opens the stream on stream_link().
  virtual bool OpenStream() = 0;
  // After every connection attempt.
  virtual void OnStreamClosed() = 0;

  // Valid whenever Run runs (it refuses to start without a usable link).
  IHttpStreamLink& stream_link() { return *stream_link_; }
  // Recorder's thread: sends `path` on a link of its own, judged by the
  // status. Stop aborts it; a stopped channel sends nothing.
  Web::CResultDef ControlRequest(const std::string& path) EXCLUDES(control_mu_, control_abort_mu_);

 private:
  bool ReceiveFrame(ipcapture::IVideoFrame* frame) override;
  // Reads the open stream until it ends, the stop event is set or the
  // connection has gone a receive time-out without a frame. True when at
  // least one frame was accepted.
  bool ReadStream();
  bool SignalLost() const;
  // Time left before the signal counts as lost (at least 1 ms, so that an
  // attempt cut by it finds the signal lost); nullopt once it is.
  std::optional<uint32_t> MsUntilSignalLoss() const;
  // Milliseconds since the later of the last accepted frame and `since_ms`.
  uint64_t MsWithoutFrameSince(uint64_t since_ms) const;

  const HttpStreamLinkFactory make_link_;
  const std::unique_ptr<IHttpStreamLink> stream_link_;
  Mutex control_mu_;  // one control request at a time
  Mutex control_abort_mu_;
  IHttpStreamLink* control_link_ GUARDED_BY(control_abort_mu_) = nullptr;
  bool control_stopped_ GUARDED_BY(control_abort_mu_) = true;
  const std::unique_ptr<CHttpMediaParser> parser_;
  const HttpChannelTiming timing_;
  std::vector<uint8_t> discard_;  // read into without a parser (worker thread only)
  // Frames accepted by the recorder on this worker's current connection
  // (worker thread only).
  uint64_t accepted_on_connection_ = 0;
};

}  // namespace korvela
