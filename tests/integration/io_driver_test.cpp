// Digital I/O and privacy zones end to end: libveltrano.so loaded as a
// recorder loads it, opened against the camera simulator on loopback.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/frame_receiver.h"
#include "recorder/io_host.h"
#include "recorder/video_params.h"
#include "sim_driver_fixture.h"

namespace {

using namespace std::chrono_literals;
using korvela::recorder::IoEvent;

// Generous bounds for a loaded 2-core machine; the input is polled every 2 s.
constexpr auto kWait = 20s;

bool HasWrite(const camsim::Camera& camera, const std::string& oid, const std::string& value) {
  for (const auto& w : camera.oid_writes())
    if (w.oid == oid && w.value == value && w.accepted) return true;
  return false;
}

std::vector<std::string> Describe(const std::vector<IoEvent>& events) {
  std::vector<std::string> out;
  for (const auto& e : events)
    out.push_back(e.kind == IoEvent::Kind::kDeviceError
                      ? "error"
                      : "in" + std::to_string(e.input) + "=" + std::to_string(e.state));
  return out;
}

struct IoDriverFixture : korvela::testing::SimDriverFixture {
  void SetUp() override {
    StartCamera("IQ765", camsim::AuthMode::kDigest);
    setup.input_count = 1;
    setup.output_count = 1;
    setup.parameters[7] = "1";  // privacy zones supported
  }
  korvela::recorder::IoHost events;
};

TEST_F(IoDriverFixture, InputChangesAndOutputWritesReachBothSides) {
  ASSERT_TRUE(OpenDriver());
  auto* io = (*driver)->GetIO();
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->GetInputCount(), 1u);
  EXPECT_EQ(io->GetOutputCount(), 1u);
  ASSERT_TRUE(io->SetCallback(&events));
  ASSERT_TRUE(io->Start());

  ASSERT_TRUE(events.WaitFor(1, kWait));  // first poll at once: open
  camera().SetDigitalInput(true);
  ASSERT_TRUE(events.WaitFor(2, kWait));  // next poll: closed

  EXPECT_TRUE(io->SetOutput(0, 0));
  EXPECT_TRUE(camera().WaitUntil([&] { return HasWrite(camera(), "1.3.5.1", "CLOSED"); }, kWait));
  EXPECT_EQ(camera().GetOid("1.3.5.1"), "CLOSED");
  EXPECT_TRUE(io->Stop());
  EXPECT_FALSE(io->SetOutput(0, 1));

  EXPECT_EQ(Describe(events.Take()), (std::vector<std::string>{"in0=1", "in0=2"}));
  // SetOutput(0, 1) after Start found the output open already: one write only.
  size_t output_writes = 0;
  for (const auto& w : camera().oid_writes()) output_writes += w.oid == "1.3.5.1";
  EXPECT_EQ(output_writes, 1u);
}

TEST_F(IoDriverFixture, PrivacyZonesAreWrittenBeforeTheStream) {
  ASSERT_TRUE(OpenDriver());
  auto* video = (*driver)->GetVideoCapture();
  ASSERT_NE(video, nullptr);
  korvela::recorder::FrameReceiver receiver;
  korvela::recorder::VideoParams params(10, 80, 640, 480);
  params.SetZones({{0, 0, 1, 10, 20, 50, 60}, {0, 0, 0, 1, 1, 2, 2}, {0, 0, 1, 0, 0, 100, 100}});
  ASSERT_TRUE(video->StartChannel(0, &receiver, &params));
  EXPECT_TRUE(
      camera().WaitUntil([&] { return HasWrite(camera(), "1.2.26.1.4.3", "1024"); }, kWait));
  video->StopChannel(0);

  // Masking on, zones 1 and 3 written (their pixel values are the zone
  // writer's unit tests'), the disabled zone 2 not.
  EXPECT_EQ(camera().GetOid("1.2.26.4"), "ON");
  EXPECT_TRUE(HasWrite(camera(), "1.2.26.1.1.1", "128"));
  for (const auto& w : camera().oid_writes())
    EXPECT_FALSE(w.oid.starts_with("1.2.26.1.") && w.oid.ends_with(".2"))
        << "disabled zone 2 was written: " << w.oid;
}

}  // namespace
