// Time to first frame, step by step: one channel of each stream type is
// started against the in-process camera simulator, and every step between
// Start and the first frame the recorder receives is timed from outside the
// driver, by what its peers see:
//   - the simulator's request records (when each HTTP or RTSP connection was
//     taken, when each request arrived, when it was answered), and when its
//     media pump counted the first RTP packet or picture as sent;
//   - the local UDP ports of this process in the driver's RTP port range,
//     polled from /proc every millisecond: the RTP port is bound when the
//     stray-RTP probe begins, the RTCP port above it when the probe has ended;
//   - the recorder's callbacks (first frame, audio state changes) and the
//     driver's log lines, each timed as it arrives.
// Nothing in the driver is changed or instrumented.
//
// Usage: first_frame [runs=5] [mjpeg|h264|audio|all] [-v]
//   -v prints every run's whole timeline.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include "base/testing/recording_log.h"
#include "camsim/camsim.h"
#include "channels/audio_capture_channel.h"
#include "channels/h264_channel_rtsp.h"
#include "channels/mjpeg_channel_http.h"
#include "channels/rtp_port_pair.h"
#include "core/testing/fake_driver.h"
#include "recorder/audio_host.h"
#include "recorder/frame_allocator.h"
#include "recorder/frame_receiver.h"
#include "simulated_camera.h"

namespace {

using Clock = std::chrono::steady_clock;
using Time = Clock::time_point;

double Ms(Time from, Time to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// A FakeDriver whose log lines carry the time they arrived.
class TimedDriver : public korvela::testing::FakeDriver {
 public:
  void Message(uint32_t level, const char* format, ...) override KORVELA_PRINTF_FORMAT(3, 4) {
    va_list args;
    va_start(args, format);
    std::string text = korvela::testing::FormatV(format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back({Clock::now(), std::to_string(level) + " " + text});
  }
  std::vector<std::pair<Time, std::string>> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<Time, std::string>> lines_;
};

// Socket inodes of this process.
std::set<unsigned long> OwnSocketInodes() {
  std::set<unsigned long> inodes;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      char target[64] = {};
      const std::string link = std::string("/proc/self/fd/") + e->d_name;
      if (::readlink(link.c_str(), target, sizeof target - 1) > 0) {
        unsigned long inode = 0;
        if (std::sscanf(target, "socket:[%lu]", &inode) == 1) inodes.insert(inode);
      }
    }
    ::closedir(dir);
  }
  return inodes;
}

// When each UDP port of this process in the driver's RTP range was first seen
// bound. Another process's sockets there (other tests on the machine) are
// told apart by their inodes.
class UdpPortWatcher {
 public:
  UdpPortWatcher() {
    thread_ = std::thread([this] { Run(); });
  }
  ~UdpPortWatcher() {
    done_ = true;
    thread_.join();
  }
  std::map<uint16_t, Time> first_seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return first_seen_;
  }

 private:
  void Run() {
    std::set<unsigned long> known_foreign;
    while (!done_) {
      const Time now = Clock::now();
      if (FILE* f = std::fopen("/proc/self/net/udp", "r")) {
        char line[512];
        std::set<unsigned long> own;
        bool own_read = false;
        while (std::fgets(line, sizeof line, f) != nullptr) {
          unsigned port = 0;
          unsigned long inode = 0;
          if (std::sscanf(line, " %*d: %*x:%x %*x:%*x %*x %*x:%*x %*x:%*x %*x %*u %*u %lu", &port,
                          &inode) != 2) {
            continue;
          }
          if (port < korvela::RtpPortPair::kFirstRtpPort ||
              port >= korvela::RtpPortPair::kRtpPortEnd + 1 || known_foreign.count(inode) != 0) {
            continue;
          }
          std::lock_guard<std::mutex> lock(mutex_);
          if (first_seen_.count(uint16_t(port)) != 0) continue;
          if (!own_read) {
            own = OwnSocketInodes();
            own_read = true;
          }
          if (own.count(inode) != 0) {
            first_seen_[uint16_t(port)] = now;
          } else {
            known_foreign.insert(inode);
          }
        }
        std::fclose(f);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  mutable std::mutex mutex_;
  std::map<uint16_t, Time> first_seen_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// When the simulator's media pump first counted a packet or picture as sent:
// it counts once per round, after sending the round's whole access unit,
// picture or audio packet.
class FirstSendWatcher {
 public:
  explicit FirstSendWatcher(camsim::Camera& camera) : camera_(camera) {
    thread_ = std::thread([this] {
      while (!done_) {
        if (camera_.WaitUntil([&] { return done_ || Sent(); }, std::chrono::milliseconds(200)) &&
            Sent()) {
          sent_ = Clock::now();
          return;
        }
      }
    });
  }
  ~FirstSendWatcher() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::optional<Time> sent() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return sent_;
  }

 private:
  bool Sent() const {
    const camsim::MediaCounters c = camera_.counters();
    return c.rtp_packets_sent + c.jpeg_frames_sent + c.audio_packets_sent > 0;
  }
  camsim::Camera& camera_;
  std::atomic<bool> done_{false};
  std::optional<Time> sent_;
  std::thread thread_;
};

// The recorder's audio callback, noting when the first frame and each state
// change arrived.
class TimedAudioCallback : public korvela::ipcapture::IAudioCallback {
 public:
  bool OnAudioFrame(korvela::ipcapture::IAudioFrame* frame) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!first_) first_ = Clock::now();
    }
    return inner_.OnAudioFrame(frame);
  }
  void OnStateChanged(uint32_t input, uint32_t state) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      states_.push_back({Clock::now(), state});
    }
    inner_.OnStateChanged(input, state);
  }
  bool WaitForFrames(size_t n, std::chrono::milliseconds timeout) const {
    return inner_.WaitForFrames(n, timeout);
  }
  std::optional<Time> first() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return first_;
  }
  std::vector<std::pair<Time, uint32_t>> states() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return states_;
  }

 private:
  korvela::recorder::AudioCallback inner_;
  mutable std::mutex mutex_;
  std::optional<Time> first_;
  std::vector<std::pair<Time, uint32_t>> states_;
};

// One request as the camera saw it; a refused attempt (401) and its answered
// repetition count as one step.
struct Request {
  std::string what;
  camsim::RequestTimes times;  // connected/received of the first attempt, handled of the last
  int attempts = 0;
  int status = 0;
};

template <typename Record>
std::vector<Request> Requests(const std::vector<Record>& records,
                              std::string (*name)(const Record&)) {
  std::vector<Request> out;
  for (const Record& r : records) {
    const std::string what = name(r);
    if (!out.empty() && out.back().what == what && out.back().status == 401) {
      out.back().times.handled = r.times.handled;
      out.back().status = r.status;
      ++out.back().attempts;
      continue;
    }
    out.push_back({what, r.times, 1, r.status});
  }
  return out;
}

// What an HTTP request is for, by the OIDs it names.
std::string HttpName(const camsim::HttpRequestRecord& r) {
  static const std::pair<const char*, const char*> kKinds[] = {
      {"snap=spush", "stream request (server push)"},
      {"OidTR1.2.6.1=", "crop window write"},
      {"OidTR1.2.7=", "picture settings write (quality, interval)"},
      {"OidTR1.17.2.19.3.2=", "stream marker write"},
      {"OidTR1.17.2.4=", "encoder settings write"},
      {"OidTR1.9.5=", "audio input enable write"},
      {"1.9.5&1.9.7", "audio input state read"},
      {"1.17.1.2", "audio bit rate read"},
  };
  for (const auto& [part, name] : kKinds) {
    if (r.target.find(part) != std::string::npos) return name;
  }
  return r.target.substr(0, 40);
}

std::string RtspName(const camsim::RtspRequestRecord& r) { return r.method; }

// One step: its name and its duration in ms.
using Steps = std::vector<std::pair<std::string, double>>;

struct Run {
  Steps steps;
  double total_ms = 0;
  std::vector<std::pair<Time, std::string>> timeline;
};

// Steps of the first `count` requests, from *last on; a step for the connect
// wherever a request came on a new connection.
void AddRequestSteps(const std::vector<Request>& requests, const std::string& protocol, Time start,
                     Time* last, Steps* steps, size_t count) {
  std::optional<Time> connected;
  for (size_t i = 0; i < count && i < requests.size(); ++i) {
    const Request& r = requests[i];
    if (!connected || r.times.connected != *connected) {
      // A new connection: the time to it is the client's start-up and the
      // TCP connect.
      steps->push_back({(*last == start ? "worker start and " : "") + protocol + " connect",
                        Ms(*last, r.times.connected)});
      *last = r.times.connected;
      connected = r.times.connected;
    }
    std::string name = r.what;
    if (r.attempts > 1) name += " (401, then answered)";
    steps->push_back({name, Ms(*last, r.times.handled)});
    *last = r.times.handled;
  }
}

void AddTimeline(Run* run, const std::vector<Request>& requests, const char* protocol) {
  std::optional<Time> connected;
  for (const Request& r : requests) {
    if (!connected || *connected != r.times.connected) {
      run->timeline.push_back({r.times.connected, std::string(protocol) + " connection taken"});
      connected = r.times.connected;
    }
    run->timeline.push_back({r.times.received, std::string(protocol) + " " + r.what + " arrived"});
    run->timeline.push_back({r.times.handled, std::string(protocol) + " " + r.what + " answered " +
                                                  std::to_string(r.status)});
  }
}

void AddLog(Run* run, const TimedDriver& driver) {
  for (const auto& [t, text] : driver.lines()) run->timeline.push_back({t, "log: " + text});
}

using SimulatedCamera = korvela::bench::SimulatedCamera<TimedDriver>;

// The two ports of the pair the driver took: the first port of ours with its
// odd neighbour also bound.
std::optional<std::pair<Time, Time>> PortPairTimes(const std::map<uint16_t, Time>& seen) {
  for (const auto& [port, t] : seen) {
    if (port % 2 != 0) continue;
    const auto rtcp = seen.find(uint16_t(port + 1));
    if (rtcp != seen.end()) return std::make_pair(t, rtcp->second);
  }
  return std::nullopt;
}

// Ends the run when something expected of the start was not seen.
void Require(bool seen, const char* stream, const char* what) {
  if (seen) return;
  std::fprintf(stderr, "%s: %s\n", stream, what);
  std::exit(1);
}

// What was seen of an RTP session's start, and the names of the steps that
// differ between stream types.
struct RtpSessionTimes {
  Time start;
  const std::vector<Request>* http;
  const std::vector<Request>* rtsp;
  std::pair<Time, Time> port_pair;  // RTP, then RTCP port bound
  Time sent, delivered;
};
struct RtpStepNames {
  const char* to_rtp_port;
  const char* first_send;
  const char* first_delivery;
};

// HTTP requests, the wait to the RTP port, the stray-RTP probe, RTSP up to
// PLAY, the camera's first packet and the recorder's first frame.
void AddRtpSessionSteps(Run* run, const RtpSessionTimes& t, const RtpStepNames& names) {
  Time last = t.start;
  AddRequestSteps(*t.http, "HTTP", t.start, &last, &run->steps, t.http->size());
  run->steps.push_back({names.to_rtp_port, Ms(last, t.port_pair.first)});
  run->steps.push_back(
      {"stray-RTP probe (to the RTCP port bound)", Ms(t.port_pair.first, t.port_pair.second)});
  last = t.port_pair.second;
  size_t play = 0;
  while (play < t.rtsp->size() && (*t.rtsp)[play].what != "PLAY") ++play;
  AddRequestSteps(*t.rtsp, "RTSP", t.start, &last, &run->steps, play + 1);
  run->steps.push_back({names.first_send, Ms(last, t.sent)});
  run->steps.push_back({"first frame delivered", Ms(t.sent, t.delivered)});
  run->total_ms = Ms(t.start, t.delivered);
  run->timeline.push_back({t.start, "Start"});
  AddTimeline(run, *t.http, "HTTP");
  AddTimeline(run, *t.rtsp, "RTSP");
  run->timeline.push_back({t.port_pair.first, "RTP port bound"});
  run->timeline.push_back({t.port_pair.second, "RTCP port bound"});
  run->timeline.push_back({t.sent, "camera: first packet sent"});
  run->timeline.push_back({t.delivered, names.first_delivery});
}

Run MeasureMjpeg() {
  SimulatedCamera sim("IQ042");
  TimedDriver& driver = sim.driver;
  camsim::Camera& camera = sim.camera();
  driver.SetParameter(3, "1");  // cropping window of the full sensor
  driver.SetParameter(6, "1280x1024");
  korvela::recorder::FrameReceiver receiver(/*keep=*/1);
  std::optional<Time> delivered;
  std::mutex delivered_mu;
  receiver.SetObserver([&](const korvela::recorder::ReceivedFrame&) {
    std::lock_guard<std::mutex> lock(delivered_mu);
    if (!delivered) delivered = Clock::now();
  });
  FirstSendWatcher first_send(camera);
  Run run;
  {
    korvela::CMjpegChannelHTTP channel(&driver, 0, &receiver);
    const Time start = Clock::now();
    channel.Start({25, 50, 1280, 1024});
    Require(receiver.WaitForFrames(1, std::chrono::seconds(20)), "mjpeg", "no frame");
    const std::optional<Time> sent = first_send.sent();
    // The push's request is recorded when its handler returns, which may be
    // after the first picture went out and arrived.
    camera.WaitUntil(
        [&] {
          for (const auto& r : camera.http_requests())
            if (r.target.find("snap=spush") != std::string::npos) return true;
          return false;
        },
        std::chrono::seconds(5));
    channel.Stop();
    std::lock_guard<std::mutex> lock(delivered_mu);
    const std::vector<Request> http = Requests(camera.http_requests(), &HttpName);
    size_t stream = 0;
    while (stream < http.size() && http[stream].what.find("server push") == std::string::npos)
      ++stream;
    Require(stream < http.size() && sent && delivered, "mjpeg", "no stream request seen");
    Time last = start;
    AddRequestSteps(http, "HTTP", start, &last, &run.steps, stream);
    // The push: the media pump may send the first picture before the request
    // is recorded as handled, so this step ends when the request arrived.
    if (stream == 0 || http[stream].times.connected != http[stream - 1].times.connected) {
      run.steps.push_back({"HTTP connect", Ms(last, http[stream].times.connected)});
      last = http[stream].times.connected;
    }
    run.steps.push_back({"stream request sent", Ms(last, http[stream].times.received)});
    run.steps.push_back({"camera sends the first picture", Ms(http[stream].times.received, *sent)});
    run.steps.push_back({"first picture delivered", Ms(*sent, *delivered)});
    run.total_ms = Ms(start, *delivered);
    run.timeline.push_back({start, "Start"});
    AddTimeline(&run, http, "HTTP");
    run.timeline.push_back({*sent, "camera: first picture sent"});
    run.timeline.push_back({*delivered, "recorder: first frame"});
    AddLog(&run, driver);
  }
  return run;
}

Run MeasureH264() {
  SimulatedCamera sim("IQ031");
  TimedDriver& driver = sim.driver;
  camsim::Camera& camera = sim.camera();
  driver.SetParameter(3, "2");
  korvela::recorder::FrameReceiver receiver(/*keep=*/1);
  std::optional<Time> delivered;
  std::mutex delivered_mu;
  receiver.SetObserver([&](const korvela::recorder::ReceivedFrame&) {
    std::lock_guard<std::mutex> lock(delivered_mu);
    if (!delivered) delivered = Clock::now();
  });
  UdpPortWatcher ports;
  FirstSendWatcher first_send(camera);
  Run run;
  {
    korvela::CH264ChannelRTSP channel(&driver, 0, &receiver);
    const Time start = Clock::now();
    channel.Start({25, 50, 1280, 720});
    Require(receiver.WaitForFrames(1, std::chrono::seconds(20)), "h264", "no frame");
    const std::optional<Time> sent = first_send.sent();
    const auto pair = PortPairTimes(ports.first_seen());
    channel.Stop();
    std::lock_guard<std::mutex> lock(delivered_mu);
    const std::vector<Request> http = Requests(camera.http_requests(), &HttpName);
    const std::vector<Request> rtsp = Requests(camera.rtsp_requests(), &RtspName);
    Require(!http.empty() && rtsp.size() >= 3 && pair && sent && delivered, "h264",
            "a step was not seen");
    AddRtpSessionSteps(&run, {start, &http, &rtsp, *pair, *sent, *delivered},
                       {"configuration pause (to the RTP port bound)",
                        "camera sends the first (key) frame", "recorder: first frame"});
    AddLog(&run, driver);
  }
  return run;
}

Run MeasureAudio() {
  SimulatedCamera sim("IQ765");
  TimedDriver& driver = sim.driver;
  camsim::Camera& camera = sim.camera();
  korvela::recorder::AudioFormatList formats;
  TimedAudioCallback callback;
  UdpPortWatcher ports;
  FirstSendWatcher first_send(camera);
  Run run;
  {
    korvela::CQuarnoAudioCaptureChannel channel(&driver, 1, 0, &callback, &formats);
    const Time start = Clock::now();
    channel.Start();
    Require(callback.WaitForFrames(1, std::chrono::seconds(20)), "audio", "no frame");
    const std::optional<Time> sent = first_send.sent();
    const auto pair = PortPairTimes(ports.first_seen());
    channel.Stop();
    const std::optional<Time> delivered = callback.first();
    const std::vector<Request> http = Requests(camera.http_requests(), &HttpName);
    const std::vector<Request> rtsp = Requests(camera.rtsp_requests(), &RtspName);
    Require(!http.empty() && rtsp.size() >= 3 && pair && sent && delivered, "audio",
            "a step was not seen");
    AddRtpSessionSteps(
        &run, {start, &http, &rtsp, *pair, *sent, *delivered},
        {"to the RTP port bound", "camera sends the first packet", "recorder: first audio frame"});
    for (const auto& [t, state] : callback.states())
      run.timeline.push_back({t, "recorder: audio state " + std::to_string(state)});
    AddLog(&run, driver);
  }
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Report(const char* title, Run (*measure)(), int runs, bool verbose) {
  std::vector<Run> results;
  for (int i = 0; i < runs; ++i) {
    results.push_back(measure());
    if (verbose) {
      Run& r = results.back();
      std::sort(r.timeline.begin(), r.timeline.end(),
                [](const auto& a, const auto& b) { return a.first < b.first; });
      std::printf("## %s, run %d timeline (ms from Start)\n", title, i + 1);
      for (const auto& [t, what] : r.timeline) {
        std::printf("%10.3f  %s\n", Ms(r.timeline.front().first, t), what.c_str());
      }
    }
  }
  // Runs whose steps differ (e.g. a port taken by another process made the
  // driver probe a second pair) are shown but left out of the table.
  const Steps& shape = results.front().steps;
  std::vector<const Run*> same;
  for (const Run& r : results) {
    bool match = r.steps.size() == shape.size();
    for (size_t i = 0; match && i < shape.size(); ++i) match = r.steps[i].first == shape[i].first;
    if (match) {
      same.push_back(&r);
    } else {
      std::printf("(a %s run with other steps: total %.1f ms)\n", title, r.total_ms);
    }
  }
  double load[3] = {};
  const int loads = ::getloadavg(load, 3);
  std::printf("\n# %s: Start to first frame, %zu runs, load average %.2f %.2f %.2f\n", title,
              same.size(), loads == 3 ? load[0] : 0, load[1], load[2]);
  std::printf("| Step | Median ms | Range ms |\n|---|---|---|\n");
  for (size_t i = 0; i < shape.size(); ++i) {
    std::vector<double> v;
    for (const Run* r : same) v.push_back(r->steps[i].second);
    std::printf("| %s | %.1f | %.1f-%.1f |\n", shape[i].first.c_str(), Median(v),
                *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
  }
  std::vector<double> totals;
  for (const Run* r : same) totals.push_back(r->total_ms);
  std::printf("| **total** | **%.1f** | %.1f-%.1f |\n\n", Median(totals),
              *std::min_element(totals.begin(), totals.end()),
              *std::max_element(totals.begin(), totals.end()));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::string which = "all";
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-v") {
      verbose = true;
    } else if (arg == "mjpeg" || arg == "h264" || arg == "audio" || arg == "all") {
      which = arg;
    } else if (std::atoi(arg.c_str()) > 0) {
      runs = std::atoi(arg.c_str());
    } else {
      std::fprintf(stderr, "usage: %s [runs=5] [mjpeg|h264|audio|all] [-v]\n", argv[0]);
      return 2;
    }
  }
  if (which == "all" || which == "mjpeg") Report("Motion-JPEG", &MeasureMjpeg, runs, verbose);
  if (which == "all" || which == "h264") Report("H.264", &MeasureH264, runs, verbose);
  if (which == "all" || which == "audio") Report("Audio input", &MeasureAudio, runs, verbose);
  return 0;
}
