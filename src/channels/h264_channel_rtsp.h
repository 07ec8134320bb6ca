// CH264ChannelRTSP: H.264 video from an IQeye camera over RTSP and RTP/UDP.
// Before every session it writes the encoder settings (video mode, frame
// interval, constant bit rate) in one OID request and gives the camera
// 500 ms to apply them; it asks for "now.mp4?mm=v" on the camera's RTSP port
// (camera parameter 2), hands the parameter sets of the session description
// to its depacketiser and feeds it every RTP packet. It sends no RTSP
// keep-alive: the camera keeps the session alive on RTCP receiver reports.
//
// A new frame rate is written on the recorder's thread over a link of its
// own (never the worker's) and takes effect without a new session; a new
// picture size is refused.
//
// Threading: PrepareDevice, PrepareSettings and OnDescribed run on the
// worker and use device_link_; SetFrameRate runs on the recorder's thread and
// uses control_link_ and frame_rate_errors_; ProcessRTPPacket runs on the RTP
// queue thread and alone drives the depacketiser (Reset is called by the
// worker only while reception is stopped). The parameter sets learnt by
// DESCRIBE travel to the queue thread through pending_sets_ under sets_lock_.
// OnStopping (stopping thread) only aborts device_link_.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "channels/base_rtsp_channel.h"
#include "channels/http_stream_link.h"
#include "media/h264_rtp_media_parser.h"
#include "util/mutex.h"

namespace korvela {

class CH264ChannelRTSP : public CBaseRTSPChannel {
 public:
  // Status of a channel that could not allocate its links.
  static constexpr uint32_t kCameraFailed = 1;
  // Time the camera gets to apply the encoder settings.
  static constexpr uint32_t kConfigurePauseMs = 500;

  // Talks to the device over the channel's own HTTP clients.
  CH264ChannelRTSP(IDriver* driver, uint32_t input_index, ipcapture::IFrameReceiver* receiver);
  // Talks to the device over links from `make_link`, timed by `clock`.
  CH264ChannelRTSP(IDriver* driver, uint32_t input_index, ipcapture::IFrameReceiver* receiver,
                   const HttpStreamLinkFactory& make_link, const platform::Clock& clock,
                   RtpChannelTiming timing = {}, uint32_t configure_pause_ms = kConfigurePauseMs);
  ~CH264ChannelRTSP() override;

  uint32_t camera_group() const { return camera_group_; }
  RtpParserCounters parser_counters() const { return parser_.counters(); }

 protected:
  uint32_t Run() override;
  void OnStopping() override;
  bool SetFrameRate(uint32_t fps) override;
  bool SetResolution(uint32_t width, uint32_t height) override;
  bool PrepareDevice() override;
  void SendKeepAlive() override {}
  void ProcessRTPPacket(const CRTPPacket& packet) override;
  void PrepareSettings(RtspClientSettings& settings) override;
  void OnDescribed() override;

 private:
  struct ParameterSets {
    std::vector<uint8_t> sps;
    std::vector<uint8_t> pps;
  };

  const std::unique_ptr<IHttpStreamLink> device_link_;
  const std::unique_ptr<IHttpStreamLink> control_link_;
  CH264RTPMediaParser parser_;
  uint32_t frame_rate_errors_ = 0;
  const uint32_t camera_group_;
  const uint32_t configure_pause_ms_;

  Mutex sets_lock_;
  ParameterSets pending_sets_ GUARDED_BY(sets_lock_);
  std::atomic<bool> sets_pending_{false};
};

}  // namespace korvela
