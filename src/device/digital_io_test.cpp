#include "device/digital_io.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/testing/fake_driver.h"
#include "device/digital_io_test_callback.h"
#include "platform/testing/scripted_server.h"

namespace korvela {
namespace {

using testing::FakeDriver;
using testing::HangAfterRequest;
using testing::HttpReply;
using testing::HttpReplyThenClose;
using testing::HttpResponse;
using testing::IoCallbackRecorder;
using testing::OidResponse;
using testing::ScriptedServer;
using testing::ScriptStep;

constexpr uint32_t kWaitMs = 20'000;  // bound for a correct build on a busy machine

struct Camera {
  Camera(uint32_t inputs, uint32_t outputs) {
    driver.device.address = "127.0.0.1";
    driver.device.port = server.port();
    driver.device.connect_timeout_ms = 2000;
    driver.input_count = inputs;
    driver.output_count = outputs;
  }
  ScriptedServer server;
  FakeDriver driver;
  IoCallbackRecorder callback;
};

std::unique_ptr<CQuarnoDigitalIO> MakeIO(Camera& camera, uint32_t poll_ms = 10) {
  auto io = std::make_unique<CQuarnoDigitalIO>(&camera.driver);
  io->SetPollPeriod(poll_ms);
  io->SetCallback(&camera.callback);
  return io;
}

TEST(QuarnoDigitalIOTest, InputOpenClosedThenLostIsReportedEveryPoll) {
  Camera camera(1, 0);
  ASSERT_TRUE(camera.server.ok());
  // One keep-alive connection answers four polls, then the camera is gone:
  // later connections are closed at once.
  camera.server.AddConnection({HttpReply(OidResponse("OPEN")), HttpReply(OidResponse("OPEN")),
                               HttpReply(OidResponse("CLOSED")),
                               HttpReplyThenClose(OidResponse("CLOSED"))});
  auto io = MakeIO(camera);
  ASSERT_TRUE(io->Start());
  ASSERT_TRUE(camera.callback.WaitFor(6));
  EXPECT_TRUE(io->Stop());

  const auto events = camera.callback.Events();
  ASSERT_GE(events.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 6),
            (std::vector<std::string>{"in0=1", "in0=2", "in0=0", "error", "error", "error"}));
  for (size_t i = 3; i < events.size(); ++i) EXPECT_EQ(events[i], "error");
  const auto targets = camera.server.Targets();
  ASSERT_GE(targets.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(targets[i], "/get.oid?1.3.15");
  EXPECT_EQ(io->InputState(0), 0u);  // reset by Stop
}

TEST(QuarnoDigitalIOTest, StartAfterStopPollsTheCameraAgain) {
  Camera camera(1, 0);
  camera.server.AddConnection({HttpReply(OidResponse("OPEN")), HttpReply(OidResponse("OPEN"))});
  camera.server.AddConnection({HttpReply(OidResponse("OPEN"))});
  auto io = MakeIO(camera, 60'000);  // one poll per start
  ASSERT_TRUE(io->Start());
  ASSERT_TRUE(camera.callback.WaitFor(1));
  EXPECT_TRUE(io->Stop());
  // Stop reset the input; the first poll after the new start reports it again.
  ASSERT_TRUE(io->Start());
  ASSERT_TRUE(camera.callback.WaitFor(2));
  EXPECT_TRUE(io->Stop());
  EXPECT_EQ(camera.callback.Events(), (std::vector<std::string>{"in0=1", "in0=1"}));
}

TEST(QuarnoDigitalIOTest, ErrorStatusIsAFailedPollWhateverTheBody) {
  Camera camera(1, 0);
  camera.server.AddConnection({HttpReply(HttpResponse("<xmp>OPEN</xmp>", "404 Not Found"))});
  auto io = MakeIO(camera, 60'000);
  ASSERT_TRUE(io->Start());
  ASSERT_TRUE(camera.callback.WaitFor(1));
  io->Stop();
  // The state was already 0: no change, only the device error.
  EXPECT_EQ(camera.callback.Events(), (std::vector<std::string>{"error"}));
}

// Which commands are written is CIOBase's (io_base_test); here the requests
// and a refusal as the camera gives it.
TEST(QuarnoDigitalIOTest, OutputWritesAndARefusalAsADeviceError) {
  Camera camera(0, 1);
  camera.server.AddConnection({HttpReply(HttpResponse("denied", "403 Forbidden")),
                               HttpReply(OidResponse("OK")), HttpReply(OidResponse("OK"))});
  auto io = MakeIO(camera);
  ASSERT_TRUE(io->Start());
  io->SetOutput(0, 0);
  ASSERT_TRUE(camera.callback.WaitFor(1));
  EXPECT_EQ(camera.callback.Events(), (std::vector<std::string>{"error"}));
  io->SetOutput(0, 0);  // the state is unknown after the failure: written again
  io->SetOutput(0, 1);
  ASSERT_TRUE(camera.server.WaitForRequests(3, kWaitMs));
  EXPECT_TRUE(io->Stop());
  EXPECT_EQ(camera.server.Targets(), (std::vector<std::string>{"/set.oid?OidTR1.3.5.1=CLOSED",
                                                               "/set.oid?OidTR1.3.5.1=CLOSED",
                                                               "/set.oid?OidTR1.3.5.1=OPEN"}));
  EXPECT_EQ(camera.callback.Events().size(), 1u);
}

TEST(QuarnoDigitalIOTest, OnlyOutputZeroExists) {
  Camera camera(0, 2);
  auto io = MakeIO(camera);
  ASSERT_TRUE(io->Start());
  io->SetOutput(1, 0);
  ASSERT_TRUE(camera.callback.WaitFor(1));
  io->Stop();
  EXPECT_EQ(camera.callback.Events(), (std::vector<std::string>{"error"}));
  EXPECT_EQ(camera.server.AcceptedConnections(), 0u);
}

TEST(QuarnoDigitalIOTest, StopCutsAPollTheCameraNeverAnswers) {
  Camera camera(1, 0);
  camera.driver.device.connect_timeout_ms = 600'000;
  camera.server.AddConnection({HttpReply(OidResponse("OPEN")), HangAfterRequest()});
  auto io = MakeIO(camera);
  ASSERT_TRUE(io->Start());
  ASSERT_TRUE(camera.server.WaitForRequests(2, kWaitMs));  // the second poll is now blocked
  EXPECT_TRUE(io->Stop());
  // Without the abort, the join would wait for the 10-minute time-out and
  // log that the thread did not stop in time.
  EXPECT_FALSE(camera.driver.log.Contains("was not stopped during"));
  // The poll our own stop cut short is neither a change nor a device error.
  EXPECT_EQ(camera.callback.Events(), (std::vector<std::string>{"in0=1"}));
}

}  // namespace
}  // namespace korvela
