// Slot order of the driver-internal interfaces, and the FakeDriver's
// parameter reading that other components' tests rely on.
#include <gtest/gtest.h>

#include "core/camera_channel_iface.h"
#include "core/idriver.h"
#include "core/testing/fake_driver.h"
#include "core/testing/slot_index.h"

namespace korvela {
namespace {

TEST(DriverInterfaceSlots, IDriverContinuesIDebugMessage) {
  EXPECT_SLOT(IDriver, Message, 1);
  EXPECT_SLOT(IDriver, GetName, 2);
  EXPECT_SLOT(IDriver, GetDeviceInfo, 3);
  EXPECT_SLOT(IDriver, GetIOCount, 4);
  EXPECT_SLOT(IDriver, GetFrameAllocator, 5);
  EXPECT_SLOT(IDriver, GetChannelParameter, 6);
  EXPECT_SLOT(IDriver, GetStreamType, 7);
  EXPECT_SLOT(IDriver, GetChannelCount, 8);
  EXPECT_SLOT(IDriver, GetPrivacyZones, 9);
  EXPECT_SLOT(IDriver, GetParameter, 10);
  EXPECT_SLOT(IDriver, GetParameterInt, 11);
  EXPECT_SLOT(IDriver, CreateVideoChannel, 12);
}

TEST(DriverInterfaceSlots, ChannelsAndCreator) {
  EXPECT_SLOT(IAudioChannelCreator, CreateAudioInputChannel, 1);
  EXPECT_SLOT(IAudioChannelCreator, CreateAudioOutputChannel, 2);
  EXPECT_SLOT(IAudioInputChannel, Start, 1);
  EXPECT_SLOT(IAudioInputChannel, Stop, 2);
  EXPECT_SLOT(IAudioInputChannel, GetState, 3);
  EXPECT_SLOT(IAudioOutputChannel, Start, 1);
  EXPECT_SLOT(IAudioOutputChannel, Stop, 2);
  EXPECT_SLOT(IAudioOutputChannel, GetState, 3);
  EXPECT_SLOT(IAudioOutputChannel, GetAudioFormat, 4);
  EXPECT_SLOT(IAudioOutputChannel, SendFrame, 5);
  EXPECT_SLOT(ICameraChannel, Start, 1);
  EXPECT_SLOT(ICameraChannel, Stop, 2);
  EXPECT_SLOT(ICameraChannel, ChangeSettings, 3);
  EXPECT_SLOT(ICameraChannel, GetState, 4);
}

TEST(FakeDriver, ReadsParametersLikeTheDriverAndRecordsLines) {
  testing::FakeDriver driver;
  driver.SetParameter(3, "(none)");
  driver.SetParameter(4, "-12");
  driver.SetParameter(5, "12x");
  EXPECT_EQ(driver.GetParameter(3), "");
  EXPECT_EQ(driver.GetParameter(9), "");
  EXPECT_EQ(driver.GetParameterInt(4), -12);
  EXPECT_EQ(driver.GetParameterInt(5), kParameterNotANumber);
  EXPECT_EQ(driver.GetParameterInt(3), kParameterNotANumber);
  EXPECT_EQ(driver.CreateVideoChannel(0, nullptr), nullptr);
  EXPECT_EQ(driver.video_channels_created(), 1);

  driver.Message(1, "%s: %s is offline or failed", "korvela::X::Y", "Camera 10.0.0.1");
  EXPECT_TRUE(driver.log.HasLine(1, "korvela::X::Y: Camera 10.0.0.1 is offline or failed"));
}

}  // namespace
}  // namespace korvela
