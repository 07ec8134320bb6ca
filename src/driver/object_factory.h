// The concrete objects the IQeye driver makes: video and audio channels, the
// digital I/O object and the privacy-zone object.
//
// Each function returns a new object owned by the caller, or null when the
// allocation fails or the class is not part of this build yet. The
// definitions (object_factory.cpp) are the one place that knows the concrete
// classes; their owners fill them in as the classes land.
//
// Threading: called on the recorder's thread (Open, StartChannel,
// OpenChannel); the objects made take the driver's IDriver, not owned.
#pragma once

#include <cstdint>

#include "korvela/ipcapture.h"

#include "core/idriver.h"

namespace korvela::factory {

// CMjpegChannelHTTP for stream type 1.
ICameraChannel* NewMjpegChannel(IDriver* driver, uint32_t input,
                                ipcapture::IFrameReceiver* receiver);
// CH264ChannelRTSP for stream type 3.
ICameraChannel* NewH264Channel(IDriver* driver, uint32_t input,
                               ipcapture::IFrameReceiver* receiver);
// CQuarnoAudioCaptureChannel.
IAudioInputChannel* NewAudioCaptureChannel(IDriver* driver, uint32_t key, uint32_t input,
                                           ipcapture::IAudioCallback* callback,
                                           ipcapture::IAudioFormatList* formats);
// CQuarnoAudioOutputChannel.
IAudioOutputChannel* NewAudioOutputChannel(IDriver* driver, uint32_t key, uint32_t value,
                                           ipcapture::IAudioSenderCallback* callback,
                                           ipcapture::IAudioOutputFormatList* formats);

// CQuarnoDigitalIO.
ipcapture::ICaptureIOApi* NewDigitalIO(IDriver* driver);

// CQuarnoPrivacyZone; null leaves the driver without privacy zones.
ipcapture::IPrivacyZones* NewPrivacyZones(IDriver* driver);

}  // namespace korvela::factory
