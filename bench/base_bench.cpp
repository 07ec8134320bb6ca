// Costs of the building blocks every worker uses: event hand-over between two
// threads, queue-thread throughput (the RTP packet queue path) and a log line.
#include <atomic>
#include <thread>

#include <benchmark/benchmark.h>

#include "base/event.h"
#include "base/log_dispatcher.h"
#include "base/queue_thread.h"

namespace korvela {
namespace {

using platform::kInfinite;

// Round trip: one Set/Wait in each direction across two threads.
void BM_EventPingPong(benchmark::State& state) {
  CEvent ping, pong;
  std::atomic<bool> done{false};
  std::thread peer([&] {
    while (ping.Wait(kInfinite) && !done.load()) pong.Set();
  });
  for (auto _ : state) {
    ping.Set();
    pong.Wait(kInfinite);
  }
  done = true;
  ping.Set();
  peer.join();
}
BENCHMARK(BM_EventPingPong)->UseRealTime();

struct Packet {
  virtual ~Packet() = default;
  uint8_t payload[1400];
};

class CountingQueue : public CQueueThread<Packet> {
 public:
  CountingQueue() : CQueueThread<Packet>(nullptr) {}
  ~CountingQueue() override { Stop(); }
  void Expect(int64_t n) { target_ = processed_.load() + n; }
  CEvent reached;

 protected:
  void ProcessItem(Packet*) override {
    if (++processed_ == target_) reached.Set();
  }

 private:
  std::atomic<int64_t> processed_{0};
  std::atomic<int64_t> target_{-1};
};

// Items per second from one producer through the queue to the worker, in
// bursts of 256 (a video frame's worth of packets).
void BM_QueueThreadBurst(benchmark::State& state) {
  CountingQueue queue;
  queue.Start("bench queue");
  constexpr int kBurst = 256;
  for (auto _ : state) {
    queue.Expect(kBurst);
    for (int i = 0; i < kBurst; ++i) queue.AddItem(new Packet);
    queue.reached.Wait(kInfinite);
  }
  state.SetItemsProcessed(state.iterations() * kBurst);
}
BENCHMARK(BM_QueueThreadBurst)->UseRealTime();

class NullSink : public ipcapture::IDebugInfoSink {
 public:
  void Report(const CDebugInfoIf* info) override { benchmark::DoNotOptimize(info->GetText()); }
};

void BM_LogLineDelivered(benchmark::State& state) {
  NullSink sink;
  LogDispatcher log;
  log.SetSink(&sink);
  log.SetRecorderVersion(6, 3);
  for (auto _ : state) {
    log.Message(1, "%s: %s is offline or failed, device %s:%u", "korvela::Bench::Run", "Camera 1",
                "192.168.1.20", 80u);
  }
}
BENCHMARK(BM_LogLineDelivered);

void BM_LogLineLevel4Dropped(benchmark::State& state) {
  NullSink sink;
  LogDispatcher log;
  log.SetSink(&sink);
  for (auto _ : state) {
    log.Message(4, "%s: request result %d", "korvela::HUtils::GetOidRD", 0);
  }
}
BENCHMARK(BM_LogLineLevel4Dropped);

}  // namespace
}  // namespace korvela
