#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "camera_context.h"
#include "camsim.h"
#include "net.h"

#ifndef CAMSIM_TESTDATA_DIR
#define CAMSIM_TESTDATA_DIR "testdata"
#endif

namespace camsim {
namespace {

constexpr size_t kMaxCameras = 1024;
// Largest sample file (JPEG, audio) the library loads.
constexpr size_t kMaxSampleBytes = 4 * 1024 * 1024;

bool IsJpeg(const std::string& data) {
  return data.size() > 4 && uint8_t(data[0]) == 0xff && uint8_t(data[1]) == 0xd8 &&
         uint8_t(data[data.size() - 2]) == 0xff && uint8_t(data[data.size() - 1]) == 0xd9;
}

std::optional<std::vector<std::string>> LoadJpegs(const std::string& dir, const std::string& stem,
                                                  std::string* error) {
  std::vector<std::string> pictures;
  for (int i = 1; i <= 3; ++i) {
    const std::string path = dir + "/" + stem + "_" + std::to_string(i) + ".jpg";
    auto data = ReadFile(path, kMaxSampleBytes, error);
    if (!data) return std::nullopt;
    if (!IsJpeg(*data)) {
      if (error) *error = path + " is not a JPEG picture";
      return std::nullopt;
    }
    pictures.push_back(std::move(*data));
  }
  return pictures;
}

}  // namespace

std::optional<AuthMode> ParseAuthMode(std::string_view text) {
  if (text == "none") return AuthMode::kNone;
  if (text == "basic") return AuthMode::kBasic;
  if (text == "digest") return AuthMode::kDigest;
  return std::nullopt;
}

std::optional<MediaLibrary> MediaLibrary::Load(const std::string& dir, std::string* error) {
  MediaLibrary lib;
  auto large = H264Clip::Load(dir + "/h264_1280x720.h264", error);
  auto small = H264Clip::Load(dir + "/h264_640x480.h264", error);
  if (!large || !small) return std::nullopt;
  lib.video_large = std::move(*large);
  lib.video_small = std::move(*small);
  const std::string full_hd_path = dir + "/h264_1920x1080.h264";
  if (::access(full_hd_path.c_str(), F_OK) == 0) {
    lib.video_full_hd = H264Clip::Load(full_hd_path, error);
    if (!lib.video_full_hd) return std::nullopt;
  }
  auto jl = LoadJpegs(dir, "jpeg_1280x1024", error);
  auto js = LoadJpegs(dir, "jpeg_640x480", error);
  if (!jl || !js) return std::nullopt;
  lib.jpeg_large = std::move(*jl);
  lib.jpeg_small = std::move(*js);
  auto audio = ReadFile(dir + "/tone_440hz_8k.ul", kMaxSampleBytes, error);
  if (!audio) return std::nullopt;
  if (audio->empty()) {
    if (error) *error = "empty audio sample";
    return std::nullopt;
  }
  lib.audio = std::move(*audio);
  return lib;
}

namespace {

class SimulatorImpl;

// One simulated camera: its shared context plus what the acceptor needs.
// Threading: the listeners and the restart schedule belong to the acceptor
// thread (restart_ms_ is the hand-over); everything else is in the context.
class CameraImpl final : public Camera {
 public:
  CameraImpl(SimulatorImpl* sim, std::unique_ptr<CameraContext> ctx, UniqueFd http, UniqueFd rtsp)
      : http_listener_(std::move(http)),
        rtsp_listener_(std::move(rtsp)),
        sim_(sim),
        ctx_(std::move(ctx)) {}

  CameraContext& ctx() { return *ctx_; }

  uint16_t http_port() const override { return ctx_->http_port; }
  uint16_t rtsp_port() const override { return ctx_->rtsp_port; }
  std::string model() const override { return ctx_->oids.model_spec().name; }
  std::optional<std::string> GetOid(std::string_view oid) const override {
    return ctx_->oids.Read(oid);
  }
  void SetOid(std::string_view oid, std::string_view value) override {
    ctx_->oids.Force(oid, value);
  }
  void SetDigitalInput(bool closed) override {
    if (ctx_->oids.model_spec().io) ctx_->oids.Force("1.3.15", closed ? "CLOSED" : "OPEN");
  }
  std::vector<OidWrite> oid_writes() const override { return ctx_->observations.oid_writes(); }
  std::vector<HttpRequestRecord> http_requests() const override {
    return ctx_->observations.http_requests();
  }
  std::vector<RtspRequestRecord> rtsp_requests() const override {
    return ctx_->observations.rtsp_requests();
  }
  std::vector<RtcpRecord> rtcp_received() const override {
    return ctx_->observations.rtcp_received();
  }
  std::vector<uint8_t> audio_received() const override {
    return ctx_->observations.audio_received();
  }
  uint64_t audio_bytes_total() const override { return ctx_->observations.audio_bytes_total(); }
  MediaCounters counters() const override { return ctx_->observations.counters(); }
  void ClearRecords() override { ctx_->observations.Clear(); }
  bool WaitUntil(const std::function<bool()>& pred,
                 std::chrono::milliseconds timeout) const override {
    return ctx_->observations.WaitUntil(pred, timeout);
  }
  void InjectFault(const Fault& fault) override;
  void ClearFault(Fault::Kind kind) override { ctx_->faults.Clear(kind); }
  void ClearFaults() override { ctx_->faults.ClearAll(); }

  // Acceptor thread only.
  UniqueFd http_listener_;
  UniqueFd rtsp_listener_;
  std::chrono::steady_clock::time_point reopen_at_{};
  bool refusing_ = false;
  std::atomic<int> restart_ms_{-1};  // >= 0: a restart asked for, not yet done

 private:
  SimulatorImpl* const sim_;
  std::unique_ptr<CameraContext> ctx_;
};

// Threading: Start and the destructor run on the owner's thread; the acceptor
// thread ("camsim accept") accepts, restarts cameras and reaps connection
// threads; conn_mu_ guards connections_.
class SimulatorImpl final : public Simulator {
 public:
  ~SimulatorImpl() override;

  bool Init(const SimulatorOptions& options, std::string* error);
  size_t camera_count() const override { return cameras_.size(); }
  Camera& camera(size_t index) override { return *cameras_.at(index); }

  void Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wake_fd_.get(), &one, sizeof(one));
  }

 private:
  struct Connection {
    CameraImpl* camera = nullptr;
    UniqueFd fd;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop();
  void Accept(CameraImpl& camera, int listener, bool rtsp);
  void Restart(CameraImpl& camera, int ms);
  void ShutdownConnections(CameraImpl* camera);  // all when null
  void Reap(bool all);

  std::optional<MediaLibrary> media_;
  MediaPump pump_;
  std::vector<std::unique_ptr<CameraImpl>> cameras_;
  UniqueFd wake_fd_;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  korvela::Mutex conn_mu_;
  std::list<std::unique_ptr<Connection>> connections_ GUARDED_BY(conn_mu_);
};

void CameraImpl::InjectFault(const Fault& fault) {
  if (fault.kind == Fault::Kind::kRestart) {
    restart_ms_ = fault.value;
    sim_->Wake();
    return;
  }
  ctx_->faults.Set(fault);
}

bool SimulatorImpl::Init(const SimulatorOptions& options, std::string* error) {
  if (options.cameras < 1 || size_t(options.cameras) > kMaxCameras) {
    if (error) *error = "camera count must be 1 to " + std::to_string(kMaxCameras);
    return false;
  }
  const CameraOptions& base = options.camera;
  const auto model_spec = FindModel(base.model);
  if (!model_spec) {
    if (error) *error = "unknown model '" + base.model + "'";
    return false;
  }
  media_ = MediaLibrary::Load(base.testdata_dir.empty() ? CAMSIM_TESTDATA_DIR : base.testdata_dir,
                              error);
  if (!media_) return false;
  wake_fd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake_fd_.valid()) {
    if (error) *error = "eventfd failed";
    return false;
  }
  for (int i = 0; i < options.cameras; ++i) {
    const uint16_t hp = base.http_port ? uint16_t(base.http_port + i) : 0;
    const uint16_t rp = base.rtsp_port ? uint16_t(base.rtsp_port + i) : 0;
    if ((base.http_port && base.http_port + i > 65535) ||
        (base.rtsp_port && base.rtsp_port + i > 65535)) {
      if (error) *error = "port range too high";
      return false;
    }
    UniqueFd http = OpenTcpListener(base.bind_address, hp, error);
    if (!http.valid()) return false;
    UniqueFd rtsp = OpenTcpListener(base.bind_address, rp, error);
    if (!rtsp.valid()) return false;
    char mac[32];
    std::snprintf(mac, sizeof(mac), "02-00-5E-10-%02X-%02X", (i >> 8) & 0xff, i & 0xff);
    auto ctx =
        std::make_unique<CameraContext>(i, base, *model_spec, mac, LocalPort(http.get()),
                                        LocalPort(rtsp.get()), &*media_, &pump_, options.log);
    cameras_.push_back(
        std::make_unique<CameraImpl>(this, std::move(ctx), std::move(http), std::move(rtsp)));
  }
  if (!pump_.Start(error)) return false;
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return true;
}

SimulatorImpl::~SimulatorImpl() {
  stop_ = true;
  if (wake_fd_.valid()) Wake();
  if (acceptor_.joinable()) acceptor_.join();
  ShutdownConnections(nullptr);
  Reap(true);
  pump_.Stop();
}

void SimulatorImpl::ShutdownConnections(CameraImpl* camera) {
  korvela::MutexLock lock(conn_mu_);
  for (auto& c : connections_) {
    if (!camera || c->camera == camera) ::shutdown(c->fd.get(), SHUT_RDWR);
  }
}

void SimulatorImpl::Reap(bool all) {
  std::list<std::unique_ptr<Connection>> finished;
  {
    korvela::MutexLock lock(conn_mu_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->done) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) {
    if (c->thread.joinable()) c->thread.join();
  }
}

void SimulatorImpl::Accept(CameraImpl& camera, int listener, bool rtsp) {
  while (true) {
    UniqueFd fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd.valid()) return;
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    korvela::MutexLock lock(conn_mu_);
    size_t open = 0;
    for (auto& c : connections_) open += (c->camera == &camera && !c->done) ? 1 : 0;
    if (open >= kMaxConnectionsPerCamera) {
      camera.ctx().Log("too many connections, closing a new one");
      continue;
    }
    auto conn = std::make_unique<Connection>();
    conn->camera = &camera;
    conn->fd = std::move(fd);
    Connection* raw = conn.get();
    conn->thread = std::thread([raw, rtsp] {
      pthread_setname_np(pthread_self(), rtsp ? "camsim rtsp" : "camsim http");
      bool handed_over = false;
      if (rtsp)
        ServeRtspConnection(raw->camera->ctx(), raw->fd.get());
      else
        handed_over = ServeHttpConnection(raw->camera->ctx(), raw->fd.get());
      if (!handed_over) ::shutdown(raw->fd.get(), SHUT_RDWR);
      raw->done = true;
    });
    connections_.push_back(std::move(conn));
  }
}

void SimulatorImpl::Restart(CameraImpl& camera, int ms) {
  CameraContext& ctx = camera.ctx();
  ctx.Log("restart: refusing connections for " + std::to_string(ms) + " ms");
  camera.http_listener_.reset();
  camera.rtsp_listener_.reset();
  ShutdownConnections(&camera);
  pump_.RemoveCamera(ctx.id);
  {
    korvela::MutexLock lock(ctx.sessions_mu);
    ctx.sessions.clear();
  }
  camera.refusing_ = true;
  camera.reopen_at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

void SimulatorImpl::AcceptLoop() {
  pthread_setname_np(pthread_self(), "camsim accept");
  std::vector<pollfd> fds;
  std::vector<std::pair<CameraImpl*, bool>> owners;  // camera, is RTSP
  while (!stop_) {
    const auto now = std::chrono::steady_clock::now();
    int timeout_ms = 1000;  // finished connection threads are reaped at least this often
    for (auto& cam : cameras_) {
      const int restart = cam->restart_ms_.exchange(-1);
      if (restart >= 0) Restart(*cam, restart);
      if (cam->refusing_) {
        if (now >= cam->reopen_at_) {
          std::string error;
          UniqueFd http =
              OpenTcpListener(cam->ctx().options.bind_address, cam->http_port(), &error);
          UniqueFd rtsp =
              OpenTcpListener(cam->ctx().options.bind_address, cam->rtsp_port(), &error);
          if (http.valid() && rtsp.valid()) {
            cam->http_listener_ = std::move(http);
            cam->rtsp_listener_ = std::move(rtsp);
            cam->refusing_ = false;
            cam->ctx().Log("restart: accepting connections again");
          } else {
            cam->reopen_at_ = now + std::chrono::milliseconds(100);  // port still held; retry
          }
        }
        if (cam->refusing_) {
          const auto wait =
              std::chrono::duration_cast<std::chrono::milliseconds>(cam->reopen_at_ - now);
          timeout_ms = std::max(0, std::min<int>(timeout_ms, int(wait.count()) + 1));
        }
      }
    }
    fds.clear();
    owners.clear();
    fds.push_back({wake_fd_.get(), POLLIN, 0});
    owners.emplace_back(nullptr, false);
    for (auto& cam : cameras_) {
      if (cam->refusing_) continue;
      fds.push_back({cam->http_listener_.get(), POLLIN, 0});
      owners.emplace_back(cam.get(), false);
      fds.push_back({cam->rtsp_listener_.get(), POLLIN, 0});
      owners.emplace_back(cam.get(), true);
    }
    const int r = ::poll(fds.data(), fds.size(), timeout_ms);
    if (r < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      uint64_t v;
      [[maybe_unused]] auto n = ::read(wake_fd_.get(), &v, sizeof(v));
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents & POLLIN) Accept(*owners[i].first, fds[i].fd, owners[i].second);
    }
    Reap(false);
  }
}

}  // namespace

std::unique_ptr<Simulator> Simulator::Start(const SimulatorOptions& options, std::string* error) {
  auto sim = std::make_unique<SimulatorImpl>();
  if (!sim->Init(options, error)) return nullptr;
  return sim;
}

}  // namespace camsim
