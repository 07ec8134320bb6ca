// `veltrano record`: records video from a device the way a recorder does:
// run the capability query, open the driver with the reported properties as
// camera parameters (--param overrides one), start video input 0 with the
// requested settings, write what arrives, stop and close.
//
// Output: one stream file in --out (video.mjpeg: the JPEG pictures one after
// the other; video.h264: the Annex B access units) and, with --frames, one
// numbered file per frame. A progress line on stderr shows status, fps,
// kbit/s and frames; the summary goes to stdout, as one JSON object with
// --json.
//
// Threading: frames arrive on the driver's threads and are written there by
// the Recording object (its own lock); the main thread polls the channel
// state, prints progress and owns everything else.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "args.h"
#include "command.h"
#include "host.h"
#include "recorder/capability_host.h"
#include "recorder/frame_receiver.h"
#include "recorder/video_params.h"

namespace veltrano_cli {
namespace {

using Clock = std::chrono::steady_clock;

// Longer than the worst capability query (about twenty requests of at most
// 5 s each).
constexpr std::chrono::seconds kQueryTimeout{150};
constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr auto kProgressInterval = std::chrono::seconds(1);
// Log lines kept for the summary; a device in trouble can log a lot.
constexpr size_t kMaxSummaryLogLines = 200;

std::atomic<bool> g_interrupted{false};
void OnSignal(int) { g_interrupted = true; }

const char* CompressionName(uint32_t code) {
  switch (code) {
    case korvela::ipcapture::kCompressionJpeg:
      return "JPEG";
    case korvela::ipcapture::kCompressionH264:
      return "H264";
    case korvela::ipcapture::kCompressionI264:
      return "I264";
    default:
      return "other";
  }
}

const char* StatusName(uint32_t status) {
  switch (status) {
    case 0:
      return "receiving";
    case 2:
      return "signal lost/stopped";
    default:
      return "failed";
  }
}

// "1280x1024" -> width, height (both from 1 to 65535).
bool ParseSize(const std::string& text, uint32_t* width, uint32_t* height) {
  const size_t x = text.find('x');
  if (x == std::string::npos) return false;
  uint64_t w = 0, h = 0;
  if (!ParseUint(text.substr(0, x), 1, 65535, &w) || !ParseUint(text.substr(x + 1), 1, 65535, &h))
    return false;
  *width = static_cast<uint32_t>(w);
  *height = static_cast<uint32_t>(h);
  return true;
}

// Writes every frame as it arrives and keeps the summary counters.
class Recording {
 public:
  Recording(std::string dir, bool numbered_frames)
      : dir_(std::move(dir)), numbered_(numbered_frames) {}
  ~Recording() {
    if (stream_ != nullptr) std::fclose(stream_);
  }

  // The channel is about to start: firstFrameMs counts from here.
  void MarkStart() {
    std::lock_guard<std::mutex> lock(mutex_);
    start_ = Clock::now();
  }

  void OnFrame(const korvela::recorder::ReceivedFrame& frame) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (frames_ == 0) {
      first_frame_ms_ = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count();
    }
    ++frames_;
    bytes_ += frame.data.size();
    ++by_compression_[CompressionName(frame.compression)];
    width_ = frame.width;
    height_ = frame.height;
    const bool jpeg = frame.compression == korvela::ipcapture::kCompressionJpeg;
    if (stream_ == nullptr && !write_failed_) {
      const std::string path = dir_ + (jpeg ? "/video.mjpeg" : "/video.h264");
      stream_ = std::fopen(path.c_str(), "wb");
      if (stream_ == nullptr) Fail(path);
    }
    if (stream_ != nullptr &&
        std::fwrite(frame.data.data(), 1, frame.data.size(), stream_) != frame.data.size()) {
      Fail(dir_);
    }
    if (numbered_ && !write_failed_) {
      char name[64];
      std::snprintf(name, sizeof(name), "/frame_%06llu.%s",
                    static_cast<unsigned long long>(frames_), jpeg ? "jpg" : "h264");
      std::FILE* f = std::fopen((dir_ + name).c_str(), "wb");
      if (f == nullptr ||
          std::fwrite(frame.data.data(), 1, frame.data.size(), f) != frame.data.size()) {
        Fail(dir_ + name);
      }
      if (f != nullptr) std::fclose(f);
    }
  }

  // Flushes the stream file; false when anything could not be written.
  bool Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stream_ != nullptr && std::fclose(stream_) != 0) Fail(dir_);
    stream_ = nullptr;
    return !write_failed_;
  }

  uint64_t frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  uint64_t bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }
  std::string write_error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return write_error_;
  }

  // The summary fields this object knows, as JSON members (no braces).
  std::string JsonMembers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out = "\"frames\": " + std::to_string(frames_) +
                      ", \"bytes\": " + std::to_string(bytes_) + ", \"compression\": {";
    bool first = true;
    for (const auto& [name, count] : by_compression_) {
      out +=
          (first ? "" : ", ") + korvela::recorder::JsonQuote(name) + ": " + std::to_string(count);
      first = false;
    }
    out += "}, \"width\": " + std::to_string(width_) + ", \"height\": " + std::to_string(height_) +
           ", \"firstFrameMs\": " + (frames_ > 0 ? std::to_string(first_frame_ms_) : "null");
    return out;
  }

 private:
  void Fail(const std::string& what) {
    if (!write_failed_) write_error_ = what + ": " + std::strerror(errno);
    write_failed_ = true;
  }

  const std::string dir_;
  const bool numbered_;
  mutable std::mutex mutex_;
  Clock::time_point start_ = Clock::now();          // guarded by mutex_
  std::FILE* stream_ = nullptr;                     // guarded by mutex_
  uint64_t frames_ = 0;                             // guarded by mutex_
  uint64_t bytes_ = 0;                              // guarded by mutex_
  std::map<std::string, uint64_t> by_compression_;  // guarded by mutex_
  uint32_t width_ = 0, height_ = 0;                 // guarded by mutex_
  long long first_frame_ms_ = 0;                    // guarded by mutex_
  bool write_failed_ = false;                       // guarded by mutex_
  std::string write_error_;                         // guarded by mutex_
};

struct StatusChange {
  long long ms;
  uint32_t status;
};

std::string SummaryJson(const Recording& recording, const std::vector<StatusChange>& changes,
                        size_t signal_lost, const korvela::recorder::DebugSink& sink) {
  std::string out = "{" + recording.JsonMembers() + ", \"statusChanges\": [";
  for (size_t i = 0; i < changes.size(); ++i) {
    out += (i ? ", " : "") + std::string("{\"ms\": ") + std::to_string(changes[i].ms) +
           ", \"status\": " + std::to_string(changes[i].status) + "}";
  }
  out += "], \"signalLost\": " + std::to_string(signal_lost) + ", \"log\": [";
  const auto lines = sink.Lines();
  const size_t first = lines.size() > kMaxSummaryLogLines ? lines.size() - kMaxSummaryLogLines : 0;
  for (size_t i = first; i < lines.size(); ++i) {
    out += (i > first ? ", " : "") + std::string("{\"level\": ") + std::to_string(lines[i].level) +
           ", \"text\": " + korvela::recorder::JsonQuote(lines[i].text) + "}";
  }
  return out + "]}";
}

}  // namespace

int RunRecord(const std::vector<std::string>& args) {
  ArgParser parser;
  AddDeviceOptions(parser);
  parser.Option("stream", "mjpeg (Motion-JPEG over HTTP) or h264 (H.264 over RTSP)", "mjpeg");
  parser.Option("seconds", "how long to record (default 10)", "10");
  parser.Option("out", "folder for the recorded files (created if missing)");
  parser.Option("fps", "frame rate (default 25)", "25");
  parser.Option("quality", "quality in per cent (default 50)", "50");
  parser.Option("size", "picture size WxH (default: the camera's maximum)");
  parser.Flag("frames", "also write every frame to its own numbered file");
  parser.Flag("json", "print the summary as one JSON object");
  DeviceOptions device;
  std::string error;
  const auto usage = [&](const std::string& message) {
    std::fprintf(stderr, "veltrano record: %s\n%s", message.c_str(), parser.Help().c_str());
    return kExitUsage;
  };
  if (!parser.Parse(args) || !ReadDeviceOptions(parser, &device, &error))
    return usage(parser.error().empty() ? error : parser.error());
  const std::string stream = parser.Get("stream");
  if (stream != "mjpeg" && stream != "h264") return usage("--stream must be mjpeg or h264");
  uint64_t seconds = 0, fps = 0, quality = 0;
  if (!parser.GetUint("seconds", 1, 86400, &seconds) || !parser.GetUint("fps", 0, 1000, &fps) ||
      !parser.GetUint("quality", 0, 100, &quality)) {
    return usage(parser.error());
  }
  uint32_t width = 0, height = 0;
  if (parser.Has("size") && !ParseSize(parser.Get("size"), &width, &height))
    return usage("--size must be WxH, e.g. 1280x1024");
  const std::string out_dir = parser.Get("out");
  if (out_dir.empty()) return usage("--out is required");
  if (::mkdir(out_dir.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "veltrano record: %s: %s\n", out_dir.c_str(), std::strerror(errno));
    return kExitIoFailed;
  }
  const bool json = parser.Has("json");

  // Declared before the host: the driver (and its threads) goes first.
  Recording recording(out_dir, parser.Has("frames"));
  korvela::recorder::FrameReceiver receiver(/*keep=*/1);
  receiver.SetObserver([&recording](const auto& frame) { recording.OnFrame(frame); });
  CliHost host;
  if (!host.Load(&error)) {
    std::fprintf(stderr, "veltrano record: %s\n", error.c_str());
    return kExitLoadFailed;
  }

  // Like a recorder: what the capability query reports becomes the camera
  // parameters of the driver.
  korvela::recorder::CapabilityHost capabilities;
  korvela::recorder::CapabilityQueryRequest query;
  query.address = device.host;
  query.port = device.port;
  query.user = device.user;
  query.password = device.password;
  if (!korvela::recorder::RunCapabilityQuery(host.library().exports(), query, kQueryTimeout,
                                             capabilities, &error)) {
    std::fprintf(stderr, "veltrano record: capability query: %s\n", error.c_str());
    return kExitDeviceFailed;
  }
  const korvela::recorder::CapabilityResult found = capabilities.Snapshot();
  if (found.outcome != korvela::recorder::CapabilityResult::Outcome::kCompleted) {
    std::fprintf(stderr, "veltrano record: capability query failed: %s\n",
                 found.failure_message.c_str());
    return kExitDeviceFailed;
  }
  std::map<uint32_t, std::string> params = capabilities.CameraParameters();
  for (const auto& [index, text] : device.params) params[index] = text;
  device.params = params;
  if (width == 0 && (!params.count(6) || !ParseSize(params[6], &width, &height))) {
    width = 640;
    height = 480;
  }

  const uint32_t stream_type = stream == "mjpeg" ? korvela::ipcapture::kStreamMjpegHttp
                                                 : korvela::ipcapture::kStreamH264Rtsp;
  if (!host.Open(device, stream_type, found.name, &error)) {
    std::fprintf(stderr, "veltrano record: %s\n", error.c_str());
    return kExitDeviceFailed;
  }
  korvela::ipcapture::IIPVideoCapture* video = host.driver()->GetVideoCapture();
  korvela::recorder::VideoParams video_params(static_cast<uint32_t>(fps),
                                              static_cast<uint32_t>(quality), width, height);
  recording.MarkStart();
  if (video == nullptr || !video->StartChannel(0, &receiver, &video_params)) {
    std::fprintf(stderr, "veltrano record: the driver did not start video input 0\n");
    return kExitDeviceFailed;
  }
  std::fprintf(stderr, "veltrano record: %s %ux%u at %llu fps, quality %llu, for %llu s\n",
               stream.c_str(), width, height, static_cast<unsigned long long>(fps),
               static_cast<unsigned long long>(quality), static_cast<unsigned long long>(seconds));

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  std::vector<StatusChange> changes;
  const Clock::time_point recording_start = Clock::now();
  const Clock::time_point deadline = recording_start + std::chrono::seconds(seconds);
  Clock::time_point next_progress = recording_start + kProgressInterval;
  uint64_t last_frames = 0, last_bytes = 0;
  uint32_t status = 0;
  while (!g_interrupted && Clock::now() < deadline) {
    uint32_t error_code = 0;
    char text[256] = {};
    if (video->GetChannelState(0, &status, &error_code, text, sizeof(text)) &&
        (changes.empty() || changes.back().status != status)) {
      changes.push_back(
          {std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - recording_start)
               .count(),
           status});
    }
    if (Clock::now() >= next_progress) {
      const uint64_t frames = recording.frames(), bytes = recording.bytes();
      const double secs = std::chrono::duration<double>(kProgressInterval).count();
      std::fprintf(stderr, "\rstatus %-19s | %5.1f fps | %7.0f kbit/s | frames %llu   ",
                   StatusName(status), (frames - last_frames) / secs,
                   (bytes - last_bytes) * 8 / 1000.0 / secs,
                   static_cast<unsigned long long>(frames));
      std::fflush(stderr);
      last_frames = frames;
      last_bytes = bytes;
      next_progress += kProgressInterval;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  video->StopChannel(0);
  host.Close();
  std::fprintf(stderr, "\n");

  const bool written = recording.Finish();
  const size_t signal_lost = receiver.signal_lost_count();
  if (json) {
    std::printf("%s\n", SummaryJson(recording, changes, signal_lost, host.sink()).c_str());
  } else {
    std::printf("frames %llu, bytes %llu, signal lost %zu, files in %s\n",
                static_cast<unsigned long long>(recording.frames()),
                static_cast<unsigned long long>(recording.bytes()), signal_lost, out_dir.c_str());
  }
  if (!written) {
    std::fprintf(stderr, "veltrano record: %s\n", recording.write_error().c_str());
    return kExitIoFailed;
  }
  return recording.frames() > 0 ? kExitOk : kExitDataFailed;
}

}  // namespace veltrano_cli

VELTRANO_COMMAND(record, "record", "record video from a device into files",
                 "--host H [--port P] --user U --password W --stream mjpeg|h264 --seconds N "
                 "--out DIR [--fps F] [--quality Q] [--size WxH] [--param N=V ...] [--frames] "
                 "[--json]",
                 veltrano_cli::RunRecord);
