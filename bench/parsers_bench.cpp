// Cost of the small parsers on the media set-up and audio paths: the SPS
// picture-size parser, the RTSP reply parser (a DESCRIBE reply with its SDP)
// and the G.711 RTP audio parser (160-byte packets, a marker every fifth,
// frames delivered into the reference host's records). Reports bytes per
// second and heap allocations per call or frame (operator new is counted).
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/testing/fake_driver.h"
#include "heap_counter.h"
#include "media/g711_rtp_audio_parser.h"
#include "media/h264_sps_parser.h"
#include "recorder/frame_allocator.h"
#include "rtsp/rtsp_response_parser.h"

namespace {

// Heap allocations per iteration, excluding the benchmark's own set-up.
void ReportAllocations(benchmark::State& state, uint64_t before) {
  state.counters["allocs/iter"] =
      benchmark::Counter(static_cast<double>(korvela::bench::HeapAllocations() - before) /
                         static_cast<double>(state.iterations()));
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// High profile 1920x1080 with cropping (x264).
void BM_SpsPictureSize(benchmark::State& state) {
  const std::vector<uint8_t> sps = FromHex("67640028acd94078044fde0220000003002000000643e2c5b2c0");
  const uint64_t before = korvela::bench::HeapAllocations();
  for (auto _ : state) {
    auto size = korvela::ParseSpsPictureSize(sps);
    benchmark::DoNotOptimize(size);
  }
  ReportAllocations(state, before);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sps.size()));
}
BENCHMARK(BM_SpsPictureSize);

void BM_RtspDescribeReply(benchmark::State& state) {
  const std::string sdp =
      "v=0\r\no=- 1 1 IN IP4 192.0.2.10\r\ns=Session\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
      "a=control:*\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
      "a=fmtp:96 packetization-mode=1;profile-level-id=640028;"
      "sprop-parameter-sets=Z2QAKKzZQHgET94CIAAAAwAgAAAGQ+LFssA=,aOvjyyLA\r\n"
      "a=control:trackID=1\r\nm=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n"
      "a=control:trackID=2\r\n";
  const std::string reply =
      "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\n"
      "Content-Base: rtsp://192.0.2.10/now.mp4/\r\nContent-Length: " +
      std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
  korvela::CRTSPResponseParser parser;
  const uint64_t before = korvela::bench::HeapAllocations();
  for (auto _ : state) {
    benchmark::DoNotOptimize(parser.Parse(reply, korvela::kRtspDescribe));
  }
  ReportAllocations(state, before);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_RtspDescribeReply);

struct CountingClient : korvela::IAudioParserClient {
  bool DeliverAudioFrame(korvela::ipcapture::IAudioFrame* /*frame*/) override {
    ++frames;
    return true;
  }
  uint64_t frames = 0;
};

void BM_G711Packets(benchmark::State& state) {
  korvela::testing::FakeDriver driver;
  korvela::recorder::FrameAllocator allocator;
  driver.allocator = &allocator;
  CountingClient client;
  korvela::CG711RTPAudioParser parser(&driver, 0);
  parser.SetClient(&client);
  parser.SetFormatCode(korvela::ipcapture::kAudioFormatMuLaw);
  parser.SetSampleRate(8000);
  parser.SetBitRate(64000);
  parser.SetBitsPerSample(8);
  // 160-byte PCMU packets; every fifth carries the marker (a 100 ms frame).
  // The whole sequence space, so that each pass continues the last one.
  std::vector<korvela::CRTPPacket> packets(65536);
  for (size_t i = 0; i < packets.size(); ++i) {
    const auto seq = static_cast<uint16_t>(i);
    std::vector<uint8_t> d = {
        0x80, uint8_t(i % 5 == 4 ? 0x80 : 0), uint8_t(seq >> 8), uint8_t(seq), 0, 0, 0, 0, 1, 2, 3,
        4};
    d.insert(d.end(), 160, 0x7F);
    if (!packets[i].Parse(d)) state.SkipWithError("packet not parsed");
  }
  const uint64_t before = korvela::bench::HeapAllocations();
  for (auto _ : state) {
    for (const auto& p : packets) parser.ProcessPacket(p);
  }
  // The recorder's frame records are allocated by the reference host, as a
  // recorder does; they are counted too.
  state.counters["allocs/frame"] =
      benchmark::Counter(static_cast<double>(korvela::bench::HeapAllocations() - before) /
                         static_cast<double>(client.frames));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * packets.size() * 160));
}
BENCHMARK(BM_G711Packets);

}  // namespace

BENCHMARK_MAIN();
