#include "channels/mjpeg_channel_http.h"

#include <new>
#include <string>

#include "base/log_throttle.h"
#include "channels/jpeg_media_parser.h"
#include "channels/mjpeg_stream_config.h"
#include "channels/sender_stream_link.h"
#include "core/camera_parameters.h"
#include "device/privacy_zone.h"

namespace korvela {

namespace {

uint32_t ReadCameraGroup(IDriver* driver) {
  return driver == nullptr ? 0
                           : ParseCameraGroup(driver->GetParameter(ipcapture::kParamCameraGroup));
}

std::unique_ptr<CHttpMediaParser> MakeParser(IDriver* driver) {
  return std::unique_ptr<CHttpMediaParser>(new (std::nothrow)
                                               CJpegMediaParser(driver, kDriverName));
}

}  // namespace

CMjpegChannelHTTP::CMjpegChannelHTTP(IDriver* driver, uint32_t input_index,
                                     ipcapture::IFrameReceiver* receiver)
    : CMjpegChannelHTTP(driver, input_index, receiver, MakeSenderStreamLink,
                        platform::SystemClock()) {}

CMjpegChannelHTTP::CMjpegChannelHTTP(IDriver* driver, uint32_t input_index,
                                     ipcapture::IFrameReceiver* receiver,
                                     const HttpStreamLinkFactory& make_link,
                                     const platform::Clock& clock, HttpChannelTiming timing)
    : CBaseHttpChannel(input_index, driver, receiver, MakeParser(driver), make_link, clock, timing),
      camera_group_(ReadCameraGroup(driver)) {}

CMjpegChannelHTTP::~CMjpegChannelHTTP() { Stop(); }

bool CMjpegChannelHTTP::SetResolution(uint32_t, uint32_t) { return false; }

bool CMjpegChannelHTTP::SetFrameRate(uint32_t fps) {
  // A stopped channel stays stopped: nothing to write, nothing to restart.
  if (!IsStarted()) return false;
  const Web::CResultDef result = ControlRequest(FrameRateRequest(fps));
  if (result.code != 0) {
    MutexLock lock(log_mu_);
    if (LogThrottle(frame_rate_errors_) && !result.message.empty() && result.level != 4 &&
        driver() != nullptr) {
      driver()->Message(result.level, "%s", result.message.c_str());
    }
    return false;
  }
  // False when the channel was stopped meanwhile: it is not restarted.
  return RestartWorker([&] { StoreFrameRate(fps); });
}

void CMjpegChannelHTTP::ApplyPrivacyZones() {
  ipcapture::IPrivacyZones* zones = driver() != nullptr ? driver()->GetPrivacyZones() : nullptr;
  if (zones == nullptr) return;
  // Our own zone object writes over this worker's link, which Stop aborts;
  // any other is applied the plain way.
  if (auto* own = dynamic_cast<CBasePrivacyZone*>(zones)) {
    own->ApplyThrough(
        [this](const std::string& path) { return stream_link().RequestStatus(path); });
  } else {
    zones->Apply();
  }
}

bool CMjpegChannelHTTP::OpenStream() {
  ApplyPrivacyZones();
  const StreamSettings s = GetSettings();
  const std::string sensor =
      driver() != nullptr ? driver()->GetParameter(ipcapture::kParamMaximumResolution) : "";
  const MjpegRequests requests =
      BuildMjpegRequests({s.frame_rate, s.quality, s.width, s.height}, camera_group_, sensor);
  IHttpStreamLink& link = stream_link();
  if (requests.crop) link.RequestOk(*requests.crop);  // answer not judged
  if (!link.RequestOk(requests.configure)) return false;
  link.RequestOk(requests.after_configure);  // answer not judged
  return link.OpenStream(requests.stream_path);
}

void CMjpegChannelHTTP::OnStreamClosed() {
  stream_link().RequestOk(StreamClosedRequest(GetSettings().frame_rate));
}

}  // namespace korvela
