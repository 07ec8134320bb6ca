// End-to-end load of one Motion-JPEG channel against the in-process camera
// simulator: how many of the pictures the simulator pushed were delivered,
// and how much CPU the channel's worker thread spent per delivered frame
// (HTTP reads, splitting, frame records and the recorder's copy all run on
// that thread).
//
// Usage: mjpeg_channel_load [seconds] [fps] [model]
//   fps is what the channel asks for; the simulator pushes at the period the
//   push URL names (fps / 1000 s, printed with two decimals), so 40 gives a
//   push every 40 ms = 25 pictures per second.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <time.h>

#include "camsim/camsim.h"
#include "channels/mjpeg_channel_http.h"
#include "channels/sender_stream_link.h"
#include "platform/clock.h"
#include "recorder/frame_receiver.h"
#include "simulated_camera.h"

namespace {

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  const unsigned fps = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 40;
  const std::string model = argc > 3 ? argv[3] : "IQ042";

  korvela::bench::SimulatedCamera<> sim(model);
  korvela::testing::FakeDriver& driver = sim.driver;

  driver.SetParameter(3, "1");  // cropping window of the full sensor, no downscale
  driver.SetParameter(6, "1280x1024");

  korvela::recorder::FrameReceiver receiver(/*keep=*/1);
  std::atomic<double> worker_cpu{0};
  std::atomic<uint64_t> bytes{0};
  receiver.SetObserver([&](const korvela::recorder::ReceivedFrame& f) {
    bytes += f.data.size();
    worker_cpu = ThreadCpuSeconds();  // runs on the channel's worker thread
  });

  korvela::CMjpegChannelHTTP channel(&driver, 0, &receiver);
  if (!channel.Start({fps, 50, 1280, 1024})) return 1;
  // Measure a steady stretch: from the first frame to the end.
  if (!receiver.WaitForFrames(1, std::chrono::seconds(20))) {
    std::fprintf(stderr, "no frame arrived\n");
    return 1;
  }
  const uint64_t pushed_at_start = sim.camera().counters().jpeg_frames_sent;
  const size_t frames_at_start = receiver.frame_count();
  const double cpu_at_start = worker_cpu;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const uint64_t pushed = sim.camera().counters().jpeg_frames_sent - pushed_at_start;
  const size_t delivered = receiver.frame_count() - frames_at_start;
  const double cpu = worker_cpu - cpu_at_start;
  channel.Stop();

  std::printf(
      "model %s, channel fps %u, %d s: pushed %llu, delivered %zu (ratio %.4f), "
      "%.1f fps, %.0f kbit/s, worker CPU %.3f s = %.1f us per frame, signal lost %zu\n",
      model.c_str(), fps, seconds, static_cast<unsigned long long>(pushed), delivered,
      pushed ? double(delivered) / double(pushed) : 0.0, double(delivered) / seconds,
      double(bytes) * 8 / 1000 / (seconds + 0.0), cpu,
      delivered ? cpu / double(delivered) * 1e6 : 0.0, receiver.signal_lost_count());
  return 0;
}
