#include "channels/jpeg_media_parser.h"

#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "channels/testing/jpeg_picture.h"
#include "channels/testing/recording_frame_allocator.h"
#include "core/resolution_class.h"
#include "core/testing/fake_driver.h"

namespace korvela {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAre;
using testing::MakeJpegPicture;

struct CountingReceiver : IMediaReceiver {
  bool ReceiveFrame(ipcapture::IVideoFrame* frame) override {
    auto* f = static_cast<testing::RecordingVideoFrame*>(frame);
    received.push_back(f->Data());
    released_during_call.push_back(f->released);
    return accept;
  }
  bool accept = true;
  std::vector<Bytes> received;
  std::vector<bool> released_during_call;
};

struct ParserFixture : ::testing::Test {
  ParserFixture() {
    driver.device.address = "10.1.2.3";
    driver.device.port = 8080;
    driver.allocator = &allocator;
    parser.SetReceiver(&receiver);
  }
  void Feed(const Bytes& b) { parser.ProcessData(b); }

  testing::FakeDriver driver;
  testing::RecordingFrameAllocator allocator;
  CountingReceiver receiver;
  CJpegMediaParser parser{&driver, kDriverName};
};

TEST_F(ParserFixture, PictureIsFilledInOrderCopiedDeliveredAndReleased) {
  const Bytes picture = MakeJpegPicture(1280, 1024, 500);
  Bytes stream = {'-', '-', 'b', '\r', '\n'};
  stream.insert(stream.end(), picture.begin(), picture.end());
  Feed(stream);

  ASSERT_EQ(allocator.count(), 1u);
  const auto& f = allocator.frame(0);
  EXPECT_EQ(f.allocated_compression, ipcapture::kCompressionJpeg);
  EXPECT_EQ(f.buffer.size(), picture.size());
  EXPECT_EQ(f.source, "Veltrano");
  EXPECT_THAT(f.calls, ElementsAre("SetWidth", "SetHeight", "SetResolutionClass", "SetDataLength",
                                   "SetCompression", "SetTimeNow"));
  EXPECT_EQ(f.width, 1280u);
  EXPECT_EQ(f.height, 1024u);
  EXPECT_EQ(f.resolution_class, 4u);
  EXPECT_EQ(f.compression, 0x4745504Au);
  EXPECT_EQ(f.Data(), picture);
  EXPECT_TRUE(f.released);
  EXPECT_THAT(receiver.released_during_call, ElementsAre(false));
  EXPECT_EQ(parser.counters().delivered, 1u);
  EXPECT_EQ(parser.counters().accepted, 1u);
}

TEST_F(ParserFixture, RejectedFrameIsStillReleased) {
  receiver.accept = false;
  Feed(MakeJpegPicture(640, 480, 10));
  ASSERT_EQ(allocator.count(), 1u);
  EXPECT_TRUE(allocator.frame(0).released);
  EXPECT_EQ(parser.counters().delivered, 1u);
  EXPECT_EQ(parser.counters().accepted, 0u);
}

TEST_F(ParserFixture, StreamWithoutSizeHeaderDeliversNothing) {
  Feed(MakeJpegPicture(0, 0, 100, /*with_size=*/false));
  Feed(MakeJpegPicture(0, 0, 100, /*with_size=*/false));
  EXPECT_EQ(allocator.count(), 0u);
  EXPECT_TRUE(receiver.received.empty());
  EXPECT_EQ(parser.counters().dropped, 2u);
}

TEST_F(ParserFixture, MissingAllocatorReceiverOrRecordDropsSilently) {
  allocator.fail_allocations = true;
  Feed(MakeJpegPicture(640, 480, 10));
  allocator.fail_allocations = false;
  driver.allocator = nullptr;
  Feed(MakeJpegPicture(640, 480, 10));
  driver.allocator = &allocator;
  parser.SetReceiver(nullptr);
  Feed(MakeJpegPicture(640, 480, 10));
  EXPECT_TRUE(receiver.received.empty());
  EXPECT_EQ(parser.counters().dropped, 3u);
  EXPECT_TRUE(driver.log.Lines().empty());
}

TEST_F(ParserFixture, OversizedPicturesAreCountedAndLoggedThinnedOutAndTheNextOneArrives) {
  const Bytes half(CJpegMediaParser::kMaxFrameBufferBytes / 2, 0x33);  // with SOI: one past
  for (int i = 0; i < 16; ++i) {
    Feed({0xFF, 0xD8});
    Feed(half);
    Feed(half);
  }
  const Bytes next = MakeJpegPicture(352, 288, 40);
  Feed(next);
  EXPECT_THAT(receiver.received, ElementsAre(next));
  EXPECT_EQ(parser.counters().overflows, 16u);
  EXPECT_TRUE(driver.log.HasLine(
      1,
      "korvela::CHttpMediaParser::CheckBufferSize: Frame buffer overflow detected, device "
      "10.1.2.3:8080"));
  // Which occurrences pass is LogThrottle's (log_throttle_test).
  EXPECT_LT(driver.log.Count("Frame buffer overflow detected", 1), 16u);
}

TEST_F(ParserFixture, ResetBetweenConnectionsDropsThePartialPicture) {
  const Bytes picture = MakeJpegPicture(640, 480, 300);
  parser.ProcessData(std::span(picture).first(100));
  parser.Reset();
  parser.ProcessData(std::span(picture).subspan(100));
  EXPECT_TRUE(receiver.received.empty());
  Feed(picture);
  EXPECT_THAT(receiver.received, ElementsAre(picture));
}

TEST(ResolutionClassTest, ClassesByWidthAndAspect) {
  EXPECT_EQ(ResolutionClass(176, 144), 1u);
  EXPECT_EQ(ResolutionClass(199, 2000), 1u);
  EXPECT_EQ(ResolutionClass(200, 100), 2u);
  EXPECT_EQ(ResolutionClass(352, 288), 2u);
  EXPECT_EQ(ResolutionClass(399, 10), 2u);
  EXPECT_EQ(ResolutionClass(400, 300), 4u);
  EXPECT_EQ(ResolutionClass(800, 399), 3u);  // more than twice as wide
  EXPECT_EQ(ResolutionClass(800, 400), 4u);  // exactly twice: not
  EXPECT_EQ(ResolutionClass(1023, 100), 3u);
  EXPECT_EQ(ResolutionClass(1024, 100), 4u);
  EXPECT_EQ(ResolutionClass(0xFFFFFFFFu, 0), 4u);
  EXPECT_EQ(ResolutionClass(0x80000000u, 0x10u), 4u);
}

}  // namespace
}  // namespace korvela
