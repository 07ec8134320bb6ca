#include "media/g711_rtp_audio_parser.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/testing/fake_driver.h"
#include "recorder/frame_allocator.h"

namespace korvela {
namespace {

struct Pkt {
  uint16_t seq;
  bool marker = false;
  uint8_t bytes = 160;  // payload: the sequence number's low byte, repeated
  uint8_t padding = 0;  // RTP padding bytes after it
};

// Keeps a copy of every frame; accepts or refuses them all.
struct Client : IAudioParserClient {
  bool DeliverAudioFrame(ipcapture::IAudioFrame* frame) override {
    frames.push_back(static_cast<recorder::AudioFrame*>(frame)->data());
    last = *static_cast<recorder::AudioFrame*>(frame);
    return accept;
  }
  bool accept = true;
  std::vector<std::vector<uint8_t>> frames;
  recorder::AudioFrame last{0, 0, ""};
};

// A parser set up as the audio channel sets it, for audio input 2.
struct Parsing {
  explicit Parsing(const std::vector<Pkt>& packets) {
    driver.allocator = &allocator;
    parser.SetClient(&client);
    parser.SetFormatCode(ipcapture::kAudioFormatMuLaw);
    parser.SetSampleRate(8000);
    parser.SetBitRate(64000);
    parser.SetBitsPerSample(8);
    Feed(packets);
  }
  void Feed(const std::vector<Pkt>& packets) {
    for (const Pkt& p : packets) {
      // V=2 and P, M and PT 0 (PCMU), the sequence, timestamp 0, SSRC 0x01020304.
      std::vector<uint8_t> d = {uint8_t(p.padding != 0 ? 0xA0 : 0x80), uint8_t(p.marker ? 0x80 : 0),
                                uint8_t(p.seq >> 8), uint8_t(p.seq)};
      d.insert(d.end(), {0, 0, 0, 0, 1, 2, 3, 4});
      d.insert(d.end(), p.bytes, uint8_t(p.seq));
      d.insert(d.end(), p.padding, p.padding);  // the last byte counts them
      CRTPPacket packet;
      ASSERT_TRUE(packet.Parse(d));
      parser.ProcessPacket(packet);
    }
  }
  testing::FakeDriver driver;
  recorder::FrameAllocator allocator;
  Client client;
  CG711RTPAudioParser parser{&driver, 2};
};

TEST(G711RTPAudioParserTest, FramesFollowMarkersTheSizeLimitAndTheSequence) {
  struct Case {
    const char* what;
    std::vector<Pkt> packets;
    std::vector<std::vector<uint16_t>> frames;  // packets whose payloads make each frame
    size_t left = 0;                            // bytes still collected at the end
  };
  const Case cases[] = {
      {"marker on the third", {{1}, {2}, {3, true}}, {{1, 2, 3}}},
      {"1-byte marker packet adds and closes nothing", {{1}, {2, true, 1}, {3, true}}, {{1, 3}}},
      {"gap drops what was collected", {{1}, {2}, {4}, {5, true}}, {{4, 5}}},
      {"duplicate dropped alone", {{1}, {1}, {2, true}}, {{1, 2}}},
      {"65535 is followed by 0", {{65535}, {0, true}}, {{65535, 0}}},
      {"no markers: a frame per 800 bytes",
       {{1}, {2}, {3}, {4}, {5}, {6}, {7}},
       {{1, 2, 3, 4, 5}},
       320},
      {"padding is not audio", {{1, false, 160, 4}, {2, true, 100, 1}}, {{1, 2}}},
  };
  for (const Case& c : cases) {
    Parsing p(c.packets);
    ASSERT_EQ(p.client.frames.size(), c.frames.size()) << c.what;
    for (size_t i = 0; i < c.frames.size(); ++i) {
      std::vector<uint8_t> expected;
      for (uint16_t seq : c.frames[i]) {
        for (const Pkt& pkt : c.packets) {
          if (pkt.seq != seq) continue;
          expected.insert(expected.end(), pkt.bytes, uint8_t(seq));
          break;
        }
      }
      EXPECT_EQ(p.client.frames[i], expected) << c.what << " frame " << i;
    }
    EXPECT_EQ(p.parser.buffered(), c.left) << c.what;
    EXPECT_EQ(p.allocator.live_audio(), 0u) << c.what;
  }
}

TEST(G711RTPAudioParserTest, FrameFieldsAndFailureLines) {
  Parsing p({{1}, {2}, {3, true}});
  const recorder::AudioFrame& f = p.client.last;
  EXPECT_EQ(f.data().size(), 480u);
  EXPECT_EQ(f.GetFormatCode(), ipcapture::kAudioFormatMuLaw);
  EXPECT_EQ(f.GetSampleRate(), 8000u);
  EXPECT_EQ(f.bits_per_sample(), 8u);
  EXPECT_FALSE(f.IsStereo());
  EXPECT_EQ(f.GetBitRate(), 64000u);
  EXPECT_EQ(f.GetChannel(), 2u);
  EXPECT_EQ(f.source(), "Veltrano");
  EXPECT_NE(f.time(), 0u);

  const std::string origin = "korvela::CG711RTPAudioParser::ProcessAudioFrame: ";
  p.allocator.set_refuse(true);
  p.Feed({{4, true}});
  EXPECT_TRUE(p.driver.log.HasLine(1, origin + "Unable to allocate  memory for audio frame!"));
  p.allocator.set_refuse(false);
  p.client.accept = false;
  p.Feed({{5, true}});
  EXPECT_TRUE(
      p.driver.log.HasLine(1, origin + "Audio-frame processing error, camera 127.0.0.1:80"));
  EXPECT_EQ(p.allocator.bad_releases(), 0u);
}

}  // namespace
}  // namespace korvela
