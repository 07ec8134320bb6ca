#include "media/h264_rtp_media_parser.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/testing/fake_driver.h"
#include "recorder/frame_allocator.h"

namespace korvela {
namespace {

using Bytes = std::vector<uint8_t>;
using ipcapture::kCompressionH264;
using ipcapture::kCompressionI264;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(std::stoi(hex.substr(i, 2), 0, 16));
  return out;
}

// Parameter sets of testdata/h264_640x480.h264 (24-byte SPS: a small one).
const Bytes kSps = FromHex("6742c01eda0280f6c044000003000400000300c83c58ba80");
const Bytes kPps = FromHex("68ce3c80");
// A 1080-line field-coded SPS (x264 --interlaced), cropped by 8 lines.
const Bytes kSps1080i = FromHex("67640028acd94078044fde0220000003002000000643e2c5b2c0");

// A NAL unit of `size` bytes: header, then non-zero filler.
Bytes Nal(uint8_t type, size_t size) {
  Bytes nal(size);
  nal[0] = static_cast<uint8_t>((type == 6 || type == 9 ? 0x00 : 0x60) | type);
  for (size_t i = 1; i < size; ++i) nal[i] = static_cast<uint8_t>(1 + (i * 7 + type) % 250);
  return nal;
}
const Bytes kAud = {0x09, 0xF0};
const Bytes kIdr = Nal(5, 3000);
const Bytes kP = Nal(1, 900);
const Bytes kP2 = Nal(1, 700);
const Bytes kSei = Nal(6, 100);  // pushes the SPS past the first 64 bytes

Bytes StapA(std::initializer_list<Bytes> nals) {
  Bytes out = {0x78};  // NRI 3, type 24
  for (const Bytes& n : nals) {
    out.push_back(static_cast<uint8_t>(n.size() >> 8));
    out.push_back(static_cast<uint8_t>(n.size()));
    out.insert(out.end(), n.begin(), n.end());
  }
  return out;
}

// Fragment `part` (0-based) of `nal` cut into `parts` FU-A payloads.
Bytes FuA(const Bytes& nal, size_t part, size_t parts) {
  const size_t body = nal.size() - 1, from = 1 + body * part / parts,
               to = 1 + body * (part + 1) / parts;
  Bytes out = {static_cast<uint8_t>((nal[0] & 0xE0) | 28),
               static_cast<uint8_t>((part == 0 ? 0x80 : 0) | (part + 1 == parts ? 0x40 : 0) |
                                    (nal[0] & 0x1F))};
  out.insert(out.end(), nal.begin() + from, nal.begin() + to);
  return out;
}

// What the recorder must receive for these NAL units.
Bytes AnnexB(std::initializer_list<Bytes> nals) {
  Bytes out;
  for (const Bytes& n : nals) {
    out.insert(out.end(), {0, 0, 1});
    out.insert(out.end(), n.begin(), n.end());
  }
  out.insert(out.end(), {0, 0, 0, 1, 9});
  return out;
}

struct Packet {
  uint16_t seq;
  Bytes payload;
  bool marker = false;
};
struct Frame {
  uint32_t compression;
  Bytes data;
  uint32_t width = 640, height = 480;
};

struct Client : IMediaParserClient {
  bool DeliverFrame(ipcapture::IVideoFrame* f) override {
    auto* v = static_cast<recorder::VideoFrame*>(f);
    frames.push_back({v->compression(), v->Data(), v->width(), v->height()});
    buffer_sizes.push_back(v->buffer_size());
    return accept;
  }
  void GetFrameSize(uint32_t* w, uint32_t* h) override { *w = *h = 0; }
  std::vector<Frame> frames;
  std::vector<uint32_t> buffer_sizes;
  bool accept = true;
};

struct Depacketiser {
  Depacketiser() {
    driver.allocator = &allocator;
    parser.SetReceiver(&client);
  }
  void Feed(const std::vector<Packet>& packets) {
    for (const Packet& p : packets)
      parser.ProcessPacket(RtpPacketView{p.seq, p.marker, 3600, p.payload});
  }
  testing::FakeDriver driver;
  recorder::FrameAllocator allocator;
  Client client;
  CH264RTPMediaParser parser{&driver, "Veltrano"};
};

struct Case {
  const char* name;
  bool out_of_band_sets;
  std::vector<Packet> packets;
  std::vector<Frame> frames;
};

const Case kCases[] = {
    {"IDR as FU-A after out-of-band parameter sets",
     true,
     {{1, FuA(kIdr, 0, 3)}, {2, FuA(kIdr, 1, 3)}, {3, FuA(kIdr, 2, 3), true}},
     {{kCompressionH264, AnnexB({kSps, kPps, kIdr})}}},
    {"P frames wait for the first key frame, then carry its size",
     false,
     {{1, kP, true}, {2, kSps}, {3, kPps}, {4, kIdr, true}, {5, kP, true}},
     {{kCompressionH264, AnnexB({kSps, kPps, kIdr})}, {kCompressionI264, AnnexB({kP})}}},
    {"a small SPS and a PPS with the marker do not end the unit",
     false,
     {{1, kSps, true}, {2, kPps, true}, {3, kIdr, true}},
     {{kCompressionH264, AnnexB({kSps, kPps, kIdr})}}},
    {"delimiters and SEI in packets of their own",
     false,
     {{1, kAud}, {2, kSei}, {3, kSps}, {4, kPps}, {5, kIdr, true}, {6, kAud}, {7, kP, true}},
     {{kCompressionH264, AnnexB({kAud, kSei, kSps, kPps, kIdr})},
      {kCompressionI264, AnnexB({kAud, kP})}}},
    {"parameter sets only out of band, behind a delimiter",
     true,
     {{1, kAud}, {2, kIdr, true}, {3, kAud}, {4, kP, true}},
     {{kCompressionH264, AnnexB({kAud, kSps, kPps, kIdr})},
      {kCompressionI264, AnnexB({kAud, kP})}}},
    {"STAP-A starting with a delimiter keeps the units behind it",
     false,
     {{1, StapA({kAud, kSps, kPps})}, {2, kIdr, true}, {3, StapA({kAud, kP}), true}},
     {{kCompressionH264, AnnexB({kSps, kPps, kIdr})}, {kCompressionI264, AnnexB({kP})}}},
    {"in-band sets are not doubled; out-of-band ones follow an SEI",
     true,
     {{1, StapA({kSps, kPps})}, {2, kIdr, true}, {3, kSei}, {4, kIdr, true}},
     {{kCompressionH264, AnnexB({kSps, kPps, kIdr})},
      {kCompressionH264, AnnexB({kSei, kSps, kPps, kIdr})}}},
    {"interlaced 1080 with cropping",
     false,
     {{1, kSps1080i}, {2, kPps}, {3, kIdr, true}, {4, kP, true}},
     {{kCompressionH264, AnnexB({kSps1080i, kPps, kIdr}), 1920, 1080},
      {kCompressionI264, AnnexB({kP}), 1920, 1080}}},
    {"duplicated packets are dropped, not taken as loss",
     false,
     {{7, kSps},
      {8, kPps},
      {9, FuA(kIdr, 0, 2)},
      {9, FuA(kIdr, 0, 2)},
      {10, FuA(kIdr, 1, 2), true},
      {10, FuA(kIdr, 1, 2), true},
      {11, kP, true}},
     {{kCompressionH264, AnnexB({kSps, kPps, kIdr})}, {kCompressionI264, AnnexB({kP})}}},
    {"a lost FU-A fragment drops frames until the next key frame",
     false,
     {{1, StapA({kSps, kPps})},
      {2, kIdr, true},
      {3, FuA(kP, 0, 3)},
      {5, FuA(kP, 2, 3), true},  // 4 lost
      {6, kP2, true},            // withheld: no key frame yet
      {7, StapA({kSps, kPps})},
      {8, kIdr, true},
      {9, kP2, true}},
     {{kCompressionH264, AnnexB({kSps, kPps, kIdr})},
      {kCompressionH264, AnnexB({kSps, kPps, kIdr})},
      {kCompressionI264, AnnexB({kP2})}}},
    {"a fragment without its start is a loss",
     false,
     {{1, StapA({kSps, kPps})}, {2, kIdr, true}, {3, FuA(kP, 1, 2), true}, {4, kP2, true}},
     {{kCompressionH264, AnnexB({kSps, kPps, kIdr})}}},
    {"65535 is followed by 0",
     false,
     {{65534, kSps}, {65535, kPps}, {0, kIdr, true}},
     {{kCompressionH264, AnnexB({kSps, kPps, kIdr})}}},
    {"10 then 12 drops the unit and waits for a key frame",
     false,
     {{9, StapA({kSps, kPps})}, {10, kIdr}, {12, kP, true}, {13, kP2, true}},
     {}},
    {"unsupported packetisation (STAP-B) is a loss",
     false,
     {{1, StapA({kSps, kPps})},
      {2, kIdr, true},
      {3, {0x79, 0, 0, 0, 2, 0x61, 1}, true},
      {4, kP2, true}},
     {{kCompressionH264, AnnexB({kSps, kPps, kIdr})}}},
};

TEST(H264RtpMediaParserTest, RebuildsAccessUnitsFromPacketSequences) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Depacketiser d;
    if (c.out_of_band_sets) d.parser.SetParameterSets(kSps, kPps);
    d.Feed(c.packets);
    ASSERT_EQ(d.client.frames.size(), c.frames.size());
    for (size_t i = 0; i < c.frames.size(); ++i) {
      const Frame& got = d.client.frames[i];
      EXPECT_EQ(got.compression, c.frames[i].compression) << i;
      EXPECT_EQ(got.data, c.frames[i].data) << i;
      EXPECT_EQ(got.width, c.frames[i].width) << i;
      EXPECT_EQ(got.height, c.frames[i].height) << i;
    }
    EXPECT_EQ(d.allocator.live_video(), 0u);
  }
}

TEST(H264RtpMediaParserTest, AllocatesInSizeClasses) {
  const std::pair<size_t, uint32_t> classes[] = {{1, 4096},        {4096, 4096},    {4097, 16384},
                                                 {16384, 16384},   {16385, 32768},  {32769, 131072},
                                                 {131072, 131072}, {131073, 131073}};
  for (const auto& [length, size] : classes) {
    EXPECT_EQ(CRTPMediaParser::AllocationSize(length), size) << length;
  }
  // An access unit of 5000 bytes travels in a 16384-byte record.
  Depacketiser d;
  d.parser.SetParameterSets(kSps, kPps);
  // Inserted sets (3 + 24, 3 + 4), start code, IDR, trailer (5).
  d.Feed({{1, Nal(5, 5000 - 42), true}});
  ASSERT_EQ(d.client.frames.size(), 1u);
  EXPECT_EQ(d.client.frames[0].data.size(), 5000u);
  EXPECT_EQ(d.client.buffer_sizes[0], 16384u);
}

// The frame buffer holds at most kMaxFrameBytes: exactly that many pass, one
// more drops the unit (logged) and frames wait for the next key frame.
TEST(H264RtpMediaParserTest, FrameBufferLimit) {
  constexpr size_t kChunk = 60000;
  for (const size_t extra : {0, 1}) {
    Depacketiser d;
    d.parser.SetParameterSets(kSps, kPps);
    // Inserted sets (3 + 24 + 3 + 4) and the IDR's start code and header (4).
    size_t body = CRTPMediaParser::kMaxFrameBytes - 38 + extra;
    uint16_t seq = 1;
    d.parser.ProcessPacket(RtpPacketView{seq++, false, 0, Bytes{0x7C, 0x85, 1}});
    body -= 1;
    const Bytes chunk(kChunk, 0x55);
    while (body > 0) {
      const size_t n = std::min(body, kChunk);
      Bytes fu = {0x7C, static_cast<uint8_t>(n == body ? 0x45 : 0x05)};
      fu.insert(fu.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
      d.parser.ProcessPacket(RtpPacketView{seq++, n == body, 0, fu});
      body -= n;
    }
    d.Feed({{seq++, kP, true}, {seq++, StapA({kSps, kPps})}, {seq++, kIdr, true}});
    ASSERT_EQ(d.client.frames.size(), extra == 0 ? 3u : 1u);
    if (extra == 0) {
      EXPECT_EQ(d.client.frames[0].data.size(), CRTPMediaParser::kMaxFrameBytes + 5);
    }
    EXPECT_EQ(d.driver.log.Count("Frame buffer overflow detected, device 127.0.0.1:80"), extra);
    EXPECT_EQ(d.parser.counters().overflows, extra);
  }
}

TEST(H264RtpMediaParserTest, RefusedFrameOrResetWaitsForTheNextKeyFrame) {
  Depacketiser d;
  d.Feed({{1, StapA({kSps, kPps})}, {2, kIdr, true}});
  d.client.accept = false;
  d.Feed({{3, kP, true}});
  d.client.accept = true;
  d.Feed({{4, kP2, true}});  // withheld: the refusal broke the chain
  EXPECT_EQ(d.client.frames.size(), 2u);

  d.Feed({{5, StapA({kSps, kPps})}, {6, kIdr}});
  d.parser.Reset();  // a new session: the half unit goes, so does the size
  EXPECT_EQ(d.parser.width(), 0u);
  d.Feed({{7, kP, true}, {8, StapA({kSps, kPps})}, {9, kIdr, true}});
  ASSERT_EQ(d.client.frames.size(), 3u);
  EXPECT_EQ(d.client.frames[2].data, AnnexB({kSps, kPps, kIdr}));
  EXPECT_EQ(d.parser.counters().withheld, 2u);
}

TEST(H264RtpMediaParserTest, OutOfBandSetsNeedBothAndAParsableSps) {
  Depacketiser d;
  d.parser.SetParameterSets(kSps, {});
  d.parser.SetParameterSets(Bytes(kSps.begin(), kSps.begin() + 5), kPps);
  d.Feed({{1, kIdr, true}});
  EXPECT_TRUE(d.client.frames.empty());
  d.parser.SetParameterSets(kSps1080i, kPps);
  EXPECT_EQ(d.parser.width(), 1920u);
  EXPECT_EQ(d.parser.height(), 1080u);
}

}  // namespace
}  // namespace korvela
