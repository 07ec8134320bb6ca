// The reference host's objects behave as a recorder's must for the driver's
// tests to mean anything: records copy, limits hold, releases are checked.
#include <cstring>

#include <gtest/gtest.h>

#include "recorder/audio_host.h"
#include "recorder/debug_sink.h"
#include "recorder/driver_library.h"
#include "recorder/frame_allocator.h"
#include "recorder/frame_receiver.h"

namespace korvela::recorder {
namespace {

using namespace std::chrono_literals;
using ipcapture::kCompressionH264;
using ipcapture::kCompressionI264;

class Line final : public CDebugInfoIf {
 public:
  Line(uint8_t level, const char* text) : level_(level), text_(text) {}
  uint8_t GetLevel() const override { return level_; }
  const char* GetText() const override { return text_; }

 private:
  uint8_t level_;
  const char* text_;
};

TEST(DebugSink, CopiesLinesKeepsNullTextAndAtMostTheLimit) {
  DebugSink sink;
  {
    std::string text = "korvela::X: DRIVER IS OPENED";
    Line line(100, text.c_str());
    sink.Report(&line);
    text.assign(text.size(), '#');  // the driver's buffer dies after Report
  }
  Line empty(3, nullptr);
  sink.Report(&empty);
  auto lines = sink.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "korvela::X: DRIVER IS OPENED");
  EXPECT_EQ(sink.LevelOf("DRIVER IS OPENED"), 100);
  EXPECT_FALSE(lines[1].has_text);

  for (size_t i = 0; i < DebugSink::kMaxKeptLines; ++i) sink.Report(&empty);
  EXPECT_EQ(sink.Lines().size(), DebugSink::kMaxKeptLines);
  EXPECT_EQ(sink.total(), DebugSink::kMaxKeptLines + 2);
}

TEST(FrameAllocator, LimitsAndCheckedReleases) {
  FrameAllocator allocator;
  auto* at_limit = allocator.AllocateVideoFrame(kCompressionH264,
                                                FrameAllocator::kMaxVideoFrameBytes, "Veltrano");
  ASSERT_NE(at_limit, nullptr);
  EXPECT_EQ(allocator.AllocateVideoFrame(kCompressionH264, FrameAllocator::kMaxVideoFrameBytes + 1,
                                         "Veltrano"),
            nullptr);
  EXPECT_EQ(allocator.AllocateAudioFrame(1, FrameAllocator::kMaxAudioFrameBytes + 1, "Veltrano"),
            nullptr);
  EXPECT_EQ(allocator.live_video(), 1u);
  allocator.ReleaseVideoFrame(at_limit);
  EXPECT_EQ(allocator.live_video(), 0u);
  allocator.ReleaseVideoFrame(at_limit);  // double release: counted, not freed again
  allocator.ReleaseAudioFrame(nullptr);
  EXPECT_EQ(allocator.bad_releases(), 2u);

  allocator.set_refuse(true);
  EXPECT_EQ(allocator.AllocateVideoFrame(kCompressionH264, 10, "Veltrano"), nullptr);
}

TEST(FrameReceiver, CopiesFrameFieldsAndHonoursRefusal) {
  FrameAllocator allocator;
  FrameReceiver receiver(/*keep=*/2);
  auto fill = [&](uint32_t code, const char* bytes) {
    auto* frame = allocator.AllocateVideoFrame(code, 16, "Veltrano");
    std::memcpy(frame->GetBuffer(), bytes, std::strlen(bytes));
    frame->SetWidth(1280);
    frame->SetHeight(720);
    frame->SetResolutionClass(3);
    frame->SetDataLength(static_cast<uint32_t>(std::strlen(bytes)));
    frame->SetCompression(code);
    const ipcapture::FrameTime t = 133000000000000000ull;
    frame->SetTime(&t);
    return frame;
  };
  auto* key = fill(kCompressionH264, "abcd");
  EXPECT_TRUE(receiver.OnFrame(key));
  allocator.ReleaseVideoFrame(key);  // the copy must survive the release
  auto* delta = fill(kCompressionI264, "ef");
  receiver.set_accept(false);
  EXPECT_FALSE(receiver.OnFrame(delta));
  receiver.set_accept(true);
  EXPECT_TRUE(receiver.OnFrame(delta));
  EXPECT_TRUE(receiver.OnFrame(delta));
  allocator.ReleaseVideoFrame(delta);

  EXPECT_EQ(receiver.frame_count(), 3u);
  EXPECT_EQ(receiver.key_frame_count(), 1u);
  EXPECT_EQ(receiver.refused_count(), 1u);
  EXPECT_EQ(receiver.byte_count(), 8u);
  auto kept = receiver.Frames();
  ASSERT_EQ(kept.size(), 2u);  // keep limit
  EXPECT_EQ(kept[0].data, (std::vector<uint8_t>{'e', 'f'}));
  EXPECT_EQ(kept[0].width, 1280u);
  EXPECT_EQ(kept[0].resolution_class, 3u);
  EXPECT_EQ(kept[0].time, 133000000000000000ull);
  EXPECT_EQ(kept[0].source, "Veltrano");
  EXPECT_EQ(allocator.live_video(), 0u);
}

TEST(FrameReceiver, DataLengthBeyondBufferIsClipped) {
  FrameAllocator allocator;
  FrameReceiver receiver;
  auto* frame = allocator.AllocateVideoFrame(ipcapture::kCompressionJpeg, 4, "Veltrano");
  frame->SetDataLength(1000);
  EXPECT_TRUE(receiver.OnFrame(frame));
  EXPECT_EQ(receiver.Frames().at(0).data.size(), 4u);
  allocator.ReleaseVideoFrame(frame);
}

TEST(AudioHost, CallbackCopiesFramesAndWaitsForStates) {
  FrameAllocator allocator;
  const uint8_t bytes[3] = {1, 2, 3};
  auto* frame = allocator.NewTalkbackFrame(bytes, 3, 7, 64000);
  AudioCallback callback;
  EXPECT_TRUE(callback.OnAudioFrame(frame));
  allocator.ReleaseAudioFrame(frame);  // the copy must survive the release
  callback.OnStateChanged(0, 2);
  EXPECT_TRUE(callback.WaitForState(2, 0ms));
  ASSERT_EQ(callback.Frames().size(), 1u);
  EXPECT_EQ(callback.Frames()[0].data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(callback.Frames()[0].bit_rate, 64000u);
}

TEST(DriverLibrary, ReportsAMissingFile) {
  DriverLibrary library;
  EXPECT_FALSE(library.Load("/nonexistent/libveltrano.so"));
  EXPECT_FALSE(library.loaded());
  EXPECT_FALSE(library.error().empty());
}

}  // namespace
}  // namespace korvela::recorder
