// Motion-JPEG recording through libveltrano.so's exports against the camera
// simulator: the pictures the simulator pushes arrive once each, intact and
// in order, with every setting taken; a simulator restart is survived;
// stopping ends the channel at once.
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/frame_receiver.h"
#include "recorder/video_params.h"
#include "sim_driver_fixture.h"

namespace {

using namespace std::chrono_literals;
using korvela::recorder::ReceivedFrame;
using Bytes = std::vector<uint8_t>;

Bytes ReadSample(const std::string& name) {
  std::ifstream in(std::string(KORVELA_TESTDATA_DIR) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct RecordFixture : korvela::testing::SimDriverFixture {
  void SetUp() override {
    StartCamera("IQ042", camsim::AuthMode::kDigest);
    setup.stream_type = korvela::ipcapture::kStreamMjpegHttp;
    setup.parameters[3] = "0";          // camera group 0: cropping window and ds
    setup.parameters[6] = "1280x1024";  // sensor size
    ASSERT_NO_FATAL_FAILURE(OpenVideo());
  }

  size_t StreamRequests() {
    size_t n = 0;
    for (const auto& r : camera().http_requests()) n += r.target.starts_with("/now.jpg") ? 1 : 0;
    return n;
  }

  korvela::recorder::FrameReceiver receiver{/*keep=*/100000};
};

TEST_F(RecordFixture, EveryPushedPictureArrivesOnceIntactAndInOrder) {
  const std::vector<Bytes> samples = {ReadSample("jpeg_640x480_1.jpg"),
                                      ReadSample("jpeg_640x480_2.jpg"),
                                      ReadSample("jpeg_640x480_3.jpg")};
  ASSERT_FALSE(samples[0].empty());
  korvela::recorder::VideoParams params(25, 50, 640, 480);
  ASSERT_TRUE(video->StartChannel(0, &receiver, &params));
  ASSERT_TRUE(receiver.WaitForFrames(60, 20s));
  EXPECT_EQ(VideoState(), 0u);
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
  // The camera took every setting the channel wrote (their order is the
  // channel's unit tests').
  EXPECT_FALSE(camera().oid_writes().empty());
  for (const auto& w : camera().oid_writes()) EXPECT_TRUE(w.accepted) << w.oid << "=" << w.value;
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
  EXPECT_EQ(VideoState(), 0u);
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
