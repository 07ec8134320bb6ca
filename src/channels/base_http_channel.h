// CBaseHttpChannel: an HTTP video channel. Its worker configures the camera
// and opens a never-ending server-push response (OpenStream, by the derived
// class), feeds every chunk read to its media parser, receives the finished
// frames back through IMediaReceiver, reconnects on its own and reports
// signal loss.
//
// Signal loss is measured from the last accepted frame. A new connection gets
// a full receive time-out to deliver its first frame, but reconnecting does
// not restart the count: a camera that keeps accepting connections without
// sending pictures is still reported lost. A pass that delivered no frame is
// followed by a pause (kRetryAfterFailureMs) rather than an immediate retry,
// so a device that refuses at once is not hammered; after a loss the pause is
// kRetryAfterLossMs.
//
// Threading: Run, OpenStream, OnStreamClosed, the parser and ReceiveFrame run
// on the worker thread and use stream_link_ and the parser alone. The
// recorder's thread uses control_link_ (SetFrameRate in derived classes) and
// calls OnStopping, which only aborts stream_link_ (safe from any thread).
// Status, settings and the last frame time are guarded in the base class.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "channels/base_camera_channel.h"
#include "channels/http_media_parser.h"
#include "channels/http_stream_link.h"
#include "core/media_receiver.h"

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

  // Two links are made with `make_link` from the driver's device
  // description: one for the stream (worker), one for requests the recorder's
  // thread sends while the worker streams. `parser` may be null (allocation
  // failed): chunks are then read and dropped.
  CBaseHttpChannel(uint32_t input_index, IDriver* driver, ipcapture::IFrameReceiver* receiver,
                   std::unique_ptr<CHttpMediaParser> parser, const HttpStreamLinkFactory& make_link,
                   const platform::Clock& clock, HttpChannelTiming timing);
  // Stops the worker before the parser and the links go.
  ~CBaseHttpChannel() override;

  MediaParserCounters parser_counters() const;

 protected:
  uint32_t Run() override;
  void OnStopping() override;
  // Configures the camera and opens the stream on stream_link().
  virtual bool OpenStream() = 0;
  // After every connection attempt.
  virtual void OnStreamClosed() = 0;

  // Valid whenever Run or SetFrameRate can run (Run refuses to start
  // without links, and SetFrameRate checks has_links()).
  IHttpStreamLink& stream_link() { return *stream_link_; }
  IHttpStreamLink& control_link() { return *control_link_; }
  bool has_links() const { return stream_link_ && control_link_; }

 private:
  bool ReceiveFrame(ipcapture::IVideoFrame* frame) override;
  // Reads the open stream until it ends, the stop event is set or the
  // connection has gone a receive time-out without a frame. True when at
  // least one frame was accepted.
  bool ReadStream();
  bool SignalLost() const;
  // Milliseconds since the later of the last accepted frame and `since_ms`.
  uint64_t MsWithoutFrameSince(uint64_t since_ms) const;

  const std::unique_ptr<IHttpStreamLink> stream_link_;
  const std::unique_ptr<IHttpStreamLink> control_link_;
  const std::unique_ptr<CHttpMediaParser> parser_;
  const HttpChannelTiming timing_;
  std::vector<uint8_t> chunk_;  // worker thread only
  // Frames accepted by the recorder on this worker's current connection
  // (worker thread only).
  uint64_t accepted_on_connection_ = 0;
};

}  // namespace korvela
