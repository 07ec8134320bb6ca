// Sends the RTP media of every RTSP session and the pictures of every
// Motion-JPEG push of every camera in the process from one thread, paced by
// a deadline per stream; sends RTCP sender reports; receives the clients'
// RTCP (receiver reports, BYE) on the server ports and records it.
//
// Threading: AddStream/Play/KeepAlive/Remove/RemoveCamera come from RTSP
// connection threads, AddPush from HTTP connection threads; Run is the pump
// thread ("camsim media"). mu_ guards streams_, pushes_ and graveyard_.
// Removed streams go to the graveyard and their sockets are closed by the
// pump thread, so a poll in progress never sees a closed (or reused)
// descriptor.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>

#include "camsim.h"
#include "faults.h"
#include "h264_clip.h"
#include "net.h"
#include "observations.h"
#include "rtp_packetiser.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace camsim {

enum class MediaKind { kVideo, kAudio };

struct StreamSetup {
  MediaKind kind = MediaKind::kVideo;
  const H264Clip* clip = nullptr;      // video; owned by the simulator
  const std::string* audio = nullptr;  // mu-law samples; owned by the simulator
  std::string bind_host;
  sockaddr_in client_rtp{};
  sockaddr_in client_rtcp{};
  int camera_id = 0;
  Observations* observations = nullptr;
  FaultSwitches* faults = nullptr;
  std::chrono::milliseconds timeout{60000};
  std::chrono::milliseconds rtcp_interval{5000};
  std::function<void(std::string_view)> log;
};

// A Motion-JPEG push whose response head has been sent; the pump owns the
// socket from then on and writes one multipart part per interval.
struct PushSetup {
  UniqueFd fd;
  const std::vector<std::string>* pictures = nullptr;  // owned by the simulator
  std::string boundary;
  std::chrono::microseconds interval{100000};
  int camera_id = 0;
  Observations* observations = nullptr;
  FaultSwitches* faults = nullptr;
};

struct StreamPorts {
  uint64_t id = 0;
  uint16_t server_rtp = 0;
  uint16_t server_rtcp = 0;
  uint32_t ssrc = 0;
};

struct PlayInfo {
  uint16_t sequence = 0;
  uint32_t rtp_timestamp = 0;
};

class MediaPump {
 public:
  // Streams a pump serves at once (each holds three sockets).
  static constexpr size_t kMaxStreams = 1024;
  static constexpr int kVideoPeriodMs = 40;  // the sample clips are 25 fps
  static constexpr int kAudioPeriodMs = 20;  // 160 samples of 8 kHz G.711
  static constexpr size_t kAudioPacketBytes = 160;
  // Motion-JPEG pushes served at once.
  static constexpr size_t kMaxPushes = 1024;
  // A push whose client takes nothing for this long is closed.
  static constexpr std::chrono::milliseconds kPushStall{10000};

  MediaPump();
  ~MediaPump();
  MediaPump(const MediaPump&) = delete;
  MediaPump& operator=(const MediaPump&) = delete;

  bool Start(std::string* error);
  void Stop();

  std::optional<StreamPorts> AddStream(StreamSetup setup, std::string* error);
  bool AddPush(PushSetup setup, std::string* error);
  std::optional<PlayInfo> Play(uint64_t id);
  bool Exists(uint64_t id) const;
  void KeepAlive(uint64_t id);
  void Remove(uint64_t id);
  void RemoveCamera(int camera_id);

 private:
  struct Stream;
  struct Push;
  struct PollSet;
  using Clock = std::chrono::steady_clock;
  // Media counted in one round, per camera record; published outside mu_.
  using CounterDeltas = std::map<Observations*, MediaCounters>;

  // The pump thread: poll, drain what clients sent, send what is due,
  // publish the counts, until Stop.
  void Run();
  // Refills `set` and clears the graveyards; returns the poll time-out.
  int BuildPollSet(PollSet& set) EXCLUDES(mu_);
  void DrainClientDatagrams(const PollSet& set) REQUIRES(mu_);
  // Sends what is due on every playing stream; ends streams that timed out.
  void ServiceStreams(Clock::time_point now, CounterDeltas& deltas) REQUIRES(mu_);
  // Serves every push; ends those that are over.
  void ServicePushes(PollSet& set, Clock::time_point now, CounterDeltas& deltas) REQUIRES(mu_);
  static void PublishCounters(CounterDeltas& deltas);
  void Wake();
  void SendDue(Stream& s, Clock::time_point now, MediaCounters* delta) REQUIRES(mu_);
  void SendUnit(Stream& s, MediaCounters* delta) REQUIRES(mu_);
  void SendRtp(Stream& s, std::string packet, MediaCounters* delta) REQUIRES(mu_);
  void SendDatagram(Stream& s, const std::string& packet, MediaCounters* delta) REQUIRES(mu_);
  void SendReport(Stream& s, Clock::time_point now, MediaCounters* delta) REQUIRES(mu_);
  void ReceiveRtcp(Stream& s) REQUIRES(mu_);
  // False when the push is over (client gone, write failed or stalled).
  bool ServicePush(Push& p, short revents, Clock::time_point now, MediaCounters* delta)
      REQUIRES(mu_);

  mutable korvela::Mutex mu_;
  std::map<uint64_t, std::unique_ptr<Stream>> streams_ GUARDED_BY(mu_);
  std::vector<std::unique_ptr<Push>> pushes_ GUARDED_BY(mu_);
  std::vector<std::unique_ptr<Stream>> graveyard_ GUARDED_BY(mu_);
  std::vector<std::unique_ptr<Push>> push_graveyard_ GUARDED_BY(mu_);
  uint64_t next_id_ GUARDED_BY(mu_) = 1;
  UniqueFd wake_fd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace camsim
