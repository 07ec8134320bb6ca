// One simulated camera in this process (Digest login, root/system) and a
// fake driver pointed at it, with the recorder's frame allocator: the set-up
// of the load tools that run the simulator in-process. Exits when the
// simulator does not start.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "camsim/camsim.h"
#include "core/testing/fake_driver.h"
#include "recorder/frame_allocator.h"

namespace korvela::bench {

template <typename Driver = testing::FakeDriver>
struct SimulatedCamera {
  explicit SimulatedCamera(const std::string& model) {
    camsim::SimulatorOptions options;
    options.camera.model = model;
    options.camera.auth = camsim::AuthMode::kDigest;
    std::string error;
    sim = camsim::Simulator::Start(options, &error);
    if (!sim) {
      std::fprintf(stderr, "camsim: %s\n", error.c_str());
      std::exit(1);
    }
    driver.device.address = "127.0.0.1";
    driver.device.port = camera().http_port();
    driver.device.user_name = "root";
    driver.device.password = "system";
    driver.device.model = model;
    driver.device.receive_timeout_ms = 20000;
    driver.SetParameter(2, std::to_string(camera().rtsp_port()));
    driver.allocator = &allocator;
  }
  camsim::Camera& camera() { return sim->camera(0); }

  std::unique_ptr<camsim::Simulator> sim;
  Driver driver;
  recorder::FrameAllocator allocator;
};

}  // namespace korvela::bench
