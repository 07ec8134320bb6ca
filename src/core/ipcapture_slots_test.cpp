// Slot order of the recorder/driver contract. A method inserted, removed or
// moved in a header changes these numbers and fails here, before a recorder
// built against the old layout calls the wrong method.
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "korvela/ipcapture.h"

#include "core/testing/slot_index.h"

namespace korvela::ipcapture {
namespace {

TEST(ContractSlots, DriverChain) {
  // Ex4 lists every level's methods, each level where the previous ends.
  EXPECT_SLOTS(IIPCaptureDriverEx4, Open, Close, GetVideoCapture, GetIO, Reserved5, GetAudioCapture,
               Reserved7, Reserved8, GetAudioCaptureEx, GetAudioCapture2, GetAudioSender);
}

TEST(ContractSlots, DeviceSetupLoggingAndFrames) {
  EXPECT_SLOTS(IDeviceSetup, GetDescription, GetConnection, Reserved3, GetParameter);
  EXPECT_SLOTS(IDeviceDescription, Reserved1, GetModel, GetChannelCount, Reserved4,
               GetDigitalInputCount, GetDigitalOutputCount);
  EXPECT_SLOTS(IConnectionSettings, GetAddress, GetPort, Reserved3, GetStreamType, GetUserName,
               GetPassword);
  EXPECT_SLOTS(IDebugMessage, Message);
  EXPECT_SLOTS(CDebugInfoIf, GetLevel, GetText);
  EXPECT_SLOTS(IDebugInfoSink, Report);
  EXPECT_SLOTS(IFrameAllocator, Reserved1, AllocateVideoFrame, AllocateAudioFrame,
               ReleaseAudioFrame, Reserved5, ReleaseVideoFrame);
  EXPECT_SLOTS(IVideoFrame, Reserved1, GetBuffer, Reserved3, SetDataLength, SetTimeNow, SetTime,
               Reserved7, Reserved8, Reserved9, SetCompression, Reserved11, SetHeight, Reserved13,
               SetWidth, Reserved15, SetResolutionClass);
  EXPECT_SLOTS(IAudioFrame, SetData, GetDataLength, GetData, Reserved4, SetTimeNow, Reserved6,
               Reserved7, Reserved8, Reserved9, GetFormatCode, Reserved11, SetFormatCode,
               SetBitRate, Reserved14, SetChannel, GetChannel, IsStereo, Reserved18, GetSampleRate,
               GetBitRate, SetSampleFormat);
}

TEST(ContractSlots, VideoAudioIoAndZones) {
  EXPECT_SLOTS(IVideoParams, GetFormat, GetRate, Reserved3, Reserved4, GetPrivacyZones);
  EXPECT_SLOTS(IVideoFormat, Reserved1, Reserved2, GetSize);
  EXPECT_SLOTS(IVideoRate, GetFrameRate, Reserved2, GetQuality);
  EXPECT_SLOTS(IPictureSize, GetWidth, GetHeight);
  EXPECT_SLOTS(IFrameReceiver, OnFrame, Reserved2, OnSignalLost);
  EXPECT_SLOTS(IIPVideoCapture, GetChannelCount, StartChannel, StopChannel, ChangeChannel,
               Reserved5, GetChannelState, Reserved7, Reserved8);
  EXPECT_SLOTS(IIPAudioCapture2, GetChannelCount, OpenChannel, CloseChannel, GetChannelState,
               Reserved5, Reserved6);
  EXPECT_SLOTS(IIPAudioSender, GetChannelCount, OpenChannel, CloseChannel, SendAudioFrame,
               GetAudioFormat, GetChannelState, Reserved7, Reserved8);
  EXPECT_SLOTS(IAudioCallback, OnAudioFrame, OnStateChanged);
  EXPECT_SLOTS(IAudioFormatList, GetCount, GetEntry);
  EXPECT_SLOTS(IAudioFormatEntry, Reserved1, GetFormatCode, Reserved3, IsEnabled);
  EXPECT_SLOTS(IAudioSenderCallback, OnStateChanged);
  EXPECT_SLOTS(IAudioOutputFormatList, GetCount, GetEntry);
  EXPECT_SLOTS(IAudioOutputFormatEntry, Reserved1, GetFormatCode, Reserved3, Reserved4, IsEnabled);
  EXPECT_SLOTS(IAudioFormat, SetFormatCode, SetSampleRate, SetBitRate, Reserved4, SetStereo);
  EXPECT_SLOTS(ICaptureIOApi, SetCallback, Start, Stop, GetInputCount, GetOutputCount, SetOutput);
  EXPECT_SLOTS(ICaptureIOCallback, OnInputChanged, OnDeviceError);
  EXPECT_SLOTS(IPrivacyZones, SetZones, Apply);
  EXPECT_SLOTS(IPrivacyZone, GetAttribute1, GetAttribute2, IsEnabled, GetLeft, GetTop, GetRight,
               GetBottom);
  EXPECT_SLOTS(IPrivacyZoneCollection, GetZone);
}

TEST(ContractSlots, CapabilityQuery) {
  EXPECT_SLOTS(ICapabilityResultSink, SetCapability, SetName, GetConnectionField, Reserved4,
               AddProperty, GetResolutionList, Reserved7, GetFrameRateList);
  EXPECT_SLOTS(IConnectionField, SetValue);
  EXPECT_SLOTS(ICapabilityProperty, SetValue, Reserved2, Reserved3, SetReadOnly, SetLabel,
               SetExtra);
  EXPECT_SLOTS(IResolutionList, Add);
  EXPECT_SLOTS(IFrameRateList, SetDefault, Add);
  EXPECT_SLOTS(ICapabilityQueryCallback, Reserved1, OnCompleted, OnFailed, OnTerminated);
  EXPECT_SLOTS(IIPCapabilityQuery, Start, Terminate);
}

TEST(ContractSlots, FourCharacterCodesAreLittleEndian) {
  const char jpeg[4] = {'J', 'P', 'E', 'G'};
  uint32_t value = 0;
  std::memcpy(&value, jpeg, 4);
  EXPECT_EQ(value, kCompressionJpeg);
  const char mulaw[4] = {'7', '1', '1', 'M'};
  std::memcpy(&value, mulaw, 4);
  EXPECT_EQ(value, kAudioFormatMuLaw);
}

}  // namespace
}  // namespace korvela::ipcapture
