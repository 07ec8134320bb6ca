// Motion-JPEG recording through libveltrano.so's exports against the camera
// simulator: the pictures the simulator pushes arrive once each, intact and
// in order; the OID writes come in the order the channel makes them; a
// simulator restart is survived; stopping ends the channel at once.
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "camsim/camsim.h"
#include "recorder/debug_sink.h"
#include "recorder/device_setup.h"
#include "recorder/driver_library.h"
#include "recorder/frame_allocator.h"
#include "recorder/frame_receiver.h"
#include "recorder/video_params.h"

namespace {

using namespace std::chrono_literals;
using korvela::recorder::ReceivedFrame;
using Bytes = std::vector<uint8_t>;

Bytes ReadSample(const std::string& name) {
  std::ifstream in(std::string(KORVELA_TESTDATA_DIR) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One simulated camera and one driver opened on it through the exports, the
// way a recorder does it.
struct RecordFixture : ::testing::Test {
  void SetUp() override {
    camsim::SimulatorOptions options;
    options.camera.model = "IQ042";
    std::string error;
    sim = camsim::Simulator::Start(options, &error);
    ASSERT_TRUE(sim) << error;
    ASSERT_TRUE(library.Load()) << library.error();

    setup.model = "IQ042";
    setup.address = "127.0.0.1";
    setup.port = camera().http_port();
    setup.user_name = "root";
    setup.password = "system";
    setup.stream_type = korvela::ipcapture::kStreamMjpegHttp;
    korvela::recorder::DeviceSetup::FillReferenceParameters(setup.parameters);
    setup.parameters[3] = "0";          // camera group 0: cropping window and ds
    setup.parameters[6] = "1280x1024";  // sensor size
    driver = std::make_unique<korvela::recorder::DriverHandle>(library.exports());
    ASSERT_TRUE(*driver);
    ASSERT_TRUE((*driver)->Open(&sink, &allocator, &setup));
    video = (*driver)->GetVideoCapture();
    ASSERT_NE(video, nullptr);
  }

  void TearDown() override {
    driver.reset();  // stops the channels before the recorder objects go
    sim.reset();
  }

  camsim::Camera& camera() { return sim->camera(0); }

  uint32_t State() {
    uint32_t status = 99, code = 0;
    char text[64];
    EXPECT_TRUE(video->GetChannelState(0, &status, &code, text, sizeof(text)));
    return status;
  }

  size_t StreamRequests() {
    size_t n = 0;
    for (const auto& r : camera().http_requests()) n += r.target.starts_with("/now.jpg") ? 1 : 0;
    return n;
  }

  std::unique_ptr<camsim::Simulator> sim;
  korvela::recorder::DriverLibrary library;
  korvela::recorder::DebugSink sink;
  korvela::recorder::FrameAllocator allocator;
  korvela::recorder::DeviceSetup setup;
  korvela::recorder::FrameReceiver receiver{/*keep=*/100000};
  std::unique_ptr<korvela::recorder::DriverHandle> driver;
  korvela::ipcapture::IIPVideoCapture* video = nullptr;
};

TEST_F(RecordFixture, EveryPushedPictureArrivesOnceIntactAndInOrder) {
  const std::vector<Bytes> samples = {ReadSample("jpeg_640x480_1.jpg"),
                                      ReadSample("jpeg_640x480_2.jpg"),
                                      ReadSample("jpeg_640x480_3.jpg")};
  ASSERT_FALSE(samples[0].empty());
  korvela::recorder::VideoParams params(25, 50, 640, 480);
  ASSERT_TRUE(video->StartChannel(0, &receiver, &params));
  ASSERT_TRUE(receiver.WaitForFrames(60, 20s));
  EXPECT_EQ(State(), 0u);
  ASSERT_TRUE(video->StopChannel(0));

  const auto frames = receiver.Frames();
  const uint64_t pushed = camera().counters().jpeg_frames_sent;
  // One connection all along; the simulator starts it with its first sample
  // and cycles through the three. Only a picture in flight at the stop may be
  // missing.
  EXPECT_EQ(StreamRequests(), 1u);
  EXPECT_GE(frames.size() + 1, pushed);
  EXPECT_LE(frames.size(), pushed);
  for (size_t i = 0; i < frames.size(); ++i) {
    const ReceivedFrame& f = frames[i];
    ASSERT_EQ(f.data, samples[i % 3]) << "frame " << i;
    EXPECT_EQ(f.compression, korvela::ipcapture::kCompressionJpeg);
    EXPECT_EQ(f.width, 640u);
    EXPECT_EQ(f.height, 480u);
    EXPECT_EQ(f.resolution_class, 4u);
    EXPECT_TRUE(f.time_was_now);
    EXPECT_EQ(f.source, "Veltrano");
  }
  EXPECT_EQ(allocator.live_video(), 0u);  // every record released
  EXPECT_EQ(sink.Count("Camera 127.0.0.1 is online"), 1u);
  EXPECT_EQ(sink.Count("Camera 127.0.0.1 is offline. Channel was stopped"), 1u);
}

TEST_F(RecordFixture, CameraIsConfiguredInOrderBeforeTheStreamOpens) {
  korvela::recorder::VideoParams params(25, 50, 640, 480);
  ASSERT_TRUE(video->StartChannel(0, &receiver, &params));
  ASSERT_TRUE(receiver.WaitForFrames(1, 20s));
  ASSERT_TRUE(video->StopChannel(0));
  // The simulator records a push request once it has handed the connection to
  // its pump, which may be after the first picture went out.
  EXPECT_TRUE(camera().WaitUntil([&] { return StreamRequests() >= 1; }, 10s));

  std::vector<std::string> writes;
  for (const auto& w : camera().oid_writes()) writes.push_back(w.oid + "=" + w.value);
  ASSERT_GE(writes.size(), 7u);
  EXPECT_THAT(std::vector<std::string>(writes.begin(), writes.begin() + 7),
              ::testing::ElementsAre("1.2.6.1=0", "1.2.6.4=0", "1.2.6.2=1280", "1.2.6.3=1024",
                                     "1.2.7=58", "1.2.31=40", "1.17.2.19.3.2=40"));
  std::vector<std::string> targets;
  for (const auto& r : camera().http_requests()) targets.push_back(r.target);
  EXPECT_THAT(targets, ::testing::Contains("/now.jpg?snap=spush0.03&ds=2"));
}

TEST_F(RecordFixture, SimulatorRestartIsSurvived) {
  korvela::recorder::VideoParams params(25, 50, 640, 480);
  ASSERT_TRUE(video->StartChannel(0, &receiver, &params));
  ASSERT_TRUE(receiver.WaitForFrames(10, 20s));
  camera().InjectFault({camsim::Fault::Kind::kRestart, 500});
  const size_t before = receiver.frame_count();
  // The channel reconnects on its own once the simulator is back.
  ASSERT_TRUE(camera().WaitUntil([&] { return StreamRequests() >= 2; }, 30s));
  EXPECT_TRUE(receiver.WaitForFrames(before + 20, 30s));
  EXPECT_EQ(State(), 0u);
  EXPECT_EQ(receiver.signal_lost_count(), 0u);
  ASSERT_TRUE(video->StopChannel(0));
  for (const auto& f : receiver.Frames()) ASSERT_EQ(f.width, 640u);
}

TEST_F(RecordFixture, StopDuringABlockedReadReturnsAtOnce) {
  korvela::recorder::VideoParams params(25, 50, 640, 480);
  ASSERT_TRUE(video->StartChannel(0, &receiver, &params));
  ASSERT_TRUE(receiver.WaitForFrames(3, 20s));
  // The connection stays open but nothing more comes: the worker blocks in a
  // read that only the read time-out (5 s) would end.
  camera().InjectFault({camsim::Fault::Kind::kStopMedia, 0});
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(video->StopChannel(0));
  const auto took = std::chrono::steady_clock::now() - start;
  // Far below the read time-out: the stop closed the request.
  EXPECT_LT(took, 4s);
  EXPECT_FALSE(sink.Contains("was not stopped during"));
}

}  // namespace
