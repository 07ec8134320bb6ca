// CMjpegChannelHTTP: the Motion-JPEG channel of an IQeye camera. Before each
// connection it writes the wanted quality, frame interval and picture
// geometry (cropping window or video mode, by camera group) through OIDs,
// then reads the server push "/now.jpg?snap=spush..." and splits it into
// JPEG frames.
//
// A new frame rate is written on the recorder's thread over the channel's
// control link (never the link the worker streams on) and the worker is
// restarted; a new picture size is refused (it needs a restart with new
// settings).
//
// Threading: as CBaseHttpChannel. camera_group_ is fixed at construction;
// log_mu_ guards frame_rate_errors_ (SetFrameRate, recorder's threads).
#pragma once

#include <cstdint>
#include <memory>

#include "channels/base_http_channel.h"
#include "channels/http_stream_link.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace korvela {

class CMjpegChannelHTTP : public CBaseHttpChannel {
 public:
  // Talks to the device over the channel's own HTTP clients.
  CMjpegChannelHTTP(IDriver* driver, uint32_t input_index, ipcapture::IFrameReceiver* receiver);
  // Talks to the device over links from `make_link`, timed by `clock`.
  CMjpegChannelHTTP(IDriver* driver, uint32_t input_index, ipcapture::IFrameReceiver* receiver,
                    const HttpStreamLinkFactory& make_link, const platform::Clock& clock,
                    HttpChannelTiming timing = {});
  ~CMjpegChannelHTTP() override;

  uint32_t camera_group() const { return camera_group_; }

 protected:
  bool SetFrameRate(uint32_t fps) override;
  bool SetResolution(uint32_t width, uint32_t height) override;
  bool OpenStream() override;
  void OnStreamClosed() override;

 private:
  // Before each configuration, on the worker.
  void ApplyPrivacyZones();

  const uint32_t camera_group_;
  Mutex log_mu_;
  uint32_t frame_rate_errors_ GUARDED_BY(log_mu_) = 0;
};

}  // namespace korvela
