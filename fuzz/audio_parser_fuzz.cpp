// Fuzz target: RTP datagrams through the G.711 audio parser. The input is a
// sequence of datagrams, each preceded by a two-byte length.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/testing/fake_driver.h"
#include "media/g711_rtp_audio_parser.h"
#include "recorder/frame_allocator.h"

using namespace korvela;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Takes every frame and checks it is no larger than the limit plus one packet.
struct Client : IAudioParserClient {
  bool DeliverAudioFrame(ipcapture::IAudioFrame* frame) override {
    Check(frame->GetDataLength() > 0 &&
          frame->GetDataLength() < CBaseRTPAudioParser::kMaxFrameBytes + 65536);
    delivered += frame->GetDataLength();
    return true;
  }
  size_t delivered = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  testing::FakeDriver driver;
  recorder::FrameAllocator allocator;
  driver.allocator = &allocator;
  Client client;
  size_t payload_in = 0;
  {
    CG711RTPAudioParser parser(&driver, 0);
    parser.SetClient(&client);
    parser.SetFormatCode(ipcapture::kAudioFormatMuLaw);
    parser.SetSampleRate(8000);
    parser.SetBitsPerSample(8);
    std::span<const uint8_t> rest(data, size);
    while (rest.size() >= 2) {
      const size_t length = std::min<size_t>(rest[0] << 8 | rest[1], rest.size() - 2);
      const auto datagram = rest.subspan(2, length);
      rest = rest.subspan(2 + length);
      CRTPPacket packet;
      if (!packet.Parse(datagram)) continue;
      payload_in += packet.GetPayloadLength();
      parser.ProcessPacket(packet);
      Check(parser.buffered() < CBaseRTPAudioParser::kMaxFrameBytes + 65536);
    }
    // Nothing is made up: what came out and what waits came in.
    Check(client.delivered + parser.buffered() <= payload_in);
  }
  Check(allocator.live_audio() == 0 && allocator.bad_releases() == 0);
  return 0;
}
