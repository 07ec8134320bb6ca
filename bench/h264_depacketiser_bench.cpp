// Cost of rebuilding H.264 access units from RTP payloads: an Annex B file
// (KORVELA_H264_SAMPLE, else testdata's 1280x720 clip) is packetised the way
// a camera does it (parameter sets in a STAP-A, NAL units above 1400 bytes as
// FU-A) and fed through CH264RTPMediaParser, which delivers every frame into
// one reused record. Reports payload bytes per second and the heap
// allocations per delivered frame (operator new is counted).
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/testing/fake_driver.h"
#include "heap_counter.h"
#include "media/h264_rtp_media_parser.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Packet {
  Bytes payload;
  bool marker = false;
};

std::vector<Bytes> SplitAnnexB(const Bytes& data) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 3 <= data.size(); ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) starts.push_back(i + 3);
  }
  std::vector<Bytes> nals;
  for (size_t k = 0; k < starts.size(); ++k) {
    size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : data.size();
    while (end > starts[k] && data[end - 1] == 0) --end;  // 4-byte start code or trailing zeros
    nals.emplace_back(data.begin() + starts[k], data.begin() + end);
  }
  return nals;
}

// One access unit ends before a delimiter, SPS or SEI that follows a slice,
// or before a slice whose first_mb_in_slice is 0 (first bit of its body set).
std::vector<Packet> Packetise(const std::vector<Bytes>& nals, size_t* frames) {
  constexpr size_t kMaxPayload = 1400;
  std::vector<Packet> out;
  bool unit_has_slice = false;
  *frames = 0;
  for (size_t i = 0; i < nals.size(); ++i) {
    const Bytes& nal = nals[i];
    const uint8_t type = nal[0] & 0x1F;
    const bool slice = type >= 1 && type <= 5;
    if (unit_has_slice && (!slice || (nal.size() > 1 && (nal[1] & 0x80) != 0))) {
      out.back().marker = true;
      ++*frames;
      unit_has_slice = false;
    }
    unit_has_slice = unit_has_slice || slice;
    if (type == 7 && i + 1 < nals.size() && (nals[i + 1][0] & 0x1F) == 8) {
      Packet stap{{0x78}};
      for (const Bytes* n : {&nal, &nals[i + 1]}) {
        stap.payload.push_back(static_cast<uint8_t>(n->size() >> 8));
        stap.payload.push_back(static_cast<uint8_t>(n->size()));
        stap.payload.insert(stap.payload.end(), n->begin(), n->end());
      }
      out.push_back(std::move(stap));
      ++i;
      continue;
    }
    if (nal.size() <= kMaxPayload) {
      out.push_back({nal});
      continue;
    }
    for (size_t pos = 1; pos < nal.size(); pos += kMaxPayload - 2) {
      const size_t n = std::min(kMaxPayload - 2, nal.size() - pos);
      Packet fu{{static_cast<uint8_t>((nal[0] & 0xE0) | 28),
                 static_cast<uint8_t>((pos == 1 ? 0x80 : 0) | (pos + n == nal.size() ? 0x40 : 0) |
                                      type)}};
      fu.payload.insert(fu.payload.end(), nal.begin() + pos, nal.begin() + pos + n);
      out.push_back(std::move(fu));
    }
  }
  if (!out.empty() && unit_has_slice) {
    out.back().marker = true;
    ++*frames;
  }
  return out;
}

// One record reused for every frame: the recorder's side is not measured.
struct ReusedFrame : korvela::ipcapture::IVideoFrame {
  uint8_t* GetBuffer() override { return buffer.data(); }
  void SetDataLength(uint32_t) override {}
  void SetTimeNow() override {}
  void SetTime(const korvela::ipcapture::FrameTime*) override {}
  void SetCompression(uint32_t) override {}
  void SetHeight(uint32_t) override {}
  void SetWidth(uint32_t) override {}
  void SetResolutionClass(uint32_t) override {}
  Bytes buffer = Bytes(korvela::CRTPMediaParser::kMaxFrameBytes + 8);
};
struct OneRecordAllocator : korvela::ipcapture::IFrameAllocator {
  korvela::ipcapture::IVideoFrame* AllocateVideoFrame(uint32_t, uint32_t size,
                                                      const char*) override {
    return size <= frame.buffer.size() ? &frame : nullptr;
  }
  korvela::ipcapture::IAudioFrame* AllocateAudioFrame(uint32_t, uint32_t, const char*) override {
    return nullptr;
  }
  void ReleaseAudioFrame(korvela::ipcapture::IAudioFrame*) override {}
  void ReleaseVideoFrame(korvela::ipcapture::IVideoFrame*) override {}
  ReusedFrame frame;
};
struct CountFrames : korvela::IMediaParserClient {
  bool DeliverFrame(korvela::ipcapture::IVideoFrame*) override {
    ++frames;
    return true;
  }
  void GetFrameSize(uint32_t* w, uint32_t* h) override { *w = *h = 0; }
  uint64_t frames = 0;
};

void BM_DepacketiseStream(benchmark::State& state) {
  const char* env = std::getenv("KORVELA_H264_SAMPLE");
  const std::string path =
      env != nullptr ? env : std::string(KORVELA_TESTDATA_DIR) + "/h264_1280x720.h264";
  std::ifstream in(path, std::ios::binary);
  const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  size_t frames_per_pass = 0;
  const std::vector<Packet> packets = Packetise(SplitAnnexB(file), &frames_per_pass);
  if (packets.empty()) {
    state.SkipWithError(("no H.264 in " + path).c_str());
    return;
  }
  size_t payload_bytes = 0;
  for (const Packet& p : packets) payload_bytes += p.payload.size();

  korvela::testing::FakeDriver driver;
  OneRecordAllocator allocator;
  driver.allocator = &allocator;
  CountFrames client;
  korvela::CH264RTPMediaParser parser(&driver, "Veltrano");
  parser.SetReceiver(&client);
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  auto pass = [&] {
    for (const Packet& p : packets) {
      parser.ProcessPacket(korvela::RtpPacketView{sequence++, p.marker, timestamp, p.payload});
      if (p.marker) timestamp += 3600;
    }
  };
  pass();  // warm up: the frame buffer reaches its size
  const uint64_t frames_before = client.frames;
  const uint64_t allocations_before = korvela::bench::HeapAllocations();
  for (auto _ : state) pass();
  const uint64_t frames = client.frames - frames_before;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(payload_bytes));
  state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
  state.counters["allocs/frame"] =
      frames == 0 ? 0.0
                  : double(korvela::bench::HeapAllocations() - allocations_before) / double(frames);
  state.counters["frames/pass"] = double(frames_per_pass);
}
BENCHMARK(BM_DepacketiseStream)->Unit(benchmark::kMillisecond);

}  // namespace
