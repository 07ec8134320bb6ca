// Slot order of the driver-internal interfaces.
#include <gtest/gtest.h>

#include "core/camera_channel_iface.h"
#include "core/idriver.h"
#include "core/testing/slot_index.h"

namespace korvela {
namespace {

TEST(DriverInterfaceSlots, IDriverContinuesIDebugMessageAndChannelsFollowIt) {
  EXPECT_SLOTS(IDriver, Message, GetName, GetDeviceInfo, GetIOCount, GetFrameAllocator,
               GetChannelParameter, GetStreamType, GetChannelCount, GetPrivacyZones, GetParameter,
               GetParameterInt, CreateVideoChannel);
  EXPECT_SLOTS(IAudioChannelCreator, CreateAudioInputChannel, CreateAudioOutputChannel);
  EXPECT_SLOTS(IAudioInputChannel, Start, Stop, GetState);
  EXPECT_SLOTS(IAudioOutputChannel, Start, Stop, GetState, GetAudioFormat, SendFrame);
  EXPECT_SLOTS(ICameraChannel, Start, Stop, ChangeSettings, GetState);
}

}  // namespace
}  // namespace korvela
