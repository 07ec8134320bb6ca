// One simulated camera and libveltrano.so loaded and opened on it through its
// exports, as a recorder does it. A test starts the simulator, adjusts
// `setup` and opens the driver.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "camsim/camsim.h"
#include "recorder/debug_sink.h"
#include "recorder/device_setup.h"
#include "recorder/driver_library.h"
#include "recorder/frame_allocator.h"

namespace korvela::testing {

struct SimDriverFixture : ::testing::Test {
  // The reference parameters, the simulator's address and its credentials.
  void StartCamera(const std::string& model, camsim::AuthMode auth) {
    camsim::SimulatorOptions options;
    options.camera.model = model;
    options.camera.auth = auth;
    std::string error;
    sim = camsim::Simulator::Start(options, &error);
    ASSERT_NE(sim, nullptr) << error;
    ASSERT_TRUE(library.Load()) << library.error();
    setup.model = model;
    setup.address = "127.0.0.1";
    setup.port = camera().http_port();
    setup.user_name = "root";
    setup.password = "system";
    recorder::DeviceSetup::FillReferenceParameters(setup.parameters);
  }

  bool OpenDriver() {
    driver = std::make_unique<recorder::DriverHandle>(library.exports());
    return *driver && (*driver)->Open(&sink, &allocator, &setup);
  }

  // Opens the driver and takes its video capture object.
  void OpenVideo() {
    ASSERT_TRUE(OpenDriver());
    video = (*driver)->GetVideoCapture();
    ASSERT_NE(video, nullptr);
  }

  // Input 0's status as the recorder reads it.
  uint32_t VideoState() {
    uint32_t status = 99, code = 0;
    char text[64];
    EXPECT_TRUE(video->GetChannelState(0, &status, &code, text, sizeof(text)));
    return status;
  }

  void TearDown() override {
    driver.reset();  // stops the channels before the recorder objects and the camera go
    sim.reset();
  }

  camsim::Camera& camera() { return sim->camera(0); }

  std::unique_ptr<camsim::Simulator> sim;
  recorder::DriverLibrary library;
  recorder::DebugSink sink;
  recorder::FrameAllocator allocator;
  recorder::DeviceSetup setup;
  std::unique_ptr<recorder::DriverHandle> driver;
  ipcapture::IIPVideoCapture* video = nullptr;  // after OpenVideo()
};

}  // namespace korvela::testing
