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
  EXPECT_SLOT(IIPCaptureDriverEx4, Open, 1);
  EXPECT_SLOT(IIPCaptureDriverEx4, Close, 2);
  EXPECT_SLOT(IIPCaptureDriverEx4, GetVideoCapture, 3);
  EXPECT_SLOT(IIPCaptureDriverEx4, GetIO, 4);
  EXPECT_SLOT(IIPCaptureDriverEx4, Reserved5, 5);
  EXPECT_SLOT(IIPCaptureDriverEx4, GetAudioCapture, 6);
  EXPECT_SLOT(IIPCaptureDriverEx4, Reserved7, 7);
  EXPECT_SLOT(IIPCaptureDriverEx4, Reserved8, 8);
  EXPECT_SLOT(IIPCaptureDriverEx4, GetAudioCaptureEx, 9);
  EXPECT_SLOT(IIPCaptureDriverEx4, GetAudioCapture2, 10);
  EXPECT_SLOT(IIPCaptureDriverEx4, GetAudioSender, 11);
  // Each level starts where the previous one ends.
  EXPECT_SLOT(IIPCaptureDriver, GetIO, 4);
  EXPECT_SLOT(IIPCaptureDriverEx, GetAudioCapture, 6);
  EXPECT_SLOT(IIPCaptureDriverEx2, Reserved8, 8);
  EXPECT_SLOT(IIPCaptureDriverEx3, GetAudioCaptureEx, 9);
}

TEST(ContractSlots, DeviceSetup) {
  EXPECT_SLOT(IDeviceSetup, GetDescription, 1);
  EXPECT_SLOT(IDeviceSetup, GetConnection, 2);
  EXPECT_SLOT(IDeviceSetup, GetParameter, 4);
  EXPECT_SLOT(IDeviceDescription, GetModel, 2);
  EXPECT_SLOT(IDeviceDescription, GetChannelCount, 3);
  EXPECT_SLOT(IDeviceDescription, GetDigitalInputCount, 5);
  EXPECT_SLOT(IDeviceDescription, GetDigitalOutputCount, 6);
  EXPECT_SLOT(IConnectionSettings, GetAddress, 1);
  EXPECT_SLOT(IConnectionSettings, GetPort, 2);
  EXPECT_SLOT(IConnectionSettings, GetStreamType, 4);
  EXPECT_SLOT(IConnectionSettings, GetUserName, 5);
  EXPECT_SLOT(IConnectionSettings, GetPassword, 6);
}

TEST(ContractSlots, LoggingAndFrames) {
  EXPECT_SLOT(IDebugMessage, Message, 1);
  EXPECT_SLOT(CDebugInfoIf, GetLevel, 1);
  EXPECT_SLOT(CDebugInfoIf, GetText, 2);
  EXPECT_SLOT(IDebugInfoSink, Report, 1);

  EXPECT_SLOT(IFrameAllocator, AllocateVideoFrame, 2);
  EXPECT_SLOT(IFrameAllocator, AllocateAudioFrame, 3);
  EXPECT_SLOT(IFrameAllocator, ReleaseAudioFrame, 4);
  EXPECT_SLOT(IFrameAllocator, ReleaseVideoFrame, 6);

  EXPECT_SLOT(IVideoFrame, GetBuffer, 2);
  EXPECT_SLOT(IVideoFrame, SetDataLength, 4);
  EXPECT_SLOT(IVideoFrame, SetTimeNow, 5);
  EXPECT_SLOT(IVideoFrame, SetTime, 6);
  EXPECT_SLOT(IVideoFrame, SetCompression, 10);
  EXPECT_SLOT(IVideoFrame, SetHeight, 12);
  EXPECT_SLOT(IVideoFrame, SetWidth, 14);
  EXPECT_SLOT(IVideoFrame, SetResolutionClass, 16);

  EXPECT_SLOT(IAudioFrame, SetData, 1);
  EXPECT_SLOT(IAudioFrame, GetDataLength, 2);
  EXPECT_SLOT(IAudioFrame, GetData, 3);
  EXPECT_SLOT(IAudioFrame, SetTimeNow, 5);
  EXPECT_SLOT(IAudioFrame, GetFormatCode, 10);
  EXPECT_SLOT(IAudioFrame, SetFormatCode, 12);
  EXPECT_SLOT(IAudioFrame, SetBitRate, 13);
  EXPECT_SLOT(IAudioFrame, SetChannel, 15);
  EXPECT_SLOT(IAudioFrame, GetChannel, 16);
  EXPECT_SLOT(IAudioFrame, IsStereo, 17);
  EXPECT_SLOT(IAudioFrame, GetSampleRate, 19);
  EXPECT_SLOT(IAudioFrame, GetBitRate, 20);
  EXPECT_SLOT(IAudioFrame, SetSampleFormat, 21);
}

TEST(ContractSlots, Video) {
  EXPECT_SLOT(IVideoParams, GetFormat, 1);
  EXPECT_SLOT(IVideoParams, GetRate, 2);
  EXPECT_SLOT(IVideoParams, GetPrivacyZones, 5);
  EXPECT_SLOT(IVideoFormat, GetSize, 3);
  EXPECT_SLOT(IVideoRate, GetFrameRate, 1);
  EXPECT_SLOT(IVideoRate, GetQuality, 3);
  EXPECT_SLOT(IPictureSize, GetWidth, 1);
  EXPECT_SLOT(IPictureSize, GetHeight, 2);
  EXPECT_SLOT(IFrameReceiver, OnFrame, 1);
  EXPECT_SLOT(IFrameReceiver, OnSignalLost, 3);

  EXPECT_SLOT(IIPVideoCapture, GetChannelCount, 1);
  EXPECT_SLOT(IIPVideoCapture, StartChannel, 2);
  EXPECT_SLOT(IIPVideoCapture, StopChannel, 3);
  EXPECT_SLOT(IIPVideoCapture, ChangeChannel, 4);
  EXPECT_SLOT(IIPVideoCapture, Reserved5, 5);
  EXPECT_SLOT(IIPVideoCapture, GetChannelState, 6);
  EXPECT_SLOT(IIPVideoCapture, Reserved7, 7);
  EXPECT_SLOT(IIPVideoCapture, Reserved8, 8);
}

TEST(ContractSlots, Audio) {
  EXPECT_SLOT(IIPAudioCapture2, GetChannelCount, 1);
  EXPECT_SLOT(IIPAudioCapture2, OpenChannel, 2);
  EXPECT_SLOT(IIPAudioCapture2, CloseChannel, 3);
  EXPECT_SLOT(IIPAudioCapture2, GetChannelState, 4);
  EXPECT_SLOT(IIPAudioCapture2, Reserved5, 5);
  EXPECT_SLOT(IIPAudioCapture2, Reserved6, 6);

  EXPECT_SLOT(IIPAudioSender, GetChannelCount, 1);
  EXPECT_SLOT(IIPAudioSender, OpenChannel, 2);
  EXPECT_SLOT(IIPAudioSender, CloseChannel, 3);
  EXPECT_SLOT(IIPAudioSender, SendAudioFrame, 4);
  EXPECT_SLOT(IIPAudioSender, GetAudioFormat, 5);
  EXPECT_SLOT(IIPAudioSender, GetChannelState, 6);
  EXPECT_SLOT(IIPAudioSender, Reserved7, 7);
  EXPECT_SLOT(IIPAudioSender, Reserved8, 8);

  EXPECT_SLOT(IAudioCallback, OnAudioFrame, 1);
  EXPECT_SLOT(IAudioCallback, OnStateChanged, 2);
  EXPECT_SLOT(IAudioFormatList, GetCount, 1);
  EXPECT_SLOT(IAudioFormatList, GetEntry, 2);
  EXPECT_SLOT(IAudioFormatEntry, GetFormatCode, 2);
  EXPECT_SLOT(IAudioFormatEntry, IsEnabled, 4);
  EXPECT_SLOT(IAudioSenderCallback, OnStateChanged, 1);
  EXPECT_SLOT(IAudioOutputFormatList, GetCount, 1);
  EXPECT_SLOT(IAudioOutputFormatList, GetEntry, 2);
  EXPECT_SLOT(IAudioOutputFormatEntry, GetFormatCode, 2);
  EXPECT_SLOT(IAudioOutputFormatEntry, IsEnabled, 5);
  EXPECT_SLOT(IAudioFormat, SetFormatCode, 1);
  EXPECT_SLOT(IAudioFormat, SetSampleRate, 2);
  EXPECT_SLOT(IAudioFormat, SetBitRate, 3);
  EXPECT_SLOT(IAudioFormat, SetStereo, 5);
}

TEST(ContractSlots, CapabilityQuery) {
  EXPECT_SLOT(ICapabilityResultSink, SetCapability, 1);
  EXPECT_SLOT(ICapabilityResultSink, SetName, 2);
  EXPECT_SLOT(ICapabilityResultSink, GetConnectionField, 3);
  EXPECT_SLOT(ICapabilityResultSink, AddProperty, 5);
  EXPECT_SLOT(ICapabilityResultSink, GetResolutionList, 6);
  EXPECT_SLOT(ICapabilityResultSink, GetFrameRateList, 8);
  EXPECT_SLOT(IConnectionField, SetValue, 1);
  EXPECT_SLOT(ICapabilityProperty, SetValue, 1);
  EXPECT_SLOT(ICapabilityProperty, SetReadOnly, 4);
  EXPECT_SLOT(ICapabilityProperty, SetLabel, 5);
  EXPECT_SLOT(ICapabilityProperty, SetExtra, 6);
  EXPECT_SLOT(IResolutionList, Add, 1);
  EXPECT_SLOT(IFrameRateList, SetDefault, 1);
  EXPECT_SLOT(IFrameRateList, Add, 2);
  EXPECT_SLOT(ICapabilityQueryCallback, OnCompleted, 2);
  EXPECT_SLOT(ICapabilityQueryCallback, OnFailed, 3);
  EXPECT_SLOT(ICapabilityQueryCallback, OnTerminated, 4);
  EXPECT_SLOT(IIPCapabilityQuery, Start, 1);
  EXPECT_SLOT(IIPCapabilityQuery, Terminate, 2);
}

TEST(ContractSlots, IoAndPrivacyZones) {
  EXPECT_SLOT(ICaptureIOApi, SetCallback, 1);
  EXPECT_SLOT(ICaptureIOApi, Start, 2);
  EXPECT_SLOT(ICaptureIOApi, Stop, 3);
  EXPECT_SLOT(ICaptureIOApi, GetInputCount, 4);
  EXPECT_SLOT(ICaptureIOApi, GetOutputCount, 5);
  EXPECT_SLOT(ICaptureIOApi, SetOutput, 6);
  EXPECT_SLOT(ICaptureIOCallback, OnInputChanged, 1);
  EXPECT_SLOT(ICaptureIOCallback, OnDeviceError, 2);

  EXPECT_SLOT(IPrivacyZones, SetZones, 1);
  EXPECT_SLOT(IPrivacyZones, Apply, 2);
  EXPECT_SLOT(IPrivacyZone, GetAttribute1, 1);
  EXPECT_SLOT(IPrivacyZone, GetAttribute2, 2);
  EXPECT_SLOT(IPrivacyZone, IsEnabled, 3);
  EXPECT_SLOT(IPrivacyZone, GetLeft, 4);
  EXPECT_SLOT(IPrivacyZone, GetTop, 5);
  EXPECT_SLOT(IPrivacyZone, GetRight, 6);
  EXPECT_SLOT(IPrivacyZone, GetBottom, 7);
  EXPECT_SLOT(IPrivacyZoneCollection, GetZone, 1);
}

// One object implementing the whole chain: the pointer that Create... returns
// is every level at once, and a call through the oldest level lands in the
// newest implementation.
class ChainProbe final : public IIPCaptureDriverEx4 {
 public:
  int last = 0;
  bool Open(IDebugInfoSink*, IFrameAllocator*, IDeviceSetup*) override { return (last = 1) != 0; }
  void Close() override { last = 2; }
  IIPVideoCapture* GetVideoCapture() override { return last = 3, nullptr; }
  ICaptureIOApi* GetIO() override { return last = 4, nullptr; }
  void* Reserved5() override { return last = 5, nullptr; }
  IIPAudioCapture* GetAudioCapture() override { return last = 6, nullptr; }
  void* Reserved7() override { return last = 7, nullptr; }
  void* Reserved8() override { return last = 8, nullptr; }
  IIPAudioCapture* GetAudioCaptureEx() override { return last = 9, nullptr; }
  IIPAudioCapture2* GetAudioCapture2() override { return last = 10, nullptr; }
  IIPAudioSender* GetAudioSender() override { return last = 11, nullptr; }
};

TEST(ContractSlots, ChainSharesOnePointer) {
  ChainProbe probe;
  IIPCaptureDriverEx4* ex4 = &probe;
  IIPCaptureDriver* base = ex4;
  EXPECT_EQ(static_cast<void*>(base), static_cast<void*>(ex4));
  base->Close();
  EXPECT_EQ(probe.last, 2);
  static_cast<IIPCaptureDriverEx2*>(ex4)->Reserved8();
  EXPECT_EQ(probe.last, 8);
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
