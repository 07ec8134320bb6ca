// HOOKS: each function below makes one concrete class. Until a class exists
// in the build, its function returns null, and the driver behaves as for an
// unknown stream type or a device without that object. Owners replace the body with the nothrow
// `new` of their class and add their component to korvela_driver's DEPS.
#include "driver/object_factory.h"

#include <new>

#include "channels/audio_capture_channel.h"
#include "channels/audio_output_channel.h"
#include "channels/h264_channel_rtsp.h"
#include "channels/mjpeg_channel_http.h"
#include "device/digital_io.h"
#include "device/privacy_zone_quarno.h"

namespace korvela::factory {

ICameraChannel* NewMjpegChannel(IDriver* driver, uint32_t input,
                                ipcapture::IFrameReceiver* receiver) {
  return new (std::nothrow) CMjpegChannelHTTP(driver, input, receiver);
}

ICameraChannel* NewH264Channel(IDriver* driver, uint32_t input,
                               ipcapture::IFrameReceiver* receiver) {
  return new (std::nothrow) CH264ChannelRTSP(driver, input, receiver);
}

IAudioInputChannel* NewAudioCaptureChannel(IDriver* driver, uint32_t key, uint32_t input,
                                           ipcapture::IAudioCallback* callback,
                                           ipcapture::IAudioFormatList* formats) {
  return new (std::nothrow) CQuarnoAudioCaptureChannel(driver, key, input, callback, formats);
}

IAudioOutputChannel* NewAudioOutputChannel(IDriver* driver, uint32_t key, uint32_t value,
                                           ipcapture::IAudioSenderCallback* callback,
                                           ipcapture::IAudioOutputFormatList* formats) {
  return new (std::nothrow) CQuarnoAudioOutputChannel(driver, key, value, callback, formats);
}

ipcapture::ICaptureIOApi* NewDigitalIO(IDriver* driver) {
  return new (std::nothrow) CQuarnoDigitalIO(driver);
}

ipcapture::IPrivacyZones* NewPrivacyZones(IDriver* driver) {
  return new (std::nothrow) CQuarnoPrivacyZone(driver);
}

}  // namespace korvela::factory
