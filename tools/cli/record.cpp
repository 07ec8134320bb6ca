// `veltrano record`: records video from a device the way a recorder does:
// run the capability query, open the driver with the reported properties as
// camera parameters (--param overrides one), start video input 0 with the
// requested settings, write what arrives, stop and close.
//
// Output: one stream file in --out (video.mjpeg: the JPEG pictures one after
// the other; video.h264: the Annex B access units as the recorder received
// them, less the last unit's trailing delimiter header) and, with --frames, one numbered file per
// frame. With --audio the device's audio input 0 is recorded too: audio.ul (the G.711 mu-law
// bytes in order) and, with --wav, audio.wav. A progress line on stderr shows status, fps,
// kbit/s and frames (H.264: and key frames); the summary goes to stdout, as one JSON object with
// --json (H.264 adds the key frames, the most frequent key-frame distance and the first key
// frame's time).
//
// Threading: frames arrive on the driver's threads and are written there by
// the Recording object (its own lock); the main thread polls the channel
// state, prints progress and owns everything else.
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "audio_files.h"
#include "command.h"
#include "host.h"
#include "options.h"
#include "recorder/audio_host.h"
#include "recorder/capability_host.h"
#include "recorder/frame_receiver.h"
#include "recorder/video_params.h"
#include "util/mutex.h"

namespace veltrano_cli {
namespace {

namespace ipcapture = korvela::ipcapture;
using Clock = std::chrono::steady_clock;

// Longer than the worst capability query (about twenty requests of at most
// 5 s each).
constexpr std::chrono::seconds kQueryTimeout{150};
constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr auto kProgressInterval = std::chrono::seconds(1);
// Log lines kept for the summary; a device in trouble can log a lot.
constexpr size_t kMaxSummaryLogLines = 200;
// Picture size when neither --size nor the device's maximum resolution says.
constexpr uint32_t kFallbackWidth = 640;
constexpr uint32_t kFallbackHeight = 480;

// What the driver appends to every H.264 access unit: a start code and an
// access-unit-delimiter header.
constexpr std::array<uint8_t, 5> kUnitTrailer = {0, 0, 0, 1, 9};

std::atomic<bool> g_interrupted{false};
void OnSignal(int) { g_interrupted = true; }

struct RecordOptions {
  DeviceOptions device;
  std::string stream = "mjpeg";
  uint64_t seconds = 10;
  std::string out;
  uint64_t fps = 25;
  uint64_t quality = 50;
  std::string size;        // empty: the camera's maximum
  uint64_t rtsp_port = 0;  // 0: the camera's own (camera parameter 2)
  bool frames = false;
  bool json = false;
  bool audio = false;
  bool wav = false;
};

long long MillisSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

const char* CompressionName(uint32_t code) {
  switch (code) {
    case ipcapture::kCompressionJpeg:
      return "JPEG";
    case ipcapture::kCompressionH264:
      return "H264";
    case ipcapture::kCompressionI264:
      return "I264";
    default:
      return "other";
  }
}

const char* StatusName(uint32_t status) {
  switch (status) {
    case ipcapture::kChannelReceiving:
      return "receiving";
    case ipcapture::kChannelSignalLost:  // a stopped channel reports this too
      return "signal lost/stopped";
    default:
      return "failed";
  }
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
    korvela::MutexLock lock(mutex_);
    start_ = Clock::now();
  }

  void OnFrame(const korvela::recorder::ReceivedFrame& frame) {
    korvela::MutexLock lock(mutex_);
    if (frames_ == 0) first_frame_ms_ = MillisSince(start_);
    ++frames_;
    bytes_ += frame.data.size();
    ++by_compression_[CompressionName(frame.compression)];
    if (frame.compression == ipcapture::kCompressionH264) CountKeyFrame();
    width_ = frame.width;
    height_ = frame.height;
    const bool jpeg = frame.compression == ipcapture::kCompressionJpeg;
    WriteToStream(frame, jpeg ? "/video.mjpeg" : "/video.h264");
    if (numbered_) WriteNumbered(frame, jpeg ? "jpg" : "h264");
  }

  // Flushes the stream file; false when anything could not be written.
  bool Finish() {
    korvela::MutexLock lock(mutex_);
    // The delimiter header the driver appends to every access unit opens the
    // next one; after the last unit it would be an empty unit that decoders
    // complain about.
    if (stream_ != nullptr && unit_trailer_open_ &&
        (std::fflush(stream_) != 0 ||
         ::ftruncate(::fileno(stream_),
                     ::ftello(stream_) - static_cast<off_t>(kUnitTrailer.size())) != 0)) {
      Fail(dir_);
    }
    if (stream_ != nullptr && std::fclose(stream_) != 0) Fail(dir_);
    stream_ = nullptr;
    return !write_failed_;
  }

  uint64_t frames() const {
    korvela::MutexLock lock(mutex_);
    return frames_;
  }
  uint64_t bytes() const {
    korvela::MutexLock lock(mutex_);
    return bytes_;
  }
  uint64_t key_frames() const {
    korvela::MutexLock lock(mutex_);
    return key_frames_;
  }
  std::string write_error() const {
    korvela::MutexLock lock(mutex_);
    return write_error_;
  }

  // The summary fields this object knows.
  nlohmann::ordered_json Summary() const {
    korvela::MutexLock lock(mutex_);
    nlohmann::ordered_json summary;
    summary["frames"] = frames_;
    summary["bytes"] = bytes_;
    summary["compression"] = nlohmann::ordered_json::object();
    for (const auto& [name, count] : by_compression_) summary["compression"][name] = count;
    summary["width"] = width_;
    summary["height"] = height_;
    summary["firstFrameMs"] = frames_ > 0 ? nlohmann::ordered_json(first_frame_ms_) : nullptr;
    return summary;
  }

  // The H.264 fields: key frames, the most frequent distance between two
  // (in frames) and when the first came.
  void AddKeyFrameSummary(nlohmann::ordered_json& summary) const {
    korvela::MutexLock lock(mutex_);
    summary["keyFrames"] = key_frames_;
    uint64_t gop = 0, seen = 0;
    for (const auto& [distance, count] : key_frame_distances_) {
      if (count > seen) std::tie(gop, seen) = std::pair(distance, count);
    }
    summary["gop"] = seen > 0 ? nlohmann::ordered_json(gop) : nullptr;
    summary["firstKeyFrameMs"] =
        key_frames_ > 0 ? nlohmann::ordered_json(first_key_frame_ms_) : nullptr;
  }

 private:
  void WriteToStream(const korvela::recorder::ReceivedFrame& frame, const char* name)
      REQUIRES(mutex_) {
    unit_trailer_open_ = frame.data.size() >= kUnitTrailer.size() &&
                         std::equal(kUnitTrailer.begin(), kUnitTrailer.end(),
                                    frame.data.end() - kUnitTrailer.size());
    if (stream_ == nullptr && !write_failed_) {
      const std::string path = dir_ + name;
      stream_ = std::fopen(path.c_str(), "wb");
      if (stream_ == nullptr) Fail(path);
      // One write per frame: through a 4 KiB stdio buffer a picture took two.
      if (stream_ != nullptr) std::setvbuf(stream_, nullptr, _IONBF, 0);
    }
    if (stream_ != nullptr &&
        std::fwrite(frame.data.data(), 1, frame.data.size(), stream_) != frame.data.size()) {
      Fail(dir_);
    }
  }

  void CountKeyFrame() REQUIRES(mutex_) {
    if (key_frames_ == 0) first_key_frame_ms_ = MillisSince(start_);
    if (key_frames_ > 0) ++key_frame_distances_[frames_ - last_key_frame_];
    ++key_frames_;
    last_key_frame_ = frames_;
  }

  void WriteNumbered(const korvela::recorder::ReceivedFrame& frame, const char* extension)
      REQUIRES(mutex_) {
    if (write_failed_) return;
    char name[64];
    std::snprintf(name, sizeof(name), "/frame_%06llu.%s", static_cast<unsigned long long>(frames_),
                  extension);
    std::FILE* f = std::fopen((dir_ + name).c_str(), "wb");
    if (f == nullptr ||
        std::fwrite(frame.data.data(), 1, frame.data.size(), f) != frame.data.size()) {
      Fail(dir_ + name);
    }
    if (f != nullptr) std::fclose(f);
  }

  void Fail(const std::string& what) REQUIRES(mutex_) {
    if (!write_failed_) write_error_ = what + ": " + std::strerror(errno);
    write_failed_ = true;
  }

  const std::string dir_;
  const bool numbered_;
  mutable korvela::Mutex mutex_;
  Clock::time_point start_ GUARDED_BY(mutex_) = Clock::now();
  std::FILE* stream_ GUARDED_BY(mutex_) = nullptr;
  uint64_t frames_ GUARDED_BY(mutex_) = 0;
  uint64_t bytes_ GUARDED_BY(mutex_) = 0;
  std::map<std::string, uint64_t> by_compression_ GUARDED_BY(mutex_);
  uint32_t width_ GUARDED_BY(mutex_) = 0;
  uint32_t height_ GUARDED_BY(mutex_) = 0;
  long long first_frame_ms_ GUARDED_BY(mutex_) = 0;
  uint64_t key_frames_ GUARDED_BY(mutex_) = 0;
  uint64_t last_key_frame_ GUARDED_BY(mutex_) = 0;  // frame number
  long long first_key_frame_ms_ GUARDED_BY(mutex_) = 0;
  // Distance between consecutive key frames -> how often it occurred.
  std::map<uint64_t, uint64_t> key_frame_distances_ GUARDED_BY(mutex_);
  bool write_failed_ GUARDED_BY(mutex_) = false;
  bool unit_trailer_open_ GUARDED_BY(mutex_) = false;  // the stream ends with kUnitTrailer
  std::string write_error_ GUARDED_BY(mutex_);
};

struct StatusChange {
  long long ms;
  uint32_t status;
};

bool MakeOutputFolder(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) return true;
  std::fprintf(stderr, "veltrano record: %s: %s\n", dir.c_str(), std::strerror(errno));
  return false;
}

// Like a recorder: what the capability query reports becomes the camera
// parameters of the driver, under the user's --param items. Fills the model
// name the recorder would show; false (after saying why) when the query
// failed.
bool QueryCameraParameters(CliHost& host, DeviceOptions& device, std::string& model) {
  korvela::recorder::CapabilityHost capabilities;
  korvela::recorder::CapabilityQueryRequest query;
  query.address = device.host;
  query.port = device.port;
  query.user = device.user;
  query.password = device.password;
  std::string error;
  if (!korvela::recorder::RunCapabilityQuery(host.library().exports(), query, kQueryTimeout,
                                             capabilities, &error)) {
    std::fprintf(stderr, "veltrano record: capability query: %s\n", error.c_str());
    return false;
  }
  const korvela::recorder::CapabilityResult found = capabilities.Snapshot();
  if (found.outcome != korvela::recorder::CapabilityResult::Outcome::kCompleted) {
    std::fprintf(stderr, "veltrano record: capability query failed: %s\n",
                 found.failure_message.c_str());
    return false;
  }
  std::map<uint32_t, std::string> params = capabilities.CameraParameters();
  for (const auto& [index, text] : device.params) params[index] = text;
  device.params = std::move(params);
  model = found.name;
  return true;
}

// --size, else the camera's maximum resolution, else the fallback.
korvela::recorder::PictureSize ChoosePictureSize(const std::string& size,
                                                 const std::map<uint32_t, std::string>& params) {
  uint32_t width = 0, height = 0;
  if (ParseSize(size, &width, &height)) return {width, height};
  const auto maximum = params.find(ipcapture::kParamMaximumResolution);
  if (maximum != params.end() && ParseSize(maximum->second, &width, &height))
    return {width, height};
  return {kFallbackWidth, kFallbackHeight};
}

// Polls the channel state until the time is up or the user interrupts;
// prints a progress line every second. Returns every status change.
std::vector<StatusChange> WatchChannel(ipcapture::IIPVideoCapture& video,
                                       const Recording& recording, uint64_t seconds, bool h264) {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  std::vector<StatusChange> changes;
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::seconds(seconds);
  Clock::time_point next_progress = start + kProgressInterval;
  uint64_t last_frames = 0, last_bytes = 0;
  uint32_t status = ipcapture::kChannelReceiving;
  while (!g_interrupted && Clock::now() < deadline) {
    uint32_t error_code = 0;
    char text[256] = {};
    if (video.GetChannelState(0, &status, &error_code, text, sizeof(text)) &&
        (changes.empty() || changes.back().status != status)) {
      changes.push_back({MillisSince(start), status});
    }
    if (Clock::now() >= next_progress) {
      const uint64_t frames = recording.frames(), bytes = recording.bytes();
      const double secs = std::chrono::duration<double>(kProgressInterval).count();
      std::fprintf(stderr, "\rstatus %-19s | %5.1f fps | %7.0f kbit/s | frames %llu",
                   StatusName(status), (frames - last_frames) / secs,
                   (bytes - last_bytes) * 8 / 1000.0 / secs,
                   static_cast<unsigned long long>(frames));
      if (h264) {
        std::fprintf(stderr, " | key frames %llu",
                     static_cast<unsigned long long>(recording.key_frames()));
      }
      std::fprintf(stderr, "   ");
      std::fflush(stderr);
      last_frames = frames;
      last_bytes = bytes;
      next_progress += kProgressInterval;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  std::fprintf(stderr, "\n");
  return changes;
}

nlohmann::ordered_json SummaryJson(const Recording& recording, bool h264,
                                   const AudioRecording* audio,
                                   const std::vector<StatusChange>& changes, size_t signal_lost,
                                   const korvela::recorder::DebugSink& sink) {
  nlohmann::ordered_json summary = recording.Summary();
  if (h264) recording.AddKeyFrameSummary(summary);
  if (audio != nullptr) summary["audio"] = audio->Summary();
  summary["statusChanges"] = nlohmann::ordered_json::array();
  for (const StatusChange& change : changes)
    summary["statusChanges"].push_back({{"ms", change.ms}, {"status", change.status}});
  summary["signalLost"] = signal_lost;
  summary["log"] = nlohmann::ordered_json::array();
  const auto lines = sink.Lines();
  const size_t first = lines.size() > kMaxSummaryLogLines ? lines.size() - kMaxSummaryLogLines : 0;
  for (size_t i = first; i < lines.size(); ++i)
    summary["log"].push_back({{"level", lines[i].level}, {"text", lines[i].text}});
  return summary;
}

// Opens the driver with the queried parameters and starts video input 0;
// null (after saying why) when either fails.
ipcapture::IIPVideoCapture* StartVideo(const RecordOptions& options, const DeviceOptions& device,
                                       const std::string& model,
                                       korvela::recorder::PictureSize& size, CliHost& host,
                                       korvela::recorder::FrameReceiver& receiver,
                                       Recording& recording) {
  const uint32_t stream_type =
      options.stream == "h264" ? ipcapture::kStreamH264Rtsp : ipcapture::kStreamMjpegHttp;
  std::string error;
  if (!host.Open(device, stream_type, model, &error)) {
    std::fprintf(stderr, "veltrano record: %s\n", error.c_str());
    return nullptr;
  }
  ipcapture::IIPVideoCapture* video = host.driver()->GetVideoCapture();
  // The driver reads the parameters during StartChannel only.
  korvela::recorder::VideoParams params(static_cast<uint32_t>(options.fps),
                                        static_cast<uint32_t>(options.quality), size.GetWidth(),
                                        size.GetHeight());
  recording.MarkStart();
  if (video == nullptr || !video->StartChannel(0, &receiver, &params)) {
    std::fprintf(stderr, "veltrano record: the driver did not start video input 0\n");
    return nullptr;
  }
  std::fprintf(stderr, "veltrano record: %s %ux%u at %llu fps, quality %llu, for %llu s\n",
               options.stream.c_str(), size.GetWidth(), size.GetHeight(),
               static_cast<unsigned long long>(options.fps),
               static_cast<unsigned long long>(options.quality),
               static_cast<unsigned long long>(options.seconds));
  return video;
}

// Closes the files, prints the summary and says how the recording went.
int Summarise(const RecordOptions& options, Recording& recording, AudioRecording* audio,
              const std::vector<StatusChange>& changes, size_t signal_lost,
              const korvela::recorder::DebugSink& sink) {
  const bool written = recording.Finish();
  const bool audio_written = audio == nullptr || audio->Finish();
  if (options.json) {
    std::printf("%s\n", korvela::recorder::JsonText(SummaryJson(recording, options.stream == "h264",
                                                                audio, changes, signal_lost, sink))
                            .c_str());
  } else {
    std::printf("frames %llu, bytes %llu, signal lost %zu, files in %s\n",
                static_cast<unsigned long long>(recording.frames()),
                static_cast<unsigned long long>(recording.bytes()), signal_lost,
                options.out.c_str());
    if (audio != nullptr) {
      std::printf("audio frames %llu, bytes %llu\n",
                  static_cast<unsigned long long>(audio->frames()),
                  static_cast<unsigned long long>(audio->bytes()));
    }
  }
  if (!written || !audio_written) {
    std::fprintf(stderr, "veltrano record: %s\n",
                 (!written ? recording.write_error() : audio->write_error()).c_str());
    return kExitIoFailed;
  }
  const bool audio_ok = audio == nullptr || audio->frames() > 0;
  return recording.frames() > 0 && audio_ok ? kExitOk : kExitDataFailed;
}

// Opens the device's audio input 0 into `audio`; false (after saying why)
// when the driver has no audio input or the channel does not start.
bool StartAudio(CliHost& host, AudioRecording& audio, korvela::recorder::AudioFormatList& formats) {
  ipcapture::IIPAudioCapture2* capture = host.driver()->GetAudioCapture2();
  if (capture == nullptr) {
    std::fprintf(stderr, "veltrano record: the device reports no audio input\n");
    return false;
  }
  audio.MarkStart();
  if (!capture->OpenChannel(0, 0, &audio, &formats)) {
    std::fprintf(stderr, "veltrano record: the driver did not start audio input 0\n");
    return false;
  }
  return true;
}

int RunRecord(const RecordOptions& options) {
  if (!MakeOutputFolder(options.out)) return kExitIoFailed;

  // Declared before the host: the driver (and its threads) goes first.
  Recording recording(options.out, options.frames);
  std::unique_ptr<AudioRecording> audio;
  if (options.audio) audio = std::make_unique<AudioRecording>(options.out, options.wav);
  korvela::recorder::AudioFormatList audio_formats;
  korvela::recorder::FrameReceiver receiver(/*keep=*/1);
  receiver.SetObserver([&recording](const auto& frame) { recording.OnFrame(frame); });
  CliHost host;
  std::string error;
  if (!host.Load(&error)) {
    std::fprintf(stderr, "veltrano record: %s\n", error.c_str());
    return kExitLoadFailed;
  }
  DeviceOptions device = options.device;
  std::string model;
  if (!QueryCameraParameters(host, device, model))
    return ReportDeviceFailure("record", kExitDeviceFailed, options.device);
  if (options.rtsp_port != 0)
    device.params[ipcapture::kParamRtspPort] = std::to_string(options.rtsp_port);
  korvela::recorder::PictureSize size = ChoosePictureSize(options.size, device.params);
  ipcapture::IIPVideoCapture* video =
      StartVideo(options, device, model, size, host, receiver, recording);
  if (video == nullptr) return ReportDeviceFailure("record", kExitDeviceFailed, options.device);
  if (audio && !StartAudio(host, *audio, audio_formats)) return kExitDeviceFailed;

  const std::vector<StatusChange> changes =
      WatchChannel(*video, recording, options.seconds, options.stream == "h264");
  video->StopChannel(0);
  if (audio) host.driver()->GetAudioCapture2()->CloseChannel(0);
  host.Close();
  return Summarise(options, recording, audio.get(), changes, receiver.signal_lost_count(),
                   host.sink());
}

std::function<int()> SetupRecord(CLI::App& app) {
  auto options = std::make_shared<RecordOptions>();
  AddDeviceOptions(app, options->device);
  app.add_option("--stream", options->stream,
                 "mjpeg (Motion-JPEG over HTTP) or h264 (H.264 over RTSP)")
      ->check(CLI::IsMember({"mjpeg", "h264"}))
      ->capture_default_str();
  app.add_option("--seconds", options->seconds, "how long to record")
      ->transform(Decimal())
      ->check(CLI::Range(uint64_t{1}, uint64_t{86400}))
      ->capture_default_str();
  app.add_option("--out", options->out, "folder for the recorded files (created if missing)")
      ->required()
      ->check(NotEmpty());
  app.add_option("--fps", options->fps, "frame rate")
      ->transform(Decimal())
      ->check(CLI::Range(uint64_t{0}, uint64_t{1000}))
      ->capture_default_str();
  app.add_option("--quality", options->quality, "quality in per cent")
      ->transform(Decimal())
      ->check(CLI::Range(uint64_t{0}, uint64_t{100}))
      ->capture_default_str();
  app.add_option("--size", options->size, "picture size WxH (default: the camera's maximum)")
      ->check(SizeValidator());
  app.add_option("--rtsp-port", options->rtsp_port,
                 "RTSP port to use instead of the camera's (H.264)")
      ->transform(Decimal())
      ->check(CLI::Range(uint64_t{1}, uint64_t{65535}));
  app.add_flag("--frames", options->frames, "also write every frame to its own numbered file");
  app.add_flag("--json", options->json, "print the summary as one JSON object");
  CLI::Option* audio =
      app.add_flag("--audio", options->audio, "also record audio input 0 into audio.ul");
  app.add_flag("--wav", options->wav, "with --audio, also write audio.wav")->needs(audio);
  return [options] { return RunRecord(*options); };
}

}  // namespace
}  // namespace veltrano_cli

VELTRANO_COMMAND(record, "record", "record video from a device into files",
                 veltrano_cli::SetupRecord);
