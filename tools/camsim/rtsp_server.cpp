// RTSP side of a simulated camera (RFC 2326): OPTIONS, DESCRIBE, SETUP, PLAY,
// TEARDOWN, GET_PARAMETER and SET_PARAMETER for "now.mp4?mm=v" (H.264) and
// "now.mp4?mm=a" (G.711), RTP over UDP only.
#include <chrono>
#include <cstdlib>
#include <optional>

#include <arpa/inet.h>
#include <sys/socket.h>

#include "camera_context.h"
#include "net.h"
#include "wire.h"

namespace camsim {
namespace {

constexpr int kIdleTimeoutMs = 120000;  // control connection without a request
constexpr size_t kMaxStreamsPerSession = 2;
constexpr int kVideoTrack = 1;
constexpr int kAudioTrack = 2;

std::string Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 453:
      return "Not Enough Bandwidth";
    case 454:
      return "Session Not Found";
    case 455:
      return "Method Not Valid in This State";
    case 459:
      return "Aggregate Operation Not Allowed";
    case 461:
      return "Unsupported Transport";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

struct RtspReply {
  int status = 200;
  HeaderList headers;
  std::string body;
};

// The parts of a request URL this server looks at.
struct MediaUrl {
  bool valid = false;
  std::string mm;  // "v", "a", "av" ...
  bool low_resolution = false;
  int track = 0;  // 0 = none named
};

// Value of a query item, ended at '&' or at a '/' that starts a track suffix.
std::optional<std::string> UrlParam(std::string_view query, std::string_view name) {
  size_t pos = 0;
  while (pos < query.size()) {
    const size_t end = query.find_first_of("&/", pos);
    const std::string_view item =
        query.substr(pos, end == std::string_view::npos ? end : end - pos);
    const size_t eq = item.find('=');
    if (eq != std::string_view::npos && item.substr(0, eq) == name)
      return std::string(item.substr(eq + 1));
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return std::nullopt;
}

MediaUrl ParseMediaUrl(std::string_view url) {
  MediaUrl m;
  if (url.starts_with("rtsp://")) {
    const size_t slash = url.find('/', 7);
    url = slash == std::string_view::npos ? std::string_view("/") : url.substr(slash);
  }
  if (!url.starts_with("/now.mp4")) return m;
  m.valid = true;
  const size_t q = url.find('?');
  const std::string_view query =
      q == std::string_view::npos ? std::string_view() : url.substr(q + 1);
  m.mm = UrlParam(query, "mm").value_or("");
  m.low_resolution = UrlParam(query, "res").value_or("") == "low";
  const size_t track = url.rfind("trackID=");
  if (track != std::string_view::npos)
    m.track = std::atoi(std::string(url.substr(track + 8)).c_str());
  return m;
}

// One accepted RTSP control connection. Threading: lives on its connection
// thread only; sessions are camera-wide under CameraContext::sessions_mu, so a
// client may tear a session down from another connection.
class RtspConnection {
 public:
  RtspConnection(CameraContext& camera, int fd)
      : cam_(camera), fd_(fd), reader_(fd), connected_(std::chrono::steady_clock::now()) {
    sockaddr_in peer{};
    socklen_t len = sizeof(peer);
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len);
    peer_ = peer;
  }

  void Serve() {
    while (true) {
      std::string head;
      const auto status = reader_.ReadHead(&head, kIdleTimeoutMs);
      if (status != StreamReader::Status::kOk) {
        if (status == StreamReader::Status::kTooLong) SendRaw(400, "", {}, "");
        return;
      }
      const auto received = std::chrono::steady_clock::now();
      const auto request = ParseRequestHead(head);
      if (!request || request->version != "RTSP/1.0") {
        SendRaw(400, "", {}, "");
        cam_.observations.AddRtspRequest(
            {"?", "", {}, 400, {connected_, received, std::chrono::steady_clock::now()}});
        return;
      }
      if (!DiscardBody(*request)) return;
      const std::string cseq = request->Header("CSeq");
      RtspReply reply = cseq.empty() ? RtspReply{400, {}, {}} : Dispatch(*request);
      cam_.Log("RTSP " + request->method + " " + request->target + " -> " +
               std::to_string(reply.status));
      cam_.observations.AddRtspRequest({request->method,
                                        request->target,
                                        RedactHeaders(request->headers),
                                        reply.status,
                                        {connected_, received, std::chrono::steady_clock::now()}});
      if (const int ms = cam_.faults.slow_ms(); ms > 0 && !PauseOnConnection(fd_, ms)) return;
      if (cam_.faults.garble()) {
        SendAll(fd_, GarbageBytes());
        return;
      }
      if (!SendRaw(reply.status, cseq, reply.headers, reply.body)) return;
    }
  }

 private:
  bool DiscardBody(const Request& r) {
    const std::string length = r.Header("Content-Length");
    if (length.empty()) return true;
    const long n = std::atol(length.c_str());
    if (n < 0 || size_t(n) > kMaxIgnoredBody) return false;
    return reader_.ReadExact(size_t(n), 10000, [](std::string_view) {}) ==
           StreamReader::Status::kOk;
  }

  bool SendRaw(int status, const std::string& cseq, const HeaderList& headers,
               const std::string& body) {
    std::string out = "RTSP/1.0 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    if (!cseq.empty()) out += "CSeq: " + cseq + "\r\n";
    out += "Server: camsim\r\n";
    for (const auto& [n, v] : headers) out += n + ": " + v + "\r\n";
    if (!body.empty()) out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "\r\n" + body;
    return SendAll(fd_, out);
  }

  // IQeye cameras also take a Digest answer to SETUP whose uri is the
  // presentation URL rather than the track URL on the request line.
  bool Authorized(const Request& r) {
    const std::string authorization = r.Header("Authorization");
    if (cam_.auth.Check(r.method, r.target, authorization, cam_.credentials()) ==
        Authenticator::Verdict::kOk) {
      return true;
    }
    const size_t track = r.target.rfind("/trackID=");
    return r.method == "SETUP" && track != std::string::npos &&
           cam_.auth.Check(r.method, r.target.substr(0, track), authorization,
                           cam_.credentials()) == Authenticator::Verdict::kOk;
  }

  RtspReply Dispatch(const Request& r) {
    if (const int forced = cam_.faults.forced_status(); forced > 0) return {forced, {}, {}};
    const bool public_method = r.method == "OPTIONS";
    if (cam_.faults.always_unauthorized() || (!public_method && !Authorized(r))) {
      const AuthMode mode =
          cam_.auth.mode() == AuthMode::kNone ? AuthMode::kBasic : cam_.auth.mode();
      return {401, {{"WWW-Authenticate", cam_.auth.Challenge(false, mode)}}, {}};
    }
    const std::string session_id = SessionId(r);
    if (!session_id.empty()) KeepAlive(session_id);
    if (r.method == "OPTIONS") {
      return {
          200,
          {{"Public", "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER, SET_PARAMETER"}},
          {}};
    }
    if (r.method == "GET_PARAMETER" || r.method == "SET_PARAMETER") {
      if (!session_id.empty() && !SessionExists(session_id)) return {454, {}, {}};
      return {200, {}, {}};
    }
    if (r.method == "DESCRIBE") return Describe(r);
    if (r.method == "SETUP") return Setup(r, session_id);
    if (r.method == "PLAY") return Play(session_id);
    if (r.method == "TEARDOWN") return Teardown(session_id);
    if (r.method == "PAUSE" || r.method == "RECORD" || r.method == "ANNOUNCE") return {405, {}, {}};
    return {501, {}, {}};
  }

  static std::string SessionId(const Request& r) {
    std::string s = r.Header("Session");
    return s.substr(0, s.find(';'));
  }

  bool SessionExists(const std::string& id) {
    korvela::MutexLock lock(cam_.sessions_mu);
    return cam_.sessions.count(id) != 0;
  }

  void KeepAlive(const std::string& id) {
    korvela::MutexLock lock(cam_.sessions_mu);
    const auto it = cam_.sessions.find(id);
    if (it == cam_.sessions.end()) return;
    for (uint64_t stream : it->second.streams) cam_.pump->KeepAlive(stream);
  }

  bool VideoAvailable() const { return cam_.oids.Read("1.17.6").value_or("") == "enabled"; }
  bool AudioAvailable() const { return cam_.oids.Read("1.17.1.2").has_value(); }
  bool AudioEnabled() const { return cam_.oids.Read("1.9.5").value_or("") == "enabled"; }

  const H264Clip& SelectClip(const MediaUrl& url) const {
    if (url.low_resolution) return cam_.media->video_small;
    const ModelSpec& model_spec = cam_.oids.model_spec();
    int width = model_spec.max_width;
    if (model_spec.has_modes) {
      if (const VideoMode* m = FindMode(model_spec, cam_.oids.Read("1.17.2.6").value_or("")))
        width = m->width;
    }
    // The largest sample not wider than the camera's picture.
    if (width >= 1920 && cam_.media->video_full_hd) return *cam_.media->video_full_hd;
    return width >= 1280 ? cam_.media->video_large : cam_.media->video_small;
  }

  // Which media a URL's "mm" asks for; absent means both.
  static bool WantsVideo(const MediaUrl& u) {
    return u.mm.empty() || u.mm.find('v') != std::string::npos;
  }
  static bool WantsAudio(const MediaUrl& u) {
    return u.mm.empty() || u.mm.find('a') != std::string::npos;
  }

  RtspReply Describe(const Request& r) {
    const MediaUrl url = ParseMediaUrl(r.target);
    if (!url.valid) return {404, {}, {}};
    const bool video = WantsVideo(url) && VideoAvailable();
    const bool audio_asked = WantsAudio(url) && AudioAvailable();
    if (audio_asked && !AudioEnabled() && !video) {
      cam_.Log("audio input is disabled (1.9.5)");
      return {503, {}, {}};
    }
    const bool audio = audio_asked && AudioEnabled();
    if (!video && !audio) return {404, {}, {}};
    std::string sdp = "v=0\r\n";
    sdp +=
        "o=- " + std::to_string(1000 + cam_.id) + " 1 IN IP4 " + cam_.options.bind_address + "\r\n";
    sdp += "s=" + cam_.oids.model_spec().name + " live\r\n";
    sdp += "c=IN IP4 0.0.0.0\r\nt=0 0\r\na=control:*\r\na=range:npt=0-\r\n";
    if (video) {
      const H264Clip& clip = SelectClip(url);
      sdp += "m=video 0 RTP/AVP 96\r\n";
      sdp += "b=AS:" + std::to_string(int(clip.average_bits_per_frame() * 25 / 1000) + 1) + "\r\n";
      sdp += "a=rtpmap:96 H264/90000\r\n";
      sdp += "a=fmtp:96 packetization-mode=1;profile-level-id=" + clip.ProfileLevelId() +
             ";sprop-parameter-sets=" + clip.SpropParameterSets() + "\r\n";
      sdp += "a=framerate:25\r\n";
      sdp += "a=control:trackID=" + std::to_string(kVideoTrack) + "\r\n";
    }
    if (audio) {
      sdp += "m=audio 0 RTP/AVP 0\r\n";
      sdp += "a=rtpmap:0 PCMU/8000\r\n";
      sdp += "a=control:trackID=" + std::to_string(kAudioTrack) + "\r\n";
    }
    std::string base = r.target;
    if (!base.ends_with("/")) base += "/";
    return {200, {{"Content-Type", "application/sdp"}, {"Content-Base", base}}, sdp};
  }

  RtspReply Setup(const Request& r, const std::string& session_id) {
    const MediaUrl url = ParseMediaUrl(r.target);
    if (!url.valid) return {404, {}, {}};
    int track = url.track;
    if (track == 0) {
      // A URL without a track names the one medium its "mm" offers.
      const bool v = WantsVideo(url) && VideoAvailable();
      const bool a = WantsAudio(url) && AudioAvailable() && AudioEnabled();
      if (v && a) return {459, {}, {}};
      track = v ? kVideoTrack : a ? kAudioTrack : 0;
    }
    if (track == kVideoTrack && !VideoAvailable()) return {404, {}, {}};
    if (track == kAudioTrack && (!AudioAvailable() || !AudioEnabled())) return {404, {}, {}};
    if (track != kVideoTrack && track != kAudioTrack) return {404, {}, {}};

    // Transport: RTP/AVP[/UDP];unicast;client_port=a-b
    const std::string transport = r.Header("Transport");
    std::string first_spec = transport.substr(0, transport.find(','));
    uint16_t rtp_port = 0, rtcp_port = 0;
    bool udp = false;
    size_t pos = 0;
    while (pos <= first_spec.size()) {
      const size_t end = first_spec.find(';', pos);
      const std::string item = first_spec.substr(pos, end == std::string::npos ? end : end - pos);
      if (item == "RTP/AVP" || item == "RTP/AVP/UDP") udp = true;
      if (item == "multicast" || item.starts_with("interleaved")) udp = false;
      if (item.starts_with("client_port=")) {
        const long a = std::atol(item.c_str() + 12);
        const size_t dash = item.find('-');
        const long b = dash == std::string::npos ? a + 1 : std::atol(item.c_str() + dash + 1);
        if (a > 0 && a < 65536 && b > 0 && b < 65536) {
          rtp_port = uint16_t(a);
          rtcp_port = uint16_t(b);
        }
      }
      if (end == std::string::npos) break;
      pos = end + 1;
    }
    if (!udp || rtp_port == 0) return {461, {}, {}};

    korvela::MutexLock lock(cam_.sessions_mu);
    std::string id = session_id;
    if (!id.empty()) {
      const auto it = cam_.sessions.find(id);
      if (it == cam_.sessions.end()) return {454, {}, {}};
      if (it->second.streams.size() >= kMaxStreamsPerSession) return {455, {}, {}};
    } else {
      // Sessions whose streams all timed out are forgotten first.
      for (auto it = cam_.sessions.begin(); it != cam_.sessions.end();) {
        bool alive = false;
        for (uint64_t stream : it->second.streams) alive = alive || cam_.pump->Exists(stream);
        it = alive ? std::next(it) : cam_.sessions.erase(it);
      }
      if (cam_.sessions.size() >= CameraContext::kMaxSessions) return {453, {}, {}};
      id = RandomHex(8);
    }
    StreamSetup setup;
    setup.kind = track == kVideoTrack ? MediaKind::kVideo : MediaKind::kAudio;
    setup.clip = &SelectClip(url);
    setup.audio = &cam_.media->audio;
    setup.bind_host = cam_.options.bind_address;
    setup.client_rtp = peer_;
    setup.client_rtp.sin_port = htons(rtp_port);
    setup.client_rtcp = peer_;
    setup.client_rtcp.sin_port = htons(rtcp_port);
    setup.camera_id = cam_.id;
    setup.observations = &cam_.observations;
    setup.faults = &cam_.faults;
    setup.timeout = std::chrono::seconds(cam_.options.session_timeout_s);
    setup.rtcp_interval = std::chrono::milliseconds(cam_.options.rtcp_interval_ms);
    // The pump outlives this connection; the camera outlives the pump's streams.
    setup.log = [cam = &cam_](std::string_view line) { cam->Log(std::string(line)); };
    std::string error;
    const auto ports = cam_.pump->AddStream(std::move(setup), &error);
    if (!ports) {
      cam_.Log("SETUP failed: " + error);
      return {500, {}, {}};
    }
    RtspSession& session = cam_.sessions[id];
    session.streams.push_back(ports->id);
    session.track_urls.push_back(r.target);
    char ssrc[16];
    std::snprintf(ssrc, sizeof(ssrc), "%08X", ports->ssrc);
    const std::string reply_transport = "RTP/AVP;unicast;client_port=" + std::to_string(rtp_port) +
                                        "-" + std::to_string(rtcp_port) +
                                        ";server_port=" + std::to_string(ports->server_rtp) + "-" +
                                        std::to_string(ports->server_rtcp) + ";ssrc=" + ssrc;
    return {200,
            {{"Transport", reply_transport},
             {"Session", id + ";timeout=" + std::to_string(cam_.options.session_timeout_s)}},
            {}};
  }

  RtspReply Play(const std::string& session_id) {
    if (session_id.empty()) return {454, {}, {}};
    korvela::MutexLock lock(cam_.sessions_mu);
    const auto it = cam_.sessions.find(session_id);
    if (it == cam_.sessions.end()) return {454, {}, {}};
    std::string rtp_info;
    for (size_t i = 0; i < it->second.streams.size(); ++i) {
      const auto info = cam_.pump->Play(it->second.streams[i]);
      if (!info) continue;  // the stream timed out
      if (!rtp_info.empty()) rtp_info += ",";
      rtp_info += "url=" + it->second.track_urls[i] + ";seq=" + std::to_string(info->sequence) +
                  ";rtptime=" + std::to_string(info->rtp_timestamp);
    }
    if (rtp_info.empty()) {
      cam_.sessions.erase(it);
      return {454, {}, {}};
    }
    return {200,
            {{"Session", session_id + ";timeout=" + std::to_string(cam_.options.session_timeout_s)},
             {"Range", "npt=0.000-"},
             {"RTP-Info", rtp_info}},
            {}};
  }

  RtspReply Teardown(const std::string& session_id) {
    if (session_id.empty()) return {454, {}, {}};
    korvela::MutexLock lock(cam_.sessions_mu);
    const auto it = cam_.sessions.find(session_id);
    if (it == cam_.sessions.end()) return {454, {}, {}};
    for (uint64_t stream : it->second.streams) cam_.pump->Remove(stream);
    cam_.sessions.erase(it);
    return {200, {}, {}};
  }

  CameraContext& cam_;
  const int fd_;
  StreamReader reader_;
  const std::chrono::steady_clock::time_point connected_;
  sockaddr_in peer_{};
};

}  // namespace

void ServeRtspConnection(CameraContext& camera, int fd) { RtspConnection(camera, fd).Serve(); }

}  // namespace camsim
