// The state one simulated camera shares between its connection handlers:
// configuration, OID table, records, fault switches, authentication, RTSP
// sessions and the media it serves.
//
// Threading: built before any thread starts and destroyed after all have
// ended. OidStore, Observations, FaultSwitches, Authenticator and
// MediaPump are thread-safe themselves; sessions_mu guards sessions.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "auth.h"
#include "camsim.h"
#include "faults.h"
#include "h264_clip.h"
#include "media_pump.h"
#include "observations.h"
#include "oid_store.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace camsim {

// Open HTTP/RTSP connections a camera serves at once; more are closed at accept.
constexpr size_t kMaxConnectionsPerCamera = 64;
// Largest request body the servers read and drop (a GET or RTSP request
// with a body); beyond it the connection is closed.
constexpr size_t kMaxIgnoredBody = 64 * 1024;

// Sample media loaded once per simulator, read-only afterwards.
struct MediaLibrary {
  H264Clip video_large;  // 1280x720
  H264Clip video_small;  // 640x480
  // 1920x1080, when the folder has one (too large to keep in the source tree;
  // scripts/bench.sh makes one for the 1080p runs).
  std::optional<H264Clip> video_full_hd;
  std::vector<std::string> jpeg_large;  // 1280x1024
  std::vector<std::string> jpeg_small;  // 640x480
  std::string audio;                    // G.711 mu-law, 8 kHz

  static std::optional<MediaLibrary> Load(const std::string& dir, std::string* error);
};

struct RtspSession {
  std::vector<uint64_t> streams;  // media pump stream ids
  std::vector<std::string> track_urls;
};

struct CameraContext {
  CameraContext(int index, const CameraOptions& opts, ModelSpec model_spec, std::string mac,
                uint16_t http, uint16_t rtsp, const MediaLibrary* lib, MediaPump* media_pump,
                std::function<void(std::string_view)> log_sink)
      : id(index),
        options(opts),
        http_port(http),
        rtsp_port(rtsp),
        oids(std::move(model_spec), std::move(mac), rtsp),
        auth(opts.auth, "IQeye"),
        media(lib),
        pump(media_pump),
        log_sink_(std::move(log_sink)) {}

  void Log(const std::string& line) const {
    if (log_sink_) log_sink_("cam" + std::to_string(id) + " " + line);
  }
  Credentials credentials() const { return {options.user, options.password}; }

  const int id;
  const CameraOptions options;
  const uint16_t http_port;
  const uint16_t rtsp_port;
  OidStore oids;
  Observations observations;
  FaultSwitches faults;
  Authenticator auth;
  const MediaLibrary* const media;
  MediaPump* const pump;

  // Maximum RTSP sessions a camera holds; SETUP beyond it gets 453.
  static constexpr size_t kMaxSessions = 64;
  korvela::Mutex sessions_mu;
  std::map<std::string, RtspSession> sessions GUARDED_BY(sessions_mu);

 private:
  std::function<void(std::string_view)> log_sink_;
};

// Serve one accepted connection until it ends; fd is owned by the caller,
// which may shutdown() it from another thread to stop the handler. The HTTP
// handler returns true when it handed the connection (a duplicate of fd) to
// the media pump for a Motion-JPEG push; the caller must then not shut it down.
bool ServeHttpConnection(CameraContext& camera, int fd);
void ServeRtspConnection(CameraContext& camera, int fd);

// Bytes that are not a reply of any protocol (garble fault).
std::string GarbageBytes();

// Waits up to ms, returning early when the connection is closed by either
// side; true when the connection is still usable.
bool PauseOnConnection(int fd, int ms);

}  // namespace camsim
