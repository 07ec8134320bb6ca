#include "channels/h264_channel_rtsp.h"

#include <string>
#include <utility>

#include "korvela/capability_query.h"
#include "korvela/debug_message.h"

#include "base/log_throttle.h"
#include "channels/h264_stream_config.h"
#include "channels/sender_stream_link.h"
#include "core/camera_parameters.h"
#include "device/privacy_zone.h"

namespace korvela {

namespace {

uint32_t ReadCameraGroup(IDriver* driver) {
  return driver == nullptr ? 0
                           : ParseCameraGroup(driver->GetParameter(ipcapture::kParamCameraGroup));
}

}  // namespace

CH264ChannelRTSP::CH264ChannelRTSP(IDriver* driver, uint32_t input_index,
                                   ipcapture::IFrameReceiver* receiver)
    : CH264ChannelRTSP(driver, input_index, receiver, MakeSenderStreamLink,
                       platform::SystemClock()) {}

CH264ChannelRTSP::CH264ChannelRTSP(IDriver* driver, uint32_t input_index,
                                   ipcapture::IFrameReceiver* receiver,
                                   const HttpStreamLinkFactory& make_link,
                                   const platform::Clock& clock, RtpChannelTiming timing,
                                   uint32_t configure_pause_ms)
    : CBaseRTSPChannel(input_index, driver, receiver, clock, timing),
      device_link_(make_link(device())),
      control_link_(make_link(device())),
      parser_(driver, kDriverName, clock),
      camera_group_(ReadCameraGroup(driver)),
      configure_pause_ms_(configure_pause_ms) {
  parser_.SetReceiver(this);
}

CH264ChannelRTSP::~CH264ChannelRTSP() { Stop(); }

uint32_t CH264ChannelRTSP::Run() {
  if (!device_link_ || !control_link_) {
    SetStatus(kCameraFailed);  // no link could be made: nothing to run on
    return 0;
  }
  device_link_->Rearm();
  return CBaseRTSPChannel::Run();
}

void CH264ChannelRTSP::OnStopping() {
  // Ends an OID request in progress at once; the worker then sees the stop.
  if (device_link_) device_link_->Abort();
}

bool CH264ChannelRTSP::SetResolution(uint32_t, uint32_t) { return false; }

bool CH264ChannelRTSP::SetFrameRate(uint32_t fps) {
  if (!control_link_) return false;
  const Web::CResultDef result = control_link_->RequestStatus(H264FrameRateRequest(fps));
  if (result.code == 0) return true;
  if (LogThrottle(frame_rate_errors_) && !result.message.empty() && result.level != kLogNever &&
      driver() != nullptr) {
    driver()->Message(result.level, "%s", result.message.c_str());
  }
  return false;
}

bool CH264ChannelRTSP::PrepareDevice() {
  parser_.Reset();  // reception is stopped: the queue thread is not running
  ipcapture::IPrivacyZones* zones = driver() != nullptr ? driver()->GetPrivacyZones() : nullptr;
  // Our own zone object writes over the device link, which Stop aborts.
  if (auto* own = dynamic_cast<CBasePrivacyZone*>(zones)) {
    own->ApplyThrough(
        [this](const std::string& path) { return device_link_->RequestStatus(path); });
  } else if (zones != nullptr) {
    zones->Apply();
  }
  const StreamSettings s = GetSettings();
  if (!device_link_->RequestOk(
          H264ConfigureRequest({s.frame_rate, s.quality, s.width, s.height}, camera_group_))) {
    return false;
  }
  return !stop_event().Wait(configure_pause_ms_);
}

void CH264ChannelRTSP::PrepareSettings(RtspClientSettings& settings) {
  const std::string port_text =
      driver() != nullptr ? driver()->GetParameter(ipcapture::kParamRtspPort) : std::string();
  if (const std::optional<uint16_t> port = RtspPortFromParameter(port_text)) settings.port = *port;
  settings.path = H264StreamPath(camera_group_, GetSettings().width);
}

void CH264ChannelRTSP::OnDescribed() {
  const std::vector<uint8_t>& sps = rtsp_client().GetSps();
  const std::vector<uint8_t>& pps = rtsp_client().GetPps();
  if (sps.empty() || pps.empty()) return;
  MutexLock lock(sets_lock_);
  pending_sets_ = {sps, pps};
  sets_pending_ = true;
}

void CH264ChannelRTSP::ProcessRTPPacket(const CRTPPacket& packet) {
  if (sets_pending_.exchange(false)) {
    ParameterSets sets;
    {
      MutexLock lock(sets_lock_);
      sets = std::move(pending_sets_);
    }
    parser_.SetParameterSets(sets.sps, sets.pps);
  }
  parser_.ProcessPacket(packet);
}

}  // namespace korvela
