#include "media/g711_rtp_audio_parser.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/testing/fake_driver.h"
#include "recorder/frame_allocator.h"

namespace korvela {
namespace {

struct Pkt {
  uint16_t sequence;
  bool marker = false;
  size_t bytes = 160;
  uint8_t padding = 0;  // RTP padding bytes after the payload
};

// Payload bytes of a packet: its sequence number's low byte, repeated.
std::vector<uint8_t> Datagram(const Pkt& p) {
  std::vector<uint8_t> d = {
      static_cast<uint8_t>(0x80 | (p.padding != 0 ? 0x20 : 0)),  // V=2, P, no X, CC=0
      static_cast<uint8_t>((p.marker ? 0x80 : 0) | 0),           // M, PT 0 (PCMU)
      static_cast<uint8_t>(p.sequence >> 8),
      static_cast<uint8_t>(p.sequence),
      0,
      0,
      0x01,
      0x40,  // timestamp
      0x11,
      0x22,
      0x33,
      0x44};  // SSRC
  d.insert(d.end(), p.bytes, static_cast<uint8_t>(p.sequence));
  if (p.padding != 0) {
    d.insert(d.end(), p.padding - 1, 0);
    d.push_back(p.padding);
  }
  return d;
}

struct Received {
  std::vector<uint8_t> data;
  uint32_t format, sample_rate, bit_rate;
  uint8_t bits, channel;
  bool stereo;
  std::string source;
  uint64_t time;
};

struct Client : IAudioParserClient {
  bool DeliverAudioFrame(ipcapture::IAudioFrame* frame) override {
    auto* f = static_cast<recorder::AudioFrame*>(frame);
    frames.push_back({f->data(), f->GetFormatCode(), f->GetSampleRate(), f->GetBitRate(),
                      f->bits_per_sample(), f->GetChannel(), f->IsStereo(), f->source(),
                      f->time()});
    return accept;
  }
  bool accept = true;
  std::vector<Received> frames;
};

// A parser set up as the audio channel sets it, for audio input 2.
struct Parsing {
  Parsing() {
    driver.allocator = &allocator;
    parser.SetClient(&client);
    parser.SetFormatCode(ipcapture::kAudioFormatMuLaw);
    parser.SetSampleRate(8000);
    parser.SetBitRate(64000);
    parser.SetBitsPerSample(8);
  }
  void Feed(const std::vector<Pkt>& packets) {
    for (const Pkt& p : packets) {
      CRTPPacket packet;
      ASSERT_TRUE(packet.Parse(Datagram(p)));
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
      {"1-byte marker packet adds nothing, closes nothing",
       {{1}, {2, true, 1}, {3, true}},
       {{1, 3}}},
      {"gap drops what was collected", {{1}, {2}, {4}, {5, true}}, {{4, 5}}},
      {"duplicate dropped alone", {{1}, {1}, {2, true}}, {{1, 2}}},
      {"65535 is followed by 0", {{65535}, {0, true}}, {{65535, 0}}},
      {"no markers: a frame per 800 bytes",
       {{1}, {2}, {3}, {4}, {5}, {6}, {7}},
       {{1, 2, 3, 4, 5}},
       320},
      {"padding is not audio", {{1, false, 160, 4}, {2, true, 100, 1}}, {{1, 2}}},
      {"first packet taken whatever its number", {{4000, true}}, {{4000}}},
  };
  for (const Case& c : cases) {
    Parsing p;
    p.Feed(c.packets);
    ASSERT_EQ(p.client.frames.size(), c.frames.size()) << c.what;
    for (size_t i = 0; i < c.frames.size(); ++i) {
      std::vector<uint8_t> expected;
      for (uint16_t seq : c.frames[i]) {
        for (const Pkt& pkt : c.packets) {
          if (pkt.sequence == seq) {
            expected.insert(expected.end(), pkt.bytes, static_cast<uint8_t>(seq));
            break;
          }
        }
      }
      EXPECT_EQ(p.client.frames[i].data, expected) << c.what << " frame " << i;
    }
    EXPECT_EQ(p.parser.buffered(), c.left) << c.what;
    EXPECT_EQ(p.allocator.live_audio(), 0u) << c.what;
  }
}

TEST(G711RTPAudioParserTest, FrameCarriesEveryField) {
  Parsing p;
  p.Feed({{1}, {2}, {3, true}});
  ASSERT_EQ(p.client.frames.size(), 1u);
  const Received& f = p.client.frames[0];
  EXPECT_EQ(f.data.size(), 480u);
  EXPECT_EQ(f.format, ipcapture::kAudioFormatMuLaw);
  EXPECT_EQ(f.sample_rate, 8000u);
  EXPECT_EQ(f.bits, 8u);
  EXPECT_FALSE(f.stereo);
  EXPECT_EQ(f.bit_rate, 64000u);
  EXPECT_EQ(f.channel, 2u);
  EXPECT_EQ(f.source, "Veltrano");
  EXPECT_NE(f.time, 0u);
  EXPECT_EQ(p.parser.counters().frames, 1u);
}

TEST(G711RTPAudioParserTest, AllocationAndDeliveryFailuresAreLogged) {
  Parsing p;
  p.allocator.set_refuse(true);
  p.Feed({{1, true}});
  EXPECT_TRUE(p.driver.log.HasLine(
      1,
      "korvela::CG711RTPAudioParser::ProcessAudioFrame: Unable to allocate  memory for audio "
      "frame!"));
  p.allocator.set_refuse(false);
  p.client.accept = false;
  p.Feed({{2, true}});
  EXPECT_TRUE(p.driver.log.HasLine(
      1,
      "korvela::CG711RTPAudioParser::ProcessAudioFrame: Audio-frame processing error, camera "
      "127.0.0.1:80"));
  EXPECT_EQ(p.parser.counters().failures, 2u);
  EXPECT_EQ(p.allocator.live_audio(), 0u);
  EXPECT_EQ(p.allocator.bad_releases(), 0u);
}

}  // namespace
}  // namespace korvela
