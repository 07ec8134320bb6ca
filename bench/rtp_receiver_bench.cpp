// The RTP receive path without the socket: datagrams handed to
// CRTPReceiver::OnData (as its UDP thread does) are parsed, queued and
// delivered by the queue thread to a user that counts them. Reports packets
// per second (wall time, both threads working) and heap allocations per
// packet (counted by replacing the global operator new in this program).
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <new>
#include <vector>

#include <benchmark/benchmark.h>

#include "heap_counter.h"
#include "rtsp/rtp_receiver.h"

namespace korvela {
namespace {

struct CountingUser : IRTPReceiverUser {
  void OnRTPPacket(CRTPPacket*) override {}
  void OnRTPPacketFrom(const platform::Endpoint&, CRTPPacket* p) override {
    bytes += p->GetPayloadLength();
    if (++delivered == target) {
      std::lock_guard lock(mu);
      cv.notify_one();
    }
  }
  void OnReceiveTimeout() override {}
  void OnReceiveError() override {}
  void WaitFor(uint64_t n) {
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return delivered.load() >= n; });
  }
  std::atomic<uint64_t> delivered{0};
  std::atomic<uint64_t> target{0};
  uint64_t bytes = 0;
  std::mutex mu;
  std::condition_variable cv;
};

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// A 1400-byte H.264 FU-A packet as cameras send them.
std::vector<uint8_t> Datagram(uint16_t seq) {
  std::vector<uint8_t> d = {
      0x80, 0x60, uint8_t(seq >> 8), uint8_t(seq), 0, 1, 0x5F, 0x90, 0x12, 0x34, 0x56, 0x78,
      0x7C, 0x85};
  d.resize(1400, 0xAB);
  return d;
}

// Bursts of `range(0)` packets (a frame's worth), each burst delivered before
// the next is fed, so the bounded queue never drops.
void BM_ParseQueueDeliver(benchmark::State& state) {
  const size_t burst = static_cast<size_t>(state.range(0));
  CountingUser user;
  CRTPReceiver receiver(nullptr);
  receiver.SetUser(&user);
  if (!receiver.Start(0)) {
    state.SkipWithError("receiver did not start");
    return;
  }
  std::vector<std::vector<uint8_t>> datagrams;
  for (size_t i = 0; i < burst; ++i) datagrams.push_back(Datagram(uint16_t(i)));
  const platform::Endpoint camera = platform::Endpoint::Loopback(5004);
  IRTPClient* client = receiver.GetClient();

  // Warm-up: the queue's spares and buffers reach their working size.
  for (int round = 0; round < 4; ++round) {
    user.target = user.delivered + burst;
    for (const auto& d : datagrams) receiver.OnData(client, camera, d.data(), d.size());
    receiver.OnIdle(client);  // the socket is empty, as the UDP thread says
    user.WaitFor(user.target);
  }
  const uint64_t allocations_before = korvela::bench::HeapAllocations();
  const uint64_t delivered_before = user.delivered;
  const double cpu_before = ProcessCpuSeconds();
  for (auto _ : state) {
    user.target = user.delivered + burst;
    for (const auto& d : datagrams) receiver.OnData(client, camera, d.data(), d.size());
    receiver.OnIdle(client);  // the socket is empty, as the UDP thread says
    user.WaitFor(user.target);
  }
  const double packets = double(user.delivered - delivered_before);
  state.SetItemsProcessed(int64_t(packets));
  // Both threads' CPU: what one core could sustain.
  state.counters["cpu_ns_per_packet"] = (ProcessCpuSeconds() - cpu_before) * 1e9 / packets;
  state.counters["allocs_per_packet"] =
      double(korvela::bench::HeapAllocations() - allocations_before) / packets;
  state.counters["dropped"] = double(receiver.GetDroppedPackets());
  receiver.Stop();
}
BENCHMARK(BM_ParseQueueDeliver)->Arg(64)->Arg(1024)->UseRealTime();

}  // namespace
}  // namespace korvela

BENCHMARK_MAIN();
