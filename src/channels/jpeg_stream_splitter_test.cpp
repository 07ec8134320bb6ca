#include "channels/jpeg_stream_splitter.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "channels/testing/jpeg_picture.h"

namespace korvela {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAre;
using testing::MakeJpegPicture;

struct Picture {
  Bytes bytes;
  uint32_t width;
  uint32_t height;
  bool operator==(const Picture&) const = default;
};

struct RecordingListener : JpegStreamSplitter::Listener {
  void OnPicture(std::span<const uint8_t> picture, uint32_t width, uint32_t height) override {
    pictures.push_back({Bytes(picture.begin(), picture.end()), width, height});
  }
  void OnOverflow() override { ++overflows; }
  std::vector<Picture> pictures;
  int overflows = 0;
};

Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes PartHeader() { return Text("--boundary\r\nContent-Type: image/jpeg\r\n\r\n"); }

std::vector<Picture> FeedInChunks(const Bytes& stream, const std::vector<size_t>& cuts,
                                  int* overflows = nullptr) {
  JpegStreamSplitter splitter;
  RecordingListener listener;
  size_t begin = 0;
  for (size_t cut : cuts) {
    splitter.Feed(std::span(stream).subspan(begin, cut - begin), listener);
    begin = cut;
  }
  splitter.Feed(std::span(stream).subspan(begin), listener);
  if (overflows != nullptr) *overflows = listener.overflows;
  return listener.pictures;
}

Bytes ReadSample(const std::string& name) {
  std::ifstream in(std::string(KORVELA_JPEG_CORPUS_DIR) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Cut lists for one stream: none, one cut at every position, and chunks of
// one, two and three bytes.
std::vector<std::vector<size_t>> EveryCut(size_t size) {
  std::vector<std::vector<size_t>> lists = {{}};
  for (size_t cut = 1; cut < size; ++cut) lists.push_back({cut});
  for (size_t step : {1u, 2u, 3u}) {
    lists.emplace_back();
    for (size_t c = step; c < size; c += step) lists.back().push_back(c);
  }
  return lists;
}

// The same pictures whatever the chunks; reports the first cut list that fails.
void ExpectEveryCut(const Bytes& stream, const std::vector<Picture>& expected) {
  for (const auto& cuts : EveryCut(stream.size())) {
    const auto pictures = FeedInChunks(stream, cuts);
    if (pictures == expected) continue;
    ADD_FAILURE() << pictures.size() << " pictures with " << cuts.size() << " cuts, the first at "
                  << (cuts.empty() ? 0 : cuts[0]);
    return;
  }
}

TEST(JpegStreamSplitterTest, PicturesAreCutAtTheirMarkersWithTheirSizeHoweverTheyArrive) {
  const Bytes first = MakeJpegPicture(1280, 1024, 300);
  const Bytes second = MakeJpegPicture(704, 576, 40);
  const Bytes stream = Concat({PartHeader(), first, PartHeader(), second, Text("\r\n")});
  ExpectEveryCut(stream, {Picture{first, 1280, 1024}, Picture{second, 704, 576}});
}

// Reads straight into the splitter's buffer, as a channel does: pictures that
// sit across the buffer's end are moved to its front, and one larger than the
// buffer makes it grow, without a byte changing.
TEST(JpegStreamSplitterTest, PicturesSurviveTheBufferFillingUpWhateverTheReadSize) {
  std::vector<Picture> expected;
  Bytes stream;
  for (size_t payload : {40000, 70000, 3, 300000, 51000, 49000, 120000, 64000, 1000}) {
    const Bytes picture = MakeJpegPicture(1280, 1024, payload);
    stream = Concat({stream, PartHeader(), picture});
    expected.push_back({picture, 1280, 1024});
  }
  for (size_t read_size : {size_t{1}, size_t{7001}, JpegStreamSplitter::kMinReceiveBytes,
                           JpegStreamSplitter::kMaxBufferBytes}) {
    JpegStreamSplitter splitter;
    RecordingListener listener;
    for (size_t pos = 0; pos < stream.size();) {
      const std::span<uint8_t> area = splitter.ReceiveArea();
      ASSERT_GE(area.size(), JpegStreamSplitter::kMinReceiveBytes);
      const size_t n = std::min({area.size(), read_size, stream.size() - pos});
      std::copy_n(stream.begin() + static_cast<long>(pos), n, area.begin());
      splitter.Commit(n, listener);
      pos += n;
    }
    EXPECT_EQ(listener.pictures, expected) << "reads of " << read_size;
  }
}

TEST(JpegStreamSplitterTest, BytesOutsidePicturesNeverReachAPicture) {
  // Text with an 0xFF that is no start-of-image, and an end-of-image with no
  // picture open.
  const Bytes noise = {'x', 0xFF, 0x00, 'y', 0xFF, 0xD9, 0xFF, 0xC0, 0, 0x11, 8, 0, 1, 0, 1};
  const Bytes picture = MakeJpegPicture(0x0102, 0x0304, 10);
  const auto pictures = FeedInChunks(Concat({noise, picture, noise}), {});
  // The size header outside the picture is ignored; the one inside counts.
  EXPECT_THAT(pictures, ElementsAre(Picture{picture, 0x0102, 0x0304}));
}

TEST(JpegStreamSplitterTest, SizeIsZeroUntilASizeHeaderAndPersistsAcrossPictures) {
  const Bytes unsized = MakeJpegPicture(0, 0, 10, /*with_size=*/false);
  const Bytes sized = MakeJpegPicture(800, 600, 10);
  EXPECT_THAT(
      FeedInChunks(Concat({unsized, sized, unsized}), {}),
      ElementsAre(Picture{unsized, 0, 0}, Picture{sized, 800, 600}, Picture{unsized, 800, 600}));
}

TEST(JpegStreamSplitterTest, StartOfImageInsideAPictureStartsItAfresh) {
  const Bytes broken = {0xFF, 0xD8, 1, 2, 3};
  const Bytes picture = MakeJpegPicture(352, 288, 30);
  EXPECT_THAT(FeedInChunks(Concat({broken, picture}), {}), ElementsAre(Picture{picture, 352, 288}));
}

TEST(JpegStreamSplitterTest, FillBytesBeforeAMarkerAreAllowed) {
  // JPEG allows any number of 0xFF fill bytes before a marker (T.81 B.1.1.2).
  const Bytes picture = {0xFF, 0xFF, 0xD8, 0xFF, 0xC0, 0, 0x11, 8,    0,
                         16,   0,    32,   3,    1,    2, 0xFF, 0xFF, 0xD9};
  const Bytes expected(picture.begin() + 1, picture.end());
  ExpectEveryCut(picture, {Picture{expected, 32, 16}});
}

TEST(JpegStreamSplitterTest, SizeHeaderCutOffByAMarkerDoesNotCountWhereverTheStreamIsCut) {
  // A picture whose size header is interrupted by a new start-of-image, then
  // one whose header is interrupted by its own end-of-image: neither header
  // counts, so both pictures keep the size of the first, complete one.
  const Bytes first = MakeJpegPicture(640, 480, 20);
  const Bytes interrupted = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08};
  const Bytes second = {0xFF, 0xD8, 1, 2, 0xFF, 0xC0, 0x00, 0x11, 0xFF, 0xD9};
  const Bytes trailer = {0x05, 0x00, 0x05, 0x00, 0x03};
  const Bytes stream = Concat({first, interrupted, second, trailer});
  ExpectEveryCut(stream, {Picture{first, 640, 480}, Picture{second, 640, 480}});
}

TEST(JpegStreamSplitterTest, RealJpegSurvivesEveryCut) {
  const Bytes sample = ReadSample("picture_160x120.jpg");
  ASSERT_GT(sample.size(), 1000u);
  const Bytes stream = Concat({PartHeader(), sample, Text("\r\n"), PartHeader(), sample});
  ExpectEveryCut(stream, {Picture{sample, 160, 120}, Picture{sample, 160, 120}});
}

// The sample with an EXIF block after its start-of-image whose thumbnail is a
// whole JPEG (its own FF D8 ... FF D9), as many cameras write them.
Bytes WithExifThumbnail(const Bytes& sample, const Bytes& thumbnail) {
  const Bytes exif_header = Text(std::string("Exif\0\0II*\0\x08\0\0\0", 14));
  const size_t length = 2 + exif_header.size() + thumbnail.size();
  Bytes out = {0xFF, 0xD8,                                                 // SOI
               0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length & 0xFF)};  // APP1, length
  out.insert(out.end(), exif_header.begin(), exif_header.end());
  out.insert(out.end(), thumbnail.begin(), thumbnail.end());
  out.insert(out.end(), sample.begin() + 2, sample.end());  // the sample after its SOI
  return out;
}

TEST(JpegStreamSplitterTest, ExifThumbnailDoesNotCutThePictureWhereverTheStreamIsCut) {
  const Bytes sample = ReadSample("picture_160x120.jpg");
  ASSERT_GT(sample.size(), 1000u);
  // A thumbnail that claims another size: only the picture's own header counts.
  Bytes thumbnail = MakeJpegPicture(80, 60, 40);
  const Bytes picture = WithExifThumbnail(sample, thumbnail);
  const Bytes stream = Concat({PartHeader(), picture, Text("\r\n"), PartHeader(), picture});
  ExpectEveryCut(stream, {Picture{picture, 160, 120}, Picture{picture, 160, 120}});
}

TEST(JpegStreamSplitterTest, MarkerBytesInsideQuantisationTablesAndCommentsAreNotMarkers) {
  // A low-quality quantisation table holds 255 followed by 217 or 216, and a
  // comment may hold anything; neither ends nor restarts the picture, and an
  // FF C0 in them is no size header.
  Bytes dqt = {0xFF, 0xDB, 0x00, 0x43, 0x00};  // DQT, length 67, 8-bit table 0
  for (int i = 0; i < 64; ++i) dqt.push_back(i % 4 == 0 ? 0xFF : (i % 4 == 1 ? 0xD9 : 0xD8));
  const Bytes com = {0xFF, 0xFE, 0x00, 0x08, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00};  // COM
  const Bytes sof = {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x30, 0x00, 0x40, 0x01, 0x01, 0x11, 0x00};
  const Bytes sos = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00};
  // Scan data with a stuffed 0xFF, a restart marker and fill bytes.
  const Bytes scan = {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56, 0xFF, 0xFF, 0xD9};
  const Bytes picture = Concat({Bytes{0xFF, 0xD8}, dqt, com, sof, sos, scan});
  const Bytes stream = Concat({PartHeader(), picture, PartHeader(), picture});
  ExpectEveryCut(stream, {Picture{picture, 64, 48}, Picture{picture, 64, 48}});
}

TEST(JpegStreamSplitterTest, SegmentsAfterTheScanDataBeginsAreScanned) {
  // Once the scan data has begun, bytes that look like an application segment
  // are damage: the picture still ends at its end-of-image, also when the
  // start-of-scan marker straddles two chunks.
  const Bytes picture = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x10,
                         0x00, 0x20, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xDA, 0x00,
                         0x02, 0x07, 0xFF, 0xE1, 0x7F, 0xFF, 0x01, 0xFF, 0xD9};
  ExpectEveryCut(picture, {Picture{picture, 32, 16}});
}

TEST(JpegStreamSplitterTest, PictureOfExactlyTheLimitIsDeliveredOneMoreIsDropped) {
  constexpr size_t kOverhead = 2 + 10 + 2;  // SOI, size header, EOI
  const Bytes at_limit = MakeJpegPicture(64, 64, JpegStreamSplitter::kMaxFrameBytes - kOverhead);
  ASSERT_EQ(at_limit.size(), JpegStreamSplitter::kMaxFrameBytes);
  int overflows = -1;
  auto pictures = FeedInChunks(at_limit, {1000, 5000000}, &overflows);
  ASSERT_EQ(pictures.size(), 1u);
  EXPECT_EQ(pictures[0].bytes.size(), JpegStreamSplitter::kMaxFrameBytes);
  EXPECT_EQ(overflows, 0);

  const Bytes past_limit =
      MakeJpegPicture(64, 64, JpegStreamSplitter::kMaxFrameBytes - kOverhead + 1);
  const Bytes next = MakeJpegPicture(32, 32, 10);
  pictures = FeedInChunks(Concat({past_limit, next}), {1000, 5000000}, &overflows);
  // Even when its end arrives in the same chunk, the oversized picture is
  // dropped; the following picture gets through.
  EXPECT_THAT(pictures, ElementsAre(Picture{next, 32, 32}));
  EXPECT_EQ(overflows, 1);
}

TEST(JpegStreamSplitterTest, NeverEndingPictureOverflowsOnceThenRecovers) {
  JpegStreamSplitter splitter;
  RecordingListener listener;
  const Bytes start = {0xFF, 0xD8};
  const Bytes filler(64 * 1024, 0x11);
  splitter.Feed(start, listener);
  size_t fed = start.size();
  while (fed <= JpegStreamSplitter::kMaxFrameBytes) {
    splitter.Feed(filler, listener);
    fed += filler.size();
  }
  EXPECT_EQ(listener.overflows, 1);
  EXPECT_FALSE(splitter.in_frame());
  EXPECT_EQ(splitter.buffered(), 0u);
  // More of the endless picture is not buffered and not reported again.
  splitter.Feed(filler, listener);
  EXPECT_EQ(splitter.buffered(), 0u);
  EXPECT_EQ(listener.overflows, 1);

  const Bytes picture = MakeJpegPicture(640, 480, 100);
  splitter.Feed(picture, listener);
  EXPECT_THAT(listener.pictures, ElementsAre(Picture{picture, 640, 480}));
}

TEST(JpegStreamSplitterTest, ResetDropsThePartialPictureOfTheOldConnection) {
  JpegStreamSplitter splitter;
  RecordingListener listener;
  const Bytes picture = MakeJpegPicture(640, 480, 100);
  splitter.Feed(std::span(picture).first(60), listener);
  ASSERT_TRUE(splitter.in_frame());
  splitter.Reset();
  // The new connection's stream begins in the middle of nowhere: its tail and
  // end-of-image must not complete the old picture.
  splitter.Feed(std::span(picture).subspan(60), listener);
  EXPECT_TRUE(listener.pictures.empty());
  splitter.Feed(picture, listener);
  EXPECT_THAT(listener.pictures, ElementsAre(Picture{picture, 640, 480}));
}

}  // namespace
}  // namespace korvela
