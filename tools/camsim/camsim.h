// Camera simulator: in-process API.
//
// A Simulator runs one or more simulated cameras on loopback (or another local
// address). Each camera answers the OID pages, the access pages, the Motion-JPEG
// server push and the talk-back POST over HTTP, and serves H.264 and G.711 over
// RTSP/RTP/RTCP. Everything a camera receives is recorded and can be queried;
// faults can be switched on and off while it runs.
//
// Threading: Simulator::Start and the destructor are called from one owner
// thread. Every Camera method is thread-safe and may be called from any thread
// while the simulator runs (the records and fault switches have their own locks
// or are atomic). The simulator's own threads (one acceptor, one media pump, one
// thread per open TCP connection) never call back into user code except through
// SimulatorOptions::log, which must be thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace camsim {

enum class AuthMode { kNone, kBasic, kDigest };

std::optional<AuthMode> ParseAuthMode(std::string_view text);

struct CameraOptions {
  // Model name as the camera reports it (OID 2.8), optionally followed by
  // variant suffixes that remove features: "-noaudio", "-noio", "-noprivacy".
  // Known: IQ765, IQ031, IQA30, IQ042, IQ511 (see ListModels()).
  std::string model = "IQ765";
  std::string bind_address = "127.0.0.1";
  uint16_t http_port = 0;  // 0 = a free port; camera i of N uses port + i
  uint16_t rtsp_port = 0;  // likewise
  AuthMode auth = AuthMode::kDigest;
  std::string user = "root";
  std::string password = "system";
  // Folder with the sample media; empty = the source tree's testdata/.
  std::string testdata_dir;
  int rtcp_interval_ms = 5000;  // RTCP sender report period
  int session_timeout_s = 60;   // RTSP session time-out announced and enforced
};

std::vector<std::string> ListModels();

struct Fault {
  enum class Kind {
    kStopMedia,           // keep connections, send no RTP and no JPEG
    kDropEveryNth,        // value = n: drop every n-th RTP packet
    kReorder,             // swap each pair of consecutive RTP packets
    kRestart,             // value = ms: close everything, refuse connections that long
    kAlwaysUnauthorized,  // every request answered 401
    kHttpStatus,          // value = status (404, 500 ...) for every HTTP and RTSP request
    kSlowReplies,         // value = ms of delay before every reply
    kGarbledReplies,      // replies replaced by bytes that are not HTTP/RTSP
    kRtpAltSource,        // RTP sent from a second address and port
    kEndTalkback,         // value = n: every talk-back POST answered and closed after n bytes
  };
  Kind kind = Kind::kStopMedia;
  int value = 0;
};

// "stop-media", "drop=N", "reorder", "restart=MS", "unauthorized", "status=N",
// "slow=MS", "garble", "alt-source", "talkback-end=N". nullopt (and *error set) when malformed.
std::optional<Fault> ParseFault(std::string_view text, std::string* error);

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct OidWrite {
  std::string oid;    // e.g. "1.2.7", table element "1.2.26.1.1.3"
  std::string value;  // as received, unescaped
  bool accepted = false;
};

// When a request's connection was taken (its handler began, just after the
// accept), when the request's head had arrived, and when it was recorded:
// HTTP after the reply went out (a Motion-JPEG push: when the media pump took
// the connection), RTSP just before the reply goes out. For timing a client's
// steps from the camera's side (bench/first_frame).
struct RequestTimes {
  std::chrono::steady_clock::time_point connected;
  std::chrono::steady_clock::time_point received;
  std::chrono::steady_clock::time_point handled;
};

struct HttpRequestRecord {
  std::string method;
  std::string target;  // path and query as received
  HeaderList headers;  // Authorization values reduced to their scheme
  int status = 0;      // status answered (0 when the connection ended first)
  RequestTimes times;
};

struct RtspRequestRecord {
  std::string method;
  std::string url;
  HeaderList headers;  // Authorization values reduced to their scheme
  int status = 0;
  RequestTimes times;
};

struct RtcpRecord {
  std::vector<uint8_t> bytes;  // the compound packet as received
  std::string from;            // "address:port"
  bool has_receiver_report = false;
  bool has_bye = false;
};

struct MediaCounters {
  uint64_t rtp_packets_sent = 0;
  uint64_t rtp_packets_dropped = 0;  // by the drop fault
  uint64_t rtcp_sender_reports = 0;
  uint64_t jpeg_frames_sent = 0;
  uint64_t video_access_units_sent = 0;
  uint64_t audio_packets_sent = 0;
};

class Camera {
 public:
  virtual ~Camera() = default;

  virtual uint16_t http_port() const = 0;
  virtual uint16_t rtsp_port() const = 0;
  virtual std::string model() const = 0;

  // Device state.
  virtual std::optional<std::string> GetOid(std::string_view oid) const = 0;
  virtual void SetOid(std::string_view oid, std::string_view value) = 0;  // not recorded
  virtual void SetDigitalInput(bool closed) = 0;

  // Records, oldest first (bounded; the oldest are dropped beyond the limit).
  virtual std::vector<OidWrite> oid_writes() const = 0;
  virtual std::vector<HttpRequestRecord> http_requests() const = 0;
  virtual std::vector<RtspRequestRecord> rtsp_requests() const = 0;
  virtual std::vector<RtcpRecord> rtcp_received() const = 0;
  // Talk-back bytes, POST after POST in the order they began (first kMax kept).
  virtual std::vector<uint8_t> audio_received() const = 0;
  virtual uint64_t audio_bytes_total() const = 0;
  virtual MediaCounters counters() const = 0;
  virtual void ClearRecords() = 0;

  // Blocks until pred() holds (re-checked whenever something is recorded or
  // sent) or the time-out passes; returns pred()'s last value.
  virtual bool WaitUntil(const std::function<bool()>& pred,
                         std::chrono::milliseconds timeout) const = 0;

  virtual void InjectFault(const Fault& fault) = 0;
  virtual void ClearFault(Fault::Kind kind) = 0;
  virtual void ClearFaults() = 0;
};

struct SimulatorOptions {
  CameraOptions camera;
  int cameras = 1;
  // Log lines (requests, writes, sessions); called from simulator threads.
  std::function<void(std::string_view)> log;
};

class Simulator {
 public:
  // Opens every listening socket before returning; nullptr and *error on failure.
  static std::unique_ptr<Simulator> Start(const SimulatorOptions& options, std::string* error);
  virtual ~Simulator() = default;  // stops everything and joins every thread

  virtual size_t camera_count() const = 0;
  virtual Camera& camera(size_t index) = 0;
};

}  // namespace camsim
