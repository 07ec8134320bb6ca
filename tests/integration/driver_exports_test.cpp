// libveltrano.so as a recorder sees it: loaded with dlopen, exactly the
// sixteen exports, every create/delete pairing, and an Open whose log line
// reaches the recorder's sink at the level its core version asks for.
#include <cstdio>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "cli/host.h"
#include "recorder/core_version.h"
#include "recorder/debug_sink.h"
#include "recorder/device_setup.h"
#include "recorder/driver_library.h"
#include "recorder/frame_allocator.h"
#include "recorder/video_params.h"

namespace korvela::recorder {
namespace {

using namespace std::chrono_literals;

// The defined symbols of a shared object's dynamic symbol table, as
// `nm -D --defined-only` lists them (binutils comes with the toolchain).
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::set<std::string> names;
  FILE* nm = ::popen(("nm -D --defined-only '" + path + "'").c_str(), "r");
  if (nm == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    std::string text(line);
    text.erase(text.find_last_not_of("\r\n") + 1);
    names.insert(text.substr(text.rfind(' ') + 1));
  }
  ::pclose(nm);
  return names;
}

class DriverLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.Load()) << library_.error();
    SetRecorderCoreVersion(kReferenceCoreVersion);
  }
  void TearDown() override { SetRecorderCoreVersion(kReferenceCoreVersion); }

  DriverLibrary library_;
};

TEST_F(DriverLibraryTest, ExportsExactlyTheSixteenFunctions) {
  const auto& names = DriverLibrary::ExportNames();
  for (const auto& name : names) EXPECT_NE(library_.Symbol(name.c_str()), nullptr) << name;
  const std::set<std::string> expected(names.begin(), names.end());
  EXPECT_EQ(DefinedDynamicSymbols(library_.path()), expected);
  // Nothing of the inside is reachable, e.g. the driver class's vtable.
  EXPECT_EQ(library_.Symbol("_ZTVN7korvela22CQuarnoIPCaptureDriverE"), nullptr);
}

TEST_F(DriverLibraryTest, EveryCreateFunctionPairsWithEveryDeleteFunction) {
  for (int create = 0; create <= 4; ++create) {
    for (int destroy = 0; destroy <= 4; ++destroy) {
      DriverHandle driver(library_.exports(), create, destroy);
      ASSERT_TRUE(driver) << create;
      // A closed driver has nothing yet.
      EXPECT_EQ(driver->GetVideoCapture(), nullptr);
      EXPECT_EQ(driver->GetAudioCapture2(), nullptr);
    }
  }
  library_.exports().DeleteIPCapture(nullptr);  // ignored
  library_.exports().DeleteIPCaptureEx4(nullptr);
}

TEST_F(DriverLibraryTest, OpenReportsDriverIsOpenedToTheSink) {
  DebugSink sink;
  FrameAllocator allocator;
  DeviceSetup setup;
  setup.model = "IQ765";
  setup.address = "127.0.0.1";
  setup.port = 8080;
  setup.stream_type = 2;  // no channel class: StartChannel starts nothing
  DeviceSetup::FillReferenceParameters(setup.parameters);

  DriverHandle driver(library_.exports());
  ASSERT_TRUE(driver);
  ASSERT_TRUE(driver->Open(&sink, &allocator, &setup));
  ASSERT_TRUE(sink.WaitFor("DRIVER IS OPENED", 5s));  // its text is the driver's unit test's
  EXPECT_EQ(sink.LevelOf("DRIVER IS OPENED"), 100);

  ipcapture::IIPVideoCapture* video = driver->GetVideoCapture();
  ASSERT_NE(video, nullptr);
  VideoParams params(10, 50, 640, 480);
  EXPECT_TRUE(video->StartChannel(0, nullptr, &params));
  uint32_t status = 0;
  EXPECT_FALSE(video->GetChannelState(0, &status, nullptr, nullptr, 0));
  EXPECT_FALSE(video->StartChannel(1, nullptr, &params));  // one input only
  driver.Reset();                                          // deleting an open driver closes it
  EXPECT_EQ(allocator.live_video(), 0u);
}

TEST(CliHost, OpensWithTheUsersParametersOverTheReferenceOnes) {
  veltrano_cli::CliHost host;
  veltrano_cli::DeviceOptions options;
  options.host = "127.0.0.1";
  options.port = 8081;
  options.params = {{4, "9.9"}};
  std::string error;
  ASSERT_TRUE(host.Open(options, 2, "IQ765", &error)) << error;
  EXPECT_TRUE(host.sink().Contains("FW: 9.9, address: 127.0.0.1:8081)"));
  EXPECT_EQ(host.setup().parameters.at(6), "1280x1024");  // reference value kept
  host.Close();
  EXPECT_EQ(host.driver(), nullptr);

  options.params = {{1, "x"}};
  EXPECT_FALSE(host.Open(options, 2, "IQ765", &error));
  EXPECT_NE(error.find("refused to open"), std::string::npos);
}

}  // namespace
}  // namespace korvela::recorder
