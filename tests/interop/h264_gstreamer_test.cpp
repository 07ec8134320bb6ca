// H.264 recording through libveltrano.so's exports from GStreamer's RTSP
// server (x264, Digest): the camera simulator answers the OID writes, camera
// parameter 2 points the channel at GStreamer. The server times a session out
// after 5 s without requests or receiver reports; the channel sends no RTSP
// keep-alive, so 30 s stay one session only if its RTCP receiver reports keep
// it. ffmpeg decodes what the recorder received without an error.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "gst_rtsp_peer.h"
#include "recorder/frame_receiver.h"
#include "recorder/video_params.h"
#include "sim_driver_fixture.h"

namespace {

using namespace std::chrono_literals;
using korvela::testing::RunCommand;
using H264GStreamerTest = korvela::testing::SimDriverFixture;

TEST_F(H264GStreamerTest, ThirtySecondsStayOneSessionAndDecode) {
  korvela::testing::GstRtspPeer gst;
  ASSERT_TRUE(gst.Start("digest", false, "--user root --password system --session-timeout 5"))
      << gst.error();
  StartCamera("IQ031", camsim::AuthMode::kDigest);
  setup.stream_type = korvela::ipcapture::kStreamH264Rtsp;
  setup.parameters[2] = std::to_string(gst.port());
  setup.parameters[3] = "1";  // no video mode in the OID write
  korvela::recorder::FrameReceiver receiver{/*keep=*/100000};
  ASSERT_NO_FATAL_FAILURE(OpenVideo());
  korvela::recorder::VideoParams params(25, 50, 320, 240);
  ASSERT_TRUE(video->StartChannel(0, &receiver, &params));
  ASSERT_TRUE(receiver.WaitForFrames(1, 30s)) << sink.Count("");
  std::this_thread::sleep_for(30s);
  EXPECT_EQ(gst.CountLines("REMOVED"), 0u) << gst.Output();
  ASSERT_TRUE(video->StopChannel(0));
  driver.reset();  // before the receiver goes
  EXPECT_EQ(gst.CountLines("REQUEST PLAY"), 1u);
  EXPECT_EQ(receiver.signal_lost_count(), 0u);

  const auto frames = receiver.Frames();
  EXPECT_GE(frames.size(), 30u * 25 * 9 / 10);  // 25 fps, a little lost to load at most
  const std::string path = ::testing::TempDir() + "/gstreamer.h264";
  {
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < frames.size(); ++i) {
      // The delimiter header ending each unit opens the next one; after the
      // last unit it would be an empty one.
      const size_t trailer = i + 1 == frames.size() ? 5 : 0;
      out.write(reinterpret_cast<const char*>(frames[i].data.data()),
                static_cast<std::streamsize>(frames[i].data.size() - trailer));
      if (i > 0) {
        EXPECT_LT(frames[i].arrival - frames[i - 1].arrival, 1s) << "frame " << i;
      }
      EXPECT_EQ(frames[i].width, 320u);
      EXPECT_EQ(frames[i].height, 240u);
    }
  }
  EXPECT_EQ(RunCommand("ffmpeg -v error -f h264 -i " + path + " -f null -"), "");
  const std::string probe = RunCommand(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=width,height,nb_read_frames -of default=nw=1 " +
      path);
  EXPECT_NE(probe.find("width=320\nheight=240\n"), std::string::npos) << probe;
  const size_t at = probe.find("nb_read_frames=");
  ASSERT_NE(at, std::string::npos) << probe;
  const long decoded = std::atol(probe.c_str() + at + 15);
  EXPECT_NEAR(double(decoded), double(frames.size()), 2.0);
}

}  // namespace
