// The driver object: how Open reads the recorder's setup, what it creates,
// when it fails, how it logs, and what Close and deletion leave behind.
#include "driver/ip_capture_driver.h"

#include <array>
#include <memory>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/testing/fake_camera_channel.h"
#include "core/testing/slot_index.h"
#include "recorder/debug_sink.h"
#include "recorder/device_setup.h"
#include "recorder/frame_allocator.h"
#include "recorder/video_params.h"

namespace korvela {
namespace {

using testing::FakeCameraChannel;
using testing::FakeChannelProbe;

class FakeIO final : public ipcapture::ICaptureIOApi {
 public:
  explicit FakeIO(bool* alive) : alive_(alive) { *alive_ = true; }
  ~FakeIO() override { *alive_ = false; }
  bool SetCallback(ipcapture::ICaptureIOCallback* cb) override { return cb != nullptr; }
  bool Start() override { return true; }
  bool Stop() override { return true; }
  uint32_t GetInputCount() override { return 0; }
  uint32_t GetOutputCount() override { return 0; }
  bool SetOutput(uint32_t, uint32_t) override { return false; }

 private:
  bool* alive_;
};

class NullZones final : public ipcapture::IPrivacyZones {
 public:
  void SetZones(ipcapture::IPrivacyZoneList*) override {}
  bool Apply() override { return true; }
};

struct Fixture {
  recorder::DeviceSetup setup;
  recorder::DebugSink sink;
  recorder::FrameAllocator allocator;
  std::optional<std::array<uint16_t, 4>> version = std::array<uint16_t, 4>{6, 3, 0, 0};
  DriverObjectFactory factory;
  std::vector<std::shared_ptr<FakeChannelProbe>> probes;
  int mjpeg_made = 0;
  int h264_made = 0;
  int zones_made = 0;

  Fixture() {
    setup.model = "IQ765";
    setup.address = "10.1.2.3";
    setup.port = 8080;
    setup.user_name = "admin";
    setup.password = "secret";
    setup.stream_type = ipcapture::kStreamMjpegHttp;
    recorder::DeviceSetup::FillReferenceParameters(setup.parameters);
    factory.mjpeg_channel = [this](IDriver*, uint32_t,
                                   ipcapture::IFrameReceiver*) -> ICameraChannel* {
      ++mjpeg_made;
      probes.push_back(std::make_shared<FakeChannelProbe>());
      return new FakeCameraChannel(probes.back());
    };
    factory.h264_channel = [this](IDriver*, uint32_t,
                                  ipcapture::IFrameReceiver*) -> ICameraChannel* {
      ++h264_made;
      return nullptr;
    };
    factory.privacy_zones = [this](IDriver*) -> ipcapture::IPrivacyZones* {
      ++zones_made;
      return new NullZones;
    };
  }

  std::unique_ptr<CQuarnoIPCaptureDriver> Make() {
    auto reader = [this](uint16_t out[4]) {
      if (!version) return false;
      for (int i = 0; i < 4; ++i) out[i] = (*version)[static_cast<size_t>(i)];
      return true;
    };
    return std::make_unique<CQuarnoIPCaptureDriver>(reader, factory);
  }

  bool Open(CQuarnoIPCaptureDriver& driver) { return driver.Open(&sink, &allocator, &setup); }
};

TEST(CIPCaptureDriver, OpenReadsTheSetupInItsOrder) {
  Fixture f;
  f.setup.parameters = {{1, "0"}, {2, "554"}, {3, "x"}, {5, "skipped: 4 is missing"}};
  auto driver = f.Make();
  ASSERT_TRUE(f.Open(*driver));
  EXPECT_THAT(f.setup.calls(),
              ::testing::ElementsAre(
                  "Setup.GetConnection", "Setup.GetDescription", "Connection.GetStreamType",
                  "Description.GetDigitalInputCount", "Description.GetDigitalOutputCount",
                  "Description.GetChannelCount", "Connection.GetAddress", "Connection.GetPort",
                  "Connection.GetUserName", "Connection.GetPassword", "Description.GetModel",
                  "Setup.GetParameter(1)", "Setup.GetParameter(2)", "Setup.GetParameter(3)",
                  "Setup.GetParameter(4)", "Setup.GetParameter(101)", "Setup.GetParameter(102)"));
  EXPECT_EQ(driver->GetParameter(5), "");  // after the first gap nothing is read
}

TEST(CIPCaptureDriver, OpenFixesTheDeviceDescriptionAndLogsOpened) {
  Fixture f;
  f.setup.channel_count = 2;
  f.setup.input_count = 1;
  f.setup.output_count = 3;
  f.setup.parameters[1] = "+7";
  auto driver = f.Make();
  ASSERT_TRUE(f.Open(*driver));

  // The connection fields reach the camera in every integration test.
  EXPECT_EQ(driver->GetDeviceInfo()->connect_timeout_ms, 5000u);
  EXPECT_EQ(driver->GetDeviceInfo()->receive_timeout_ms, 20000u);
  EXPECT_EQ(driver->GetChannelParameter(), 7u);
  EXPECT_EQ(driver->GetChannelCount(), 2u);
  EXPECT_EQ(driver->GetIOCount(), (std::pair<uint32_t, uint32_t>{1, 3}));
  EXPECT_EQ(driver->GetStreamType(), 1u);
  ASSERT_NE(driver->GetVideoCapture(), nullptr);
  EXPECT_EQ(driver->GetVideoCapture()->GetChannelCount(), 2u);

  auto lines = f.sink.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 100);
  EXPECT_EQ(lines[0].text,
            "DRIVER IS OPENED (name: Veltrano, device model: IQ765, address: 10.1.2.3:8080)");
}

TEST(CIPCaptureDriver, OpenedLineWithFirmwareAndRecorderTextThatIsNoFormat) {
  Fixture f;
  f.setup.parameters[4] = "4.2.1";
  f.setup.model = "IQ%s%n";
  auto driver = f.Make();
  ASSERT_TRUE(f.Open(*driver));
  EXPECT_TRUE(
      f.sink.Contains("DRIVER IS OPENED (name: Veltrano, device model: IQ%s%n, FW: 4.2.1, address: "
                      "10.1.2.3:8080)"));

  // Texts that came from a device cannot forge a second line.
  Fixture h;
  h.setup.parameters[4] = "4.2.1\r\nkorvela::X: Camera 10.1.2.3 is online\x1b[2J";
  auto forged = h.Make();
  ASSERT_TRUE(h.Open(*forged));
  EXPECT_TRUE(
      h.sink.Contains("DRIVER IS OPENED (name: Veltrano, device model: IQ765, FW: "
                      "4.2.1??korvela::X: Camera 10.1.2.3 is online?[2J, address: 10.1.2.3:8080)"));

  Fixture g;
  g.setup.model = "";
  auto quiet = g.Make();
  quiet->Message(1, "%s: lost", "korvela::T::U");  // before Open: no sink yet
  ASSERT_TRUE(g.Open(*quiet));
  EXPECT_EQ(g.sink.total(), 0u);  // no model, no line
}

// The full version-to-level table is LogDispatcher's; here the driver's part:
// it reads the version at Open and lets the dispatcher map every line.
TEST(CIPCaptureDriver, RecorderVersionReadAtOpenDecidesTheLevels) {
  const struct {
    std::optional<std::array<uint16_t, 4>> version;
    uint8_t opened_level;
    uint8_t state_level;
  } cases[] = {
      {std::array<uint16_t, 4>{5, 11, 9, 9}, 2, 2},
      {std::array<uint16_t, 4>{6, 3, 0, 0}, 100, 3},
      {std::nullopt, 3, 3},  // unreadable: taken as 5.12
  };
  for (const auto& c : cases) {
    Fixture f;
    f.version = c.version;
    auto driver = f.Make();
    ASSERT_TRUE(f.Open(*driver));
    driver->Message(3, "%s: %s is online", "korvela::T::U", "Camera x");
    auto lines = f.sink.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, c.opened_level);
    EXPECT_EQ(lines[1].level, c.state_level);
    if (!c.version) {
      EXPECT_EQ(driver->recorder_version(), (std::array<uint16_t, 4>{5, 12, 0, 0}));
    }
  }
}

TEST(CIPCaptureDriver, ParameterOneMustBeANumber) {
  // What counts as a number is ParseParameterNumber's (camera_parameters_test).
  for (const char* bad : {"(none)", "5a", static_cast<const char*>(nullptr)}) {
    Fixture f;
    if (bad)
      f.setup.parameters[1] = bad;
    else
      f.setup.parameters.erase(1);
    auto driver = f.Make();
    EXPECT_FALSE(f.Open(*driver)) << (bad ? bad : "missing");
    EXPECT_EQ(f.sink.total(), 0u);
  }
}

TEST(CIPCaptureDriver, PrivacyZonesByParameterSeven) {
  struct Case {
    std::optional<std::string> text;
    bool created;
  };
  const Case cases[] = {{"1", true},       {"01", true},          {"+1", true},
                        {"1x", false},     {"4294967297", false},  // atoi read it as 1
                        {"yes", false},    {"0", false},          {"2", false},
                        {"(none)", false}, {std::nullopt, false}};
  for (const auto& c : cases) {
    Fixture f;
    if (c.text)
      f.setup.parameters[7] = *c.text;
    else
      f.setup.parameters.erase(7), f.setup.parameters.erase(8);
    auto driver = f.Make();
    ASSERT_TRUE(f.Open(*driver));
    EXPECT_EQ(driver->GetPrivacyZones() != nullptr, c.created) << c.text.value_or("missing");
    EXPECT_EQ(f.zones_made, c.created ? 1 : 0);
    // Reopening keeps the one object.
    ASSERT_TRUE(f.Open(*driver));
    EXPECT_EQ(f.zones_made, c.created ? 1 : 0);
  }
}

TEST(CIPCaptureDriver, AudioStep) {
  struct Case {
    const char* input;   // parameter 101, null = absent
    const char* output;  // parameter 102
    bool opens;
    bool capture;
    bool sender;
  };
  const Case cases[] = {
      {nullptr, nullptr, true, false, false},
      {"Count=0; IsStereo=0", nullptr, false, false, false},
      {"Count=2", nullptr, false, false, false},  // stereo field missing: count 0
      {"Count=2; IsStereo=1", nullptr, true, true, false},
      {nullptr, "Count=1; IsStereo=0", true, false, true},
      {"", "Count=1; IsStereo=0", true, false, true},
      {"Count=1; IsStereo=0", "Count=1; IsStereo=0", true, true, true},
      {"(none)", "(none)", false, false, false},
  };
  for (const auto& c : cases) {
    Fixture f;
    // Parameters 9..100 are absent, so 101/102 are read only by the audio step.
    if (c.input) f.setup.parameters[101] = c.input;
    if (c.output) f.setup.parameters[102] = c.output;
    auto driver = f.Make();
    EXPECT_EQ(f.Open(*driver), c.opens)
        << (c.input ? c.input : "-") << " / " << (c.output ? c.output : "-");
    EXPECT_EQ(driver->GetAudioCapture2() != nullptr, c.capture);
    EXPECT_EQ(driver->GetAudioSender() != nullptr, c.sender);
  }
}

TEST(CIPCaptureDriver, AudioInputLimitIsTheAnnouncedCount) {
  Fixture f;
  f.setup.parameters[101] = "Count=1; IsStereo=0";
  int made = 0;
  f.factory.audio_input_channel = [&](IDriver*, uint32_t, uint32_t, ipcapture::IAudioCallback*,
                                      ipcapture::IAudioFormatList*) -> IAudioInputChannel* {
    ++made;
    return nullptr;  // creation fails: OpenChannel reports false
  };
  auto driver = f.Make();
  ASSERT_TRUE(f.Open(*driver));
  EXPECT_FALSE(driver->GetAudioCapture2()->OpenChannel(0, 0, nullptr, nullptr));
  EXPECT_EQ(made, 1);
}

TEST(CIPCaptureDriver, VideoChannelsByStreamType) {
  for (uint32_t type : {0u, 1u, 2u, 3u, 4u}) {
    Fixture f;
    f.setup.stream_type = type;
    auto driver = f.Make();
    ASSERT_TRUE(f.Open(*driver));
    ICameraChannel* channel = driver->CreateVideoChannel(0, nullptr);
    EXPECT_EQ(channel != nullptr, type == 1) << type;
    EXPECT_EQ(f.mjpeg_made, type == 1 ? 1 : 0);
    EXPECT_EQ(f.h264_made, type == 3 ? 1 : 0);
    delete channel;
  }
}

TEST(CIPCaptureDriver, DeletingAnOpenDriverStopsEveryChannel) {
  Fixture f;
  f.setup.channel_count = 2;
  auto driver = f.Make();
  ASSERT_TRUE(f.Open(*driver));
  recorder::VideoParams params(10, 50, 640, 480);
  ASSERT_TRUE(driver->GetVideoCapture()->StartChannel(0, nullptr, &params));
  ASSERT_TRUE(driver->GetVideoCapture()->StartChannel(1, nullptr, &params));
  ASSERT_EQ(f.probes.size(), 2u);
  driver.reset();
  for (const auto& probe : f.probes) {
    EXPECT_EQ(probe->stops, 1);
    EXPECT_FALSE(probe->alive);
  }
}

TEST(CIPCaptureDriver, CloseDeletesTheOwnedObjectsAndReopenWorks) {
  Fixture f;
  bool io_alive = false;
  f.factory.digital_io = [&](IDriver*) -> ipcapture::ICaptureIOApi* {
    return new FakeIO(&io_alive);
  };
  f.setup.parameters[102] = "Count=1; IsStereo=0";
  auto driver = f.Make();
  ASSERT_TRUE(f.Open(*driver));
  EXPECT_TRUE(io_alive);
  EXPECT_NE(driver->GetIO(), nullptr);
  recorder::VideoParams params;
  ASSERT_TRUE(driver->GetVideoCapture()->StartChannel(0, nullptr, &params));

  ASSERT_TRUE(f.Open(*driver));  // reopening closes first: nothing leaks
  EXPECT_FALSE(f.probes.at(0)->alive);
  EXPECT_TRUE(io_alive);  // a new one

  driver->Close();
  EXPECT_FALSE(io_alive);
  EXPECT_EQ(driver->GetVideoCapture(), nullptr);
  EXPECT_EQ(driver->GetAudioSender(), nullptr);
  EXPECT_EQ(driver->GetIO(), nullptr);
  EXPECT_EQ(driver->GetDeviceInfo()->address, "10.1.2.3");  // the description stays
  EXPECT_EQ(driver->GetParameter(2), "554");
}

TEST(CIPCaptureDriver, DigitalIOThatCannotBeMadeFailsOpen) {
  Fixture f;
  f.factory.digital_io = [](IDriver*) -> ipcapture::ICaptureIOApi* { return nullptr; };
  auto driver = f.Make();
  EXPECT_FALSE(f.Open(*driver));
  EXPECT_NE(driver->GetVideoCapture(), nullptr);  // made before the failure; stays until Close
}

TEST(CIPCaptureDriver, RefusesWhatARecorderCannotMean) {
  Fixture f;
  auto driver = f.Make();
  EXPECT_FALSE(driver->Open(&f.sink, &f.allocator, nullptr));
  f.setup.channel_count = CIPCaptureDriver::kMaxVideoInputs + 1;
  EXPECT_FALSE(f.Open(*driver));
  EXPECT_TRUE(f.sink.Contains("more than"));
  f.setup.channel_count = CIPCaptureDriver::kMaxVideoInputs;
  EXPECT_TRUE(f.Open(*driver));
}

TEST(CIPCaptureDriver, ClassSlotsFollowThePrimaryInterface) {
  EXPECT_SLOTS(CIPCaptureDriver, Open, Close, GetVideoCapture, GetIO, Reserved5, GetAudioCapture,
               Reserved7, Reserved8, GetAudioCaptureEx, GetAudioCapture2, GetAudioSender, CreateIO,
               CheckDevice, CreatePrivacyZones, LogOpened);
}

}  // namespace
}  // namespace korvela
