// HTTP side of a simulated camera: OID pages, access pages, Motion-JPEG
// server push and the talk-back sink, with keep-alive.
#include <chrono>
#include <cstdlib>
#include <optional>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "camera_context.h"
#include "net.h"
#include "util/ascii.h"
#include "wire.h"

namespace camsim {
namespace {

constexpr int kIdleTimeoutMs = 30000;  // keep-alive connection without a request
constexpr int kBodyTimeoutMs = 20000;  // silence inside a request body
// Largest talk-back body taken in one POST (the driver declares 999,999).
constexpr uint64_t kMaxAudioPostBytes = 256ull * 1024 * 1024;
constexpr std::string_view kBoundary = "camsimframe";

struct Reply {
  int status = 200;
  HeaderList headers;
  std::string body;
  bool close = false;
};

std::string Reason(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 415:
      return "Unsupported Media Type";
    case 431:
      return "Request Header Fields Too Large";
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

std::string Serialize(const Reply& r, bool head_only) {
  std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " + Reason(r.status) + "\r\n";
  out += "Server: camsim\r\n";
  for (const auto& [n, v] : r.headers) out += n + ": " + v + "\r\n";
  out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
  if (r.close) out += "Connection: close\r\n";
  out += "\r\n";
  if (!head_only) out += r.body;
  return out;
}

Reply ErrorPage(int status) {
  Reply r;
  r.status = status;
  r.headers.emplace_back("Content-Type", "text/html");
  r.body = "<html><body><h1>" + std::to_string(status) + " " + Reason(status) +
           "</h1></body></html>\r\n";
  return r;
}

std::optional<std::string> QueryParam(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view item = query.substr(0, amp);
    const size_t eq = item.find('=');
    if (item.substr(0, eq) == name) {
      return eq == std::string_view::npos ? std::string() : std::string(item.substr(eq + 1));
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

// One accepted HTTP connection. Threading: lives on its connection thread
// only; shared camera state is reached through the thread-safe context.
class HttpConnection {
 public:
  HttpConnection(CameraContext& camera, int fd)
      : cam_(camera), fd_(fd), reader_(fd), connected_(std::chrono::steady_clock::now()) {}

  void Serve() {
    while (true) {
      std::string head;
      const auto status = reader_.ReadHead(&head, kIdleTimeoutMs);
      if (status == StreamReader::Status::kTooLong) {
        Send(ErrorPage(431), false, true);
        return;
      }
      if (status != StreamReader::Status::kOk) return;
      const auto received = std::chrono::steady_clock::now();
      const auto request = ParseRequestHead(head);
      if (!request) {
        Send(ErrorPage(400), false, true);
        cam_.observations.AddHttpRequest(
            {"?", "", {}, 400, {connected_, received, std::chrono::steady_clock::now()}});
        return;
      }
      HttpRequestRecord record{request->method,
                               request->target,
                               RedactHeaders(request->headers),
                               0,
                               {connected_, received, {}}};
      const bool keep = Handle(*request, &record.status);
      record.times.handled = std::chrono::steady_clock::now();
      cam_.Log("HTTP " + request->method + " " + request->target + " -> " +
               std::to_string(record.status));
      cam_.observations.AddHttpRequest(std::move(record));
      if (!keep) return;
    }
  }

  bool handed_over() const { return handed_over_; }

 private:
  bool WantsClose(const Request& r) const {
    const std::string connection = korvela::AsciiToLower(r.Header("Connection"));
    if (r.version == "HTTP/1.0") return connection.find("keep-alive") == std::string::npos;
    return connection.find("close") != std::string::npos;
  }

  // Sends a reply, applying the slow and garble faults; false when the
  // connection must end.
  bool Send(Reply reply, bool head_only, bool close) {
    reply.close = reply.close || close;
    if (const int ms = cam_.faults.slow_ms(); ms > 0) {
      if (!PauseOnConnection(fd_, ms)) return false;
    }
    if (cam_.faults.garble()) {
      SendAll(fd_, GarbageBytes());
      return false;
    }
    return SendAll(fd_, Serialize(reply, head_only)) && !reply.close;
  }

  // Skips a request body this server does not use; false when it cannot.
  bool DiscardBody(const Request& r) {
    if (korvela::AsciiToLower(r.Header("Transfer-Encoding")).find("chunked") != std::string::npos) {
      size_t total = 0;
      return reader_.ReadChunked(kBodyTimeoutMs, [&](std::string_view d) { total += d.size(); }) ==
                 StreamReader::Status::kOk &&
             total <= kMaxIgnoredBody;
    }
    const std::string length = r.Header("Content-Length");
    if (length.empty()) return true;
    char* end = nullptr;
    const unsigned long long n = std::strtoull(length.c_str(), &end, 10);
    if (*end != '\0' || n > kMaxIgnoredBody) return false;
    return reader_.ReadExact(size_t(n), kBodyTimeoutMs, [](std::string_view) {}) ==
           StreamReader::Status::kOk;
  }

  bool Authorized(const Request& r, int* status) {
    if (cam_.faults.always_unauthorized()) {
      Reply reply = ErrorPage(401);
      reply.headers.emplace_back("WWW-Authenticate", cam_.auth.Challenge(false, AuthModeOrBasic()));
      *status = 401;
      Send(std::move(reply), r.method == "HEAD", false);
      return false;
    }
    const auto verdict =
        cam_.auth.Check(r.method, r.target, r.Header("Authorization"), cam_.credentials());
    if (verdict == Authenticator::Verdict::kOk) return true;
    Reply reply = ErrorPage(401);
    reply.headers.emplace_back("WWW-Authenticate",
                               cam_.auth.Challenge(verdict == Authenticator::Verdict::kStaleNonce));
    *status = 401;
    Send(std::move(reply), r.method == "HEAD", false);
    return false;
  }

  AuthMode AuthModeOrBasic() const {
    return cam_.auth.mode() == AuthMode::kNone ? AuthMode::kBasic : cam_.auth.mode();
  }

  // Handles one request; false when the connection ends.
  bool Handle(const Request& r, int* status) {
    std::string target = r.target;
    if (target.starts_with("http://")) {  // absolute form
      const size_t slash = target.find('/', 7);
      target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    const size_t q = target.find('?');
    const std::string path = target.substr(0, q);
    const std::string query = q == std::string::npos ? std::string() : target.substr(q + 1);
    const bool close = WantsClose(r);
    const bool head = r.method == "HEAD";

    if (path == "/audiorx.cgi") return TalkBack(r, close, status);
    if (r.method != "GET" && r.method != "HEAD") {
      *status = r.method == "POST" ? 405 : 501;
      Send(ErrorPage(*status), head, true);
      return false;
    }
    if (!DiscardBody(r)) {
      *status = 413;
      Send(ErrorPage(413), head, true);
      return false;
    }
    if (const int forced = cam_.faults.forced_status(); forced > 0) {
      *status = forced;
      return Send(ErrorPage(forced), head, close);
    }
    if (!Authorized(r, status)) return !close;

    Reply reply;
    reply.headers.emplace_back("Content-Type", "text/html");
    reply.headers.emplace_back("Cache-Control", "no-cache");
    if (path == "/get.oid") {
      reply.body = cam_.oids.GetPage(query);
    } else if (path == "/set.oid") {
      std::vector<OidWrite> writes;
      reply.body = cam_.oids.SetPage(query, &writes);
      for (auto& w : writes) {
        cam_.Log("OID write " + w.oid + "=" + (w.oid == "1.9.10" ? "<secret>" : w.value) +
                 (w.accepted ? "" : " (refused)"));
        cam_.observations.AddOidWrite(std::move(w));
      }
    } else if (path == "/basicset.html" || path == "/imageset.html") {
      reply.body = "<html><head><title>" + cam_.oids.model_spec().name +
                   " settings</title></head><body><form method=\"get\" action=\"/set.oid\">"
                   "</form></body></html>\r\n";
    } else if (path == "/now.jpg") {
      return Jpeg(r, query, status);
    } else {
      reply = ErrorPage(404);
    }
    *status = reply.status;
    return Send(std::move(reply), head, close);
  }

  // Picture width the camera produces now: the video mode's, else the
  // cropping window's divided by the push URL's downscale factor.
  int PictureWidth(std::string_view query) const {
    const ModelSpec& model_spec = cam_.oids.model_spec();
    if (model_spec.has_modes) {
      if (const auto mode = cam_.oids.Read("1.17.2.6")) {
        if (const VideoMode* m = FindMode(model_spec, *mode)) return m->width;
      }
    }
    int width = std::atoi(cam_.oids.Read("1.2.6.2").value_or("0").c_str());
    if (width <= 0) width = model_spec.max_width;
    int ds = 1;
    if (auto text = QueryParam(query, "ds")) ds = std::atoi(text->c_str());
    if (ds < 1 || ds > 64) ds = 1;
    return width / ds;
  }

  const std::vector<std::string>& PictureSet(std::string_view query) const {
    return PictureWidth(query) >= 960 ? cam_.media->jpeg_large : cam_.media->jpeg_small;
  }

  // Frame interval of a push: the camera's frame interval (OID 1.2.31) sets the
  // rate; the period in the URL (seconds) can only slow it down further; never
  // faster than the model's frame rate. Clients that write 1.2.31 before they
  // open the push therefore get the rate they configured, whatever the period.
  std::chrono::microseconds PushInterval(std::string_view period_text) const {
    const double period = std::strtod(std::string(period_text).c_str(), nullptr);
    const long long asked = period > 0 && period < 3600 ? static_cast<long long>(period * 1e6) : 0;
    const long long configured = 1000LL * std::atoi(cam_.oids.Read("1.2.31").value_or("0").c_str());
    const long long fastest = 1000000LL / cam_.oids.model_spec().max_fps;
    return std::chrono::microseconds(std::max({asked, configured, fastest}));
  }

  bool Jpeg(const Request& r, const std::string& query, int* status) {
    const auto& pictures = PictureSet(query);
    const auto snap = QueryParam(query, "snap");
    if (!snap || !snap->starts_with("spush")) {
      Reply reply;
      reply.headers.emplace_back("Content-Type", "image/jpeg");
      reply.body = pictures.front();
      *status = 200;
      cam_.observations.CountMedia({.jpeg_frames_sent = 1});
      return Send(std::move(reply), r.method == "HEAD", WantsClose(r));
    }
    *status = 200;
    const auto interval = PushInterval(std::string_view(*snap).substr(5));
    std::string head =
        "HTTP/1.1 200 OK\r\nServer: camsim\r\nCache-Control: no-cache\r\n"
        "Content-Type: multipart/x-mixed-replace; boundary=" +
        std::string(kBoundary) + "\r\nConnection: close\r\n\r\n";
    if (const int ms = cam_.faults.slow_ms(); ms > 0 && !PauseOnConnection(fd_, ms)) return false;
    if (cam_.faults.garble()) {
      SendAll(fd_, GarbageBytes());
      return false;
    }
    if (!SendAll(fd_, head)) return false;
    // From here the media pump paces the pictures; the socket goes with it.
    PushSetup push;
    push.fd.reset(::dup(fd_));
    push.pictures = &pictures;
    push.boundary = std::string(kBoundary);
    push.interval = interval;
    push.camera_id = cam_.id;
    push.observations = &cam_.observations;
    push.faults = &cam_.faults;
    std::string error;
    if (!cam_.pump->AddPush(std::move(push), &error)) {
      cam_.Log("Motion-JPEG push refused: " + error);
      return false;
    }
    cam_.Log("Motion-JPEG push every " + std::to_string(interval.count()) + " us");
    handed_over_ = true;
    return false;
  }

  bool TalkBack(const Request& r, bool close, int* status) {
    auto refuse = [&](int code) {
      *status = code;
      Reply reply = ErrorPage(code);
      if (code == 401) {
        reply.headers.emplace_back("WWW-Authenticate",
                                   cam_.auth.Challenge(false, AuthModeOrBasic()));
      }
      Send(std::move(reply), false, true);  // the body is not read: the connection ends
      return false;
    };
    if (r.method != "POST") return refuse(405);
    if (const int forced = cam_.faults.forced_status(); forced > 0) return refuse(forced);
    const auto output = cam_.oids.Read("1.9.6");
    if (!output) return refuse(404);  // no audio output on this model
    // The talk-back user has its own password, the one last written to 1.9.10;
    // Basic is always taken, Digest as well.
    std::string password = cam_.oids.Read("1.9.10").value_or("");
    if (password.empty()) password = "plume";
    const Credentials audio_user{"audio", password};
    const std::string authorization = r.Header("Authorization");
    const AuthMode mode = korvela::AsciiToLower(authorization).starts_with("digest")
                              ? AuthMode::kDigest
                              : AuthMode::kBasic;
    if (cam_.faults.always_unauthorized() ||
        cam_.auth.Check(r.method, r.target, authorization, audio_user, mode) !=
            Authenticator::Verdict::kOk) {
      return refuse(401);
    }
    if (*output != "enabled") return refuse(503);
    if (!korvela::AsciiToLower(r.Header("Content-Type")).starts_with("audio/")) return refuse(415);
    const bool chunked =
        korvela::AsciiToLower(r.Header("Transfer-Encoding")).find("chunked") != std::string::npos;
    const std::string length_text = r.Header("Content-Length");
    uint64_t length = 0;
    if (!chunked) {
      if (length_text.empty()) return refuse(411);
      char* end = nullptr;
      length = std::strtoull(length_text.c_str(), &end, 10);
      if (*end != '\0') return refuse(400);
      if (length > kMaxAudioPostBytes) return refuse(413);
    }
    // The end-talkback fault: the camera takes n bytes, answers and closes.
    const uint64_t end_after = uint64_t(cam_.faults.end_talkback());
    const bool ends_early = !chunked && end_after > 0 && end_after < length;
    if (ends_early) length = end_after;
    if (korvela::AsciiToLower(r.Header("Expect")) == "100-continue" &&
        !SendAll(fd_, "HTTP/1.1 100 Continue\r\n\r\n")) {
      return false;
    }
    cam_.Log("talk-back POST started");
    const size_t post = cam_.observations.BeginAudioPost();
    uint64_t received = 0;
    auto sink = [&](std::string_view data) {
      received += data.size();
      cam_.observations.AddAudio(post, data.data(), data.size());
    };
    StreamReader::Status body;
    if (chunked) {
      body = reader_.ReadChunked(kBodyTimeoutMs, [&](std::string_view data) {
        if (received + data.size() <= kMaxAudioPostBytes)
          sink(data);
        else
          received = kMaxAudioPostBytes + 1;
      });
      if (received > kMaxAudioPostBytes) return refuse(413);
    } else {
      body = reader_.ReadExact(size_t(length), kBodyTimeoutMs, sink);
    }
    cam_.Log("talk-back POST ended after " + std::to_string(received) + " bytes");
    if (body != StreamReader::Status::kOk) {
      *status =
          body == StreamReader::Status::kBad || body == StreamReader::Status::kTooLong ? 400 : 0;
      if (*status) Send(ErrorPage(400), false, true);
      return false;
    }
    Reply reply;
    reply.headers.emplace_back("Content-Type", "text/html");
    reply.body = "<html><body>OK</body></html>\r\n";
    *status = 200;
    return Send(std::move(reply), false, close || ends_early);
  }

  CameraContext& cam_;
  const int fd_;
  StreamReader reader_;
  const std::chrono::steady_clock::time_point connected_;
  bool handed_over_ = false;  // the socket now belongs to a media pump push
};

}  // namespace

std::string GarbageBytes() {
  static const char kGarbage[] =
      "\x17\x03\x03\x00\x1f\xde\xad\xbe\xef garbled\x00\xff\xfe reply \x01\x02\r\n";
  return std::string(kGarbage, sizeof(kGarbage) - 1);
}

bool PauseOnConnection(int fd, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    // POLLRDHUP: the peer closed or we shut the socket down; data the client
    // sends meanwhile stays unread.
    pollfd p{fd, POLLRDHUP, 0};
    const int r = ::poll(&p, 1, int(left.count()));
    if (r > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) return false;
    if (r < 0 && errno != EINTR) return false;
  }
}

bool ServeHttpConnection(CameraContext& camera, int fd) {
  HttpConnection connection(camera, fd);
  connection.Serve();
  return connection.handed_over();
}

}  // namespace camsim
