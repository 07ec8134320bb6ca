// H.264 recording through libveltrano.so's exports against the camera
// simulator: every access unit the simulator sends arrives in order, byte for
// byte the sample's unit plus the trailing 00 00 00 01 09, key frames flagged,
// with the picture size and a wall-clock time that follows the frames; the
// encoder settings go out in one write; a lossy network costs frames only
// until the next key frame; a simulator restart is survived; a stop during
// DESCRIBE returns at once.
#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "camsim/h264_clip.h"
#include "recorder/frame_receiver.h"
#include "recorder/video_params.h"
#include "recorder/wall_clock.h"
#include "sim_driver_fixture.h"

namespace {

using namespace std::chrono_literals;
using korvela::ipcapture::kCompressionH264;
using korvela::recorder::ReceivedFrame;
using Bytes = std::vector<uint8_t>;

// What the recorder must receive for each unit of the sample clip.
std::vector<Bytes> ExpectedUnits(const std::string& sample) {
  std::string error;
  const auto clip =
      camsim::H264Clip::Load(std::string(KORVELA_TESTDATA_DIR) + "/" + sample, &error);
  EXPECT_TRUE(clip.has_value()) << error;
  std::vector<Bytes> units;
  for (const camsim::AccessUnit& unit : clip ? clip->units() : std::vector<camsim::AccessUnit>{}) {
    Bytes bytes;
    for (const std::string& nal : unit.nal_units) {
      bytes.insert(bytes.end(), {0, 0, 1});
      bytes.insert(bytes.end(), nal.begin(), nal.end());
    }
    bytes.insert(bytes.end(), {0, 0, 0, 1, 9});
    units.push_back(std::move(bytes));
  }
  return units;
}

struct H264RecordFixture : korvela::testing::SimDriverFixture {
  void SetUp() override {
    StartCamera("IQ031", camsim::AuthMode::kDigest);
    setup.stream_type = korvela::ipcapture::kStreamH264Rtsp;
    setup.parameters[2] = std::to_string(camera().rtsp_port());
    setup.parameters[3] = "2";  // camera group 2: H.264 modes of table B
    ASSERT_NO_FATAL_FAILURE(OpenVideo());
  }

  bool Start() {
    korvela::recorder::VideoParams params(25, 50, 1280, 720);
    return video->StartChannel(0, &receiver, &params);
  }

  size_t Requests(const std::string& method) {
    const auto requests = camera().rtsp_requests();
    return std::count_if(requests.begin(), requests.end(),
                         [&](const auto& r) { return r.method == method; });
  }

  korvela::recorder::FrameReceiver receiver{/*keep=*/100000};
};

TEST_F(H264RecordFixture, EverySentAccessUnitArrivesIntactInOrderAndOnTime) {
  const std::vector<Bytes> units = ExpectedUnits("h264_1280x720.h264");
  ASSERT_EQ(units.size(), 50u);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(receiver.WaitForFrames(60, 30s));
  EXPECT_EQ(VideoState(), 0u);
  ASSERT_TRUE(video->StopChannel(0));
  const uint64_t wall_now = korvela::recorder::NowFileTime();
  const auto steady_now = std::chrono::steady_clock::now();

  const auto frames = receiver.Frames();
  const uint64_t sent = camera().counters().video_access_units_sent;
  // One session; it starts at the clip's first unit (a key frame). Only units
  // in flight at the stop may be missing.
  EXPECT_EQ(Requests("PLAY"), 1u);
  EXPECT_LE(frames.size(), sent);
  EXPECT_GE(frames.size() + 2, sent);
  for (size_t i = 0; i < frames.size(); ++i) {
    const ReceivedFrame& f = frames[i];
    ASSERT_EQ(f.data, units[i % units.size()]) << "frame " << i;
    EXPECT_EQ(f.compression == kCompressionH264, i % 25 == 0) << "frame " << i;
    EXPECT_EQ(f.width, 1280u);
    EXPECT_EQ(f.height, 720u);
    EXPECT_FALSE(f.time_was_now);
    // Within 100 ms of when it arrived, and after the frame before.
    const auto since =
        std::chrono::duration_cast<std::chrono::microseconds>(steady_now - f.arrival);
    const int64_t arrived = int64_t(wall_now) - since.count() * 10;
    EXPECT_NEAR(double(f.time), double(arrived), 1e6) << "frame " << i;
    if (i > 0) {
      EXPECT_GT(f.time, frames[i - 1].time) << "frame " << i;
    }
  }
  std::vector<std::string> writes;
  for (const auto& w : camera().oid_writes()) writes.push_back(w.oid + "=" + w.value);
  EXPECT_THAT(writes, ::testing::ElementsAre("1.17.2.6=mode2", "1.17.2.4=45", "1.17.2.7=cbr",
                                             "1.17.2.2=5500", "1.17.2.10=45"));
  EXPECT_EQ(allocator.live_video(), 0u);
  EXPECT_EQ(sink.Count("Camera 127.0.0.1 is online"), 1u);
}

TEST_F(H264RecordFixture, LostPacketsCostFramesOnlyUntilTheNextKeyFrame) {
  const std::vector<Bytes> units = ExpectedUnits("h264_1280x720.h264");
  std::map<Bytes, size_t> index;
  for (size_t i = 0; i < units.size(); ++i) index[units[i]] = i;
  ASSERT_TRUE(Start());
  ASSERT_TRUE(receiver.WaitForFrames(5, 30s));
  camera().InjectFault({camsim::Fault::Kind::kDropEveryNth, 97});
  const size_t before = receiver.frame_count();
  ASSERT_TRUE(receiver.WaitForFrames(before + 40, 60s));
  ASSERT_TRUE(video->StopChannel(0));
  ASSERT_GT(camera().counters().rtp_packets_dropped, 0u);

  // Every frame is a whole unit of the clip; after a gap comes a key frame.
  const auto frames = receiver.Frames();
  size_t gaps = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    const auto it = index.find(frames[i].data);
    ASSERT_NE(it, index.end()) << "frame " << i << " is no unit of the clip";
    if (i == 0) continue;
    const size_t previous = index.at(frames[i - 1].data);
    if (it->second != (previous + 1) % units.size()) {
      ++gaps;
      EXPECT_EQ(frames[i].compression, kCompressionH264) << "frame " << i;
    }
  }
  EXPECT_GT(gaps, 0u);
  EXPECT_EQ(receiver.signal_lost_count(), 0u);
}

TEST_F(H264RecordFixture, SimulatorRestartIsSurvived) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(receiver.WaitForFrames(10, 30s));
  camera().InjectFault({camsim::Fault::Kind::kRestart, 500});
  // The frames stop; the channel rebuilds the session after half the
  // receive time-out (10 s) and frames flow again.
  ASSERT_TRUE(camera().WaitUntil([&] { return Requests("PLAY") >= 2; }, 40s));
  const size_t before = receiver.frame_count();
  EXPECT_TRUE(receiver.WaitForFrames(before + 20, 30s));
  EXPECT_EQ(VideoState(), 0u);
  ASSERT_TRUE(video->StopChannel(0));
}

TEST_F(H264RecordFixture, StopDuringDescribeReturnsAtOnce) {
  camera().InjectFault({camsim::Fault::Kind::kSlowReplies, 4000});
  ASSERT_TRUE(Start());
  ASSERT_TRUE(camera().WaitUntil([&] { return Requests("DESCRIBE") >= 1; }, 30s));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(video->StopChannel(0));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);  // the reply was 4 s away
  EXPECT_FALSE(sink.Contains("was not stopped during"));
}

}  // namespace
