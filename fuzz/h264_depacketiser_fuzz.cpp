// Feeds arbitrary RTP payload sequences to the H.264 depacketiser and checks
// every frame it delivers: a known compression code, a picture size within
// limits, the record large enough, the data bounded and ending with the
// appended 00 00 00 01 09, and no "I264" frame before an "H264" one.
//
// Input: [SPS length][SPS][PPS length][PPS] as the session description would
// give them, then packets of [flags][length, 2 bytes big-endian][payload];
// flags bit 0 is the marker, bits 1-2 the sequence step (+1, repeat, +2, +1000).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/testing/fake_driver.h"
#include "media/h264_rtp_media_parser.h"
#include "media/h264_sps_parser.h"
#include "recorder/frame_allocator.h"

namespace {

struct Check : korvela::IMediaParserClient {
  bool DeliverFrame(korvela::ipcapture::IVideoFrame* f) override {
    auto* v = static_cast<korvela::recorder::VideoFrame*>(f);
    const auto data = v->Data();
    const bool key = v->compression() == korvela::ipcapture::kCompressionH264;
    if (!key && v->compression() != korvela::ipcapture::kCompressionI264) std::abort();
    if (!key && !seen_key) std::abort();
    if (data.size() < 5 || data.size() != v->data_length() || v->buffer_size() < data.size())
      std::abort();
    if (data.size() > korvela::CRTPMediaParser::kMaxFrameBytes + 5) std::abort();
    if (data[data.size() - 5] != 0 || data[data.size() - 4] != 0 || data[data.size() - 3] != 0 ||
        data[data.size() - 2] != 1 || data[data.size() - 1] != 9)
      std::abort();
    if (v->width() == 0 || v->height() == 0 || v->width() > korvela::kMaxPictureSide ||
        v->height() > korvela::kMaxPictureSide)
      std::abort();
    seen_key = seen_key || key;
    return true;
  }
  void GetFrameSize(uint32_t* w, uint32_t* h) override { *w = *h = 0; }
  bool seen_key = false;
};

std::span<const uint8_t> Take(std::span<const uint8_t>& in, size_t n) {
  n = n < in.size() ? n : in.size();
  const std::span<const uint8_t> out = in.first(n);
  in = in.subspan(n);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvela::testing::FakeDriver driver;
  korvela::recorder::FrameAllocator allocator;
  driver.allocator = &allocator;
  Check check;
  korvela::CH264RTPMediaParser parser(&driver, "Veltrano");
  parser.SetReceiver(&check);

  std::span<const uint8_t> in(data, size);
  const auto sps = Take(in, in.empty() ? 0 : Take(in, 1)[0]);
  const auto pps = Take(in, in.empty() ? 0 : Take(in, 1)[0]);
  parser.SetParameterSets(sps, pps);

  uint16_t sequence = 0;
  while (in.size() >= 3) {
    const uint8_t flags = in[0];
    const size_t length = (size_t{in[1]} << 8) | in[2];
    in = in.subspan(3);
    static constexpr uint16_t kSteps[] = {1, 0, 2, 1000};
    sequence = static_cast<uint16_t>(sequence + kSteps[(flags >> 1) & 3]);
    parser.ProcessPacket(korvela::RtpPacketView{sequence, (flags & 1) != 0, 0, Take(in, length)});
  }
  if (allocator.live_video() != 0) std::abort();
  return 0;
}
