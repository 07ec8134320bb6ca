#include "media_pump.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "auth.h"

namespace camsim {
namespace {

// A pump that fell this far behind (machine stalled) skips instead of bursting.
constexpr auto kMaxLag = std::chrono::milliseconds(500);
// Longest poll sleep when nothing is due (session expiry is checked as often).
constexpr int kMaxPollMs = 200;

uint32_t RandomU32() {
  const std::string hex = RandomHex(4);
  return uint32_t(std::stoul(hex, nullptr, 16));
}

// The second source address for the alternate-source fault: on loopback
// another 127/8 address, elsewhere the same address with another port.
std::string AltHost(const std::string& host) {
  return host.starts_with("127.") && host != "127.0.0.2" ? "127.0.0.2" : host;
}

// Even RTP port with RTCP on the next one (RFC 3550 11).
bool OpenPortPair(const std::string& host, UniqueFd* rtp, UniqueFd* rtcp, std::string* error) {
  for (int attempt = 0; attempt < 32; ++attempt) {
    UniqueFd probe = OpenUdp(host, 0, error);
    if (!probe.valid()) return false;
    uint16_t port = LocalPort(probe.get());
    if (port % 2 != 0) {
      if (port >= 65534) continue;
      ++port;
      probe.reset();
    }
    UniqueFd a = probe.valid() ? std::move(probe) : OpenUdp(host, port, nullptr);
    if (!a.valid()) continue;
    UniqueFd b = OpenUdp(host, uint16_t(port + 1), nullptr);
    if (!b.valid()) continue;
    *rtp = std::move(a);
    *rtcp = std::move(b);
    return true;
  }
  if (error) *error = "no free UDP port pair";
  return false;
}

}  // namespace

struct MediaPump::Stream {
  uint64_t id = 0;
  StreamSetup setup;
  UniqueFd rtp_fd;
  UniqueFd rtcp_fd;
  UniqueFd alt_fd;
  RtpPacketiser packetiser;
  uint32_t ts_base = 0;
  uint32_t clock_rate = 90000;
  uint32_t ticks_per_unit = 3600;
  std::chrono::milliseconds period{40};
  bool playing = false;
  Clock::time_point start;
  Clock::time_point next_due;
  Clock::time_point next_report;
  Clock::time_point last_activity;
  uint64_t units = 0;         // units of the timeline, sent or not
  size_t clip_index = 0;      // next access unit / audio offset
  uint32_t packets_sent = 0;  // for the sender report
  uint32_t octets_sent = 0;
  uint64_t drop_counter = 0;
  std::string held;  // reorder fault: packet waiting for its successor

  Stream(StreamSetup s, uint8_t pt, uint32_t ssrc)
      : setup(std::move(s)), packetiser(pt, ssrc, uint16_t(RandomU32())) {}
};

// One Motion-JPEG push. At most one part waits in `pending`: a frame that
// falls due while the client has not taken the previous one is skipped.
struct MediaPump::Push {
  PushSetup setup;
  size_t index = 0;
  Clock::time_point next_due;
  Clock::time_point stalled_since;
  std::string pending;
  size_t offset = 0;
};

MediaPump::MediaPump() = default;
MediaPump::~MediaPump() { Stop(); }

bool MediaPump::Start(std::string* error) {
  wake_fd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake_fd_.valid()) {
    if (error) *error = std::string("eventfd: ") + std::strerror(errno);
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void MediaPump::Stop() {
  if (thread_.joinable()) {
    stop_ = true;
    Wake();
    thread_.join();
  }
  korvela::MutexLock lock(mu_);
  streams_.clear();
  graveyard_.clear();
  pushes_.clear();
  push_graveyard_.clear();
}

void MediaPump::Wake() {
  const uint64_t one = 1;
  if (wake_fd_.valid()) [[maybe_unused]]
    auto n = ::write(wake_fd_.get(), &one, sizeof(one));
}

std::optional<StreamPorts> MediaPump::AddStream(StreamSetup setup, std::string* error) {
  const bool video = setup.kind == MediaKind::kVideo;
  if ((video && !setup.clip) || (!video && (!setup.audio || setup.audio->empty()))) {
    if (error) *error = "no media for this stream";
    return std::nullopt;
  }
  const uint32_t ssrc = RandomU32();
  auto stream = std::make_unique<Stream>(std::move(setup), video ? 96 : 0, ssrc);
  if (!OpenPortPair(stream->setup.bind_host, &stream->rtp_fd, &stream->rtcp_fd, error)) {
    return std::nullopt;
  }
  stream->clock_rate = video ? 90000 : 8000;
  stream->period = std::chrono::milliseconds(video ? kVideoPeriodMs : kAudioPeriodMs);
  stream->ticks_per_unit = video ? 90000 / (1000 / kVideoPeriodMs) : uint32_t(kAudioPacketBytes);
  stream->ts_base = RandomU32();
  stream->last_activity = Clock::now();
  StreamPorts ports{0, LocalPort(stream->rtp_fd.get()), LocalPort(stream->rtcp_fd.get()), ssrc};
  {
    korvela::MutexLock lock(mu_);
    if (streams_.size() >= kMaxStreams) {
      if (error) *error = "too many streams";
      return std::nullopt;
    }
    stream->id = next_id_++;
    ports.id = stream->id;
    streams_[stream->id] = std::move(stream);
  }
  Wake();
  return ports;
}

bool MediaPump::AddPush(PushSetup setup, std::string* error) {
  if (!setup.fd.valid() || !setup.pictures || setup.pictures->empty()) {
    if (error) *error = "nothing to push";
    return false;
  }
  auto push = std::make_unique<Push>();
  push->setup = std::move(setup);
  push->next_due = Clock::now();
  {
    korvela::MutexLock lock(mu_);
    if (pushes_.size() >= kMaxPushes) {
      if (error) *error = "too many pushes";
      return false;
    }
    pushes_.push_back(std::move(push));
  }
  Wake();
  return true;
}

bool MediaPump::ServicePush(Push& p, short revents, Clock::time_point now, MediaCounters* delta) {
  const int fd = p.setup.fd.get();
  if (revents & (POLLERR | POLLHUP | POLLNVAL | POLLRDHUP)) return false;  // client gone
  if (revents & POLLIN) {
    char sink[1024];
    const ssize_t n = ::recv(fd, sink, sizeof(sink), MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
      return false;
  }
  const bool stopped = p.setup.faults && p.setup.faults->stop_media();
  if (now - p.next_due > kMaxLag) p.next_due = now;
  if (now >= p.next_due) {
    if (p.pending.empty() && !stopped) {
      const std::string& picture = (*p.setup.pictures)[p.index++ % p.setup.pictures->size()];
      p.pending = "--" + p.setup.boundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                  std::to_string(picture.size()) + "\r\n\r\n";
      p.pending += picture;
      p.pending += "\r\n";
      p.offset = 0;
      p.stalled_since = now;
      ++delta->jpeg_frames_sent;
    }
    p.next_due += p.setup.interval;
  }
  while (p.offset < p.pending.size()) {
    const ssize_t n = ::send(fd, p.pending.data() + p.offset, p.pending.size() - p.offset,
                             MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      p.offset += size_t(n);
      p.stalled_since = now;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
    return false;
  }
  if (p.offset == p.pending.size()) {
    p.pending.clear();
    p.offset = 0;
  } else if (now - p.stalled_since > kPushStall) {
    return false;
  }
  return true;
}

std::optional<PlayInfo> MediaPump::Play(uint64_t id) {
  PlayInfo info;
  {
    korvela::MutexLock lock(mu_);
    const auto it = streams_.find(id);
    if (it == streams_.end()) return std::nullopt;
    Stream& s = *it->second;
    const auto now = Clock::now();
    if (!s.playing) {
      s.playing = true;
      s.start = now - s.period * s.units;  // a resumed stream keeps its timeline
      s.next_due = now;
      s.next_report = now + std::chrono::milliseconds(100);
    }
    s.last_activity = now;
    info.sequence = s.packetiser.next_sequence();
    info.rtp_timestamp = s.ts_base + uint32_t(s.units) * s.ticks_per_unit;
  }
  Wake();
  return info;
}

bool MediaPump::Exists(uint64_t id) const {
  korvela::MutexLock lock(mu_);
  return streams_.count(id) != 0;
}

void MediaPump::KeepAlive(uint64_t id) {
  korvela::MutexLock lock(mu_);
  const auto it = streams_.find(id);
  if (it != streams_.end()) it->second->last_activity = Clock::now();
}

void MediaPump::Remove(uint64_t id) {
  {
    korvela::MutexLock lock(mu_);
    const auto it = streams_.find(id);
    if (it == streams_.end()) return;
    graveyard_.push_back(std::move(it->second));
    streams_.erase(it);
  }
  Wake();
}

void MediaPump::RemoveCamera(int camera_id) {
  {
    korvela::MutexLock lock(mu_);
    for (auto it = pushes_.begin(); it != pushes_.end();) {
      if ((*it)->setup.camera_id == camera_id) {
        ::shutdown((*it)->setup.fd.get(), SHUT_RDWR);
        push_graveyard_.push_back(std::move(*it));
        it = pushes_.erase(it);
      } else {
        ++it;
      }
    }
    for (auto it = streams_.begin(); it != streams_.end();) {
      if (it->second->setup.camera_id == camera_id) {
        graveyard_.push_back(std::move(it->second));
        it = streams_.erase(it);
      } else {
        ++it;
      }
    }
  }
  Wake();
}

void MediaPump::SendDatagram(Stream& s, const std::string& packet, MediaCounters* delta) {
  int fd = s.rtp_fd.get();
  if (s.setup.faults && s.setup.faults->alt_source()) {
    if (!s.alt_fd.valid()) s.alt_fd = OpenUdp(AltHost(s.setup.bind_host), 0, nullptr);
    if (s.alt_fd.valid()) fd = s.alt_fd.get();
  }
  const ssize_t n =
      ::sendto(fd, packet.data(), packet.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&s.setup.client_rtp), sizeof(s.setup.client_rtp));
  if (n < 0) return;  // a full socket buffer loses the packet, as on a real network
  ++delta->rtp_packets_sent;
  ++s.packets_sent;
  s.octets_sent += uint32_t(packet.size() - kRtpHeaderSize);
}

void MediaPump::SendRtp(Stream& s, std::string packet, MediaCounters* delta) {
  const int drop = s.setup.faults ? s.setup.faults->drop_every() : 0;
  if (drop > 0 && ++s.drop_counter % uint64_t(drop) == 0) {
    ++delta->rtp_packets_dropped;
    return;
  }
  if (s.setup.faults && s.setup.faults->reorder()) {
    if (s.held.empty()) {
      s.held = std::move(packet);
      return;
    }
    SendDatagram(s, packet, delta);
    SendDatagram(s, s.held, delta);
    s.held.clear();
    return;
  }
  if (!s.held.empty()) {
    SendDatagram(s, s.held, delta);
    s.held.clear();
  }
  SendDatagram(s, packet, delta);
}

void MediaPump::SendUnit(Stream& s, MediaCounters* delta) {
  const uint32_t ts = s.ts_base + uint32_t(s.units) * s.ticks_per_unit;
  ++s.units;
  if (s.setup.faults && s.setup.faults->stop_media()) return;
  if (s.setup.kind == MediaKind::kVideo) {
    const auto& units = s.setup.clip->units();
    const AccessUnit& unit = units[s.clip_index];
    s.clip_index = (s.clip_index + 1) % units.size();
    for (auto& packet : s.packetiser.PacketiseH264(unit, ts)) SendRtp(s, std::move(packet), delta);
    ++delta->video_access_units_sent;
  } else {
    const std::string& samples = *s.setup.audio;
    std::string payload;
    while (payload.size() < kAudioPacketBytes) {
      const size_t n = std::min(kAudioPacketBytes - payload.size(), samples.size() - s.clip_index);
      payload.append(samples, s.clip_index, n);
      s.clip_index = (s.clip_index + n) % samples.size();
    }
    SendRtp(s, s.packetiser.Packet(payload, ts, false), delta);
    ++delta->audio_packets_sent;
  }
}

void MediaPump::SendReport(Stream& s, Clock::time_point now, MediaCounters* delta) {
  if (s.packets_sent == 0) return;  // nothing to report yet
  const auto since_start = std::chrono::duration_cast<std::chrono::microseconds>(now - s.start);
  SenderReportInfo info;
  info.ssrc = s.packetiser.ssrc();
  info.ntp = NtpFromUnixMicros(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
  info.rtp_timestamp = s.ts_base + uint32_t(uint64_t(since_start.count()) * s.clock_rate / 1000000);
  info.packet_count = s.packets_sent;
  info.octet_count = s.octets_sent;
  info.cname = "camsim@" + s.setup.bind_host;
  const std::string report = BuildSenderReport(info);
  if (::sendto(s.rtcp_fd.get(), report.data(), report.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&s.setup.client_rtcp),
               sizeof(s.setup.client_rtcp)) > 0) {
    ++delta->rtcp_sender_reports;
  }
}

void MediaPump::SendDue(Stream& s, Clock::time_point now, MediaCounters* delta) {
  if (now - s.next_due > kMaxLag) {
    const auto skipped = (now - s.next_due) / s.period;
    s.units += uint64_t(skipped);
    s.next_due += s.period * skipped;
  }
  while (s.next_due <= now) {
    SendUnit(s, delta);
    s.next_due += s.period;
  }
  if (now >= s.next_report) {
    if (!(s.setup.faults && s.setup.faults->stop_media())) SendReport(s, now, delta);
    s.next_report = now + s.setup.rtcp_interval;
  }
}

void MediaPump::ReceiveRtcp(Stream& s) {
  char buf[2048];
  while (true) {
    sockaddr_in from{};
    socklen_t len = sizeof(from);
    const ssize_t n = ::recvfrom(s.rtcp_fd.get(), buf, sizeof(buf), MSG_DONTWAIT | MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;
    const size_t size = std::min(size_t(n), sizeof(buf));
    RtcpRecord record;
    record.bytes.assign(buf, buf + size);
    record.from = AddressText(from);
    const RtcpSummary summary = InspectRtcp(std::string_view(buf, size));
    record.has_receiver_report = summary.has_receiver_report;
    record.has_bye = summary.has_bye;
    if (summary.valid) s.last_activity = Clock::now();  // receiver reports keep a session alive
    if (s.setup.observations) s.setup.observations->AddRtcp(std::move(record));
    if (s.setup.log && summary.has_bye) s.setup.log("RTCP BYE from " + AddressText(from));
  }
}

// What one round of the pump polls: the wake fd, each stream's RTCP and RTP
// sockets, then each push in pushes_ order.
struct MediaPump::PollSet {
  std::vector<pollfd> fds;
  std::vector<Stream*> owners;  // stream of each pollfd (null: wake fd or push)
  size_t first_push = 0;        // pollfds from here on belong to pushes_, in order
};

void MediaPump::Run() {
  pthread_setname_np(pthread_self(), "camsim media");
  PollSet set;
  CounterDeltas deltas;
  while (!stop_) {
    const int timeout_ms = BuildPollSet(set);
    if (::poll(set.fds.data(), set.fds.size(), timeout_ms) < 0 && errno != EINTR) break;
    if (set.fds[0].revents & POLLIN) {
      uint64_t v;
      [[maybe_unused]] auto n = ::read(wake_fd_.get(), &v, sizeof(v));
    }
    {
      korvela::MutexLock lock(mu_);
      DrainClientDatagrams(set);
      const auto now = Clock::now();
      ServiceStreams(now, deltas);
      ServicePushes(set, now, deltas);
    }
    PublishCounters(deltas);
  }
}

int MediaPump::BuildPollSet(PollSet& set) {
  int timeout_ms = kMaxPollMs;
  // Poll until the earliest due time, plus one so it has passed on wake-up.
  auto shorten_to = [&timeout_ms](Clock::duration wait) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait);
    timeout_ms = std::max(0, std::min<int>(timeout_ms, int(ms.count()) + 1));
  };
  korvela::MutexLock lock(mu_);
  graveyard_.clear();  // closes the sockets of removed streams
  push_graveyard_.clear();
  set.fds.clear();
  set.owners.clear();
  set.fds.push_back({wake_fd_.get(), POLLIN, 0});
  set.owners.push_back(nullptr);
  const auto now = Clock::now();
  for (auto& [id, s] : streams_) {
    set.fds.push_back({s->rtcp_fd.get(), POLLIN, 0});
    set.owners.push_back(s.get());
    set.fds.push_back({s->rtp_fd.get(), POLLIN, 0});  // clients may send NAT openers here
    set.owners.push_back(s.get());
    if (s->playing) shorten_to(std::min(s->next_due, s->next_report) - now);
  }
  set.first_push = set.fds.size();
  for (auto& p : pushes_) {
    const short events = short(POLLIN | POLLRDHUP | (p->pending.empty() ? 0 : POLLOUT));
    set.fds.push_back({p->setup.fd.get(), events, 0});
    set.owners.push_back(nullptr);
    shorten_to(p->next_due - now);
  }
  return timeout_ms;
}

void MediaPump::DrainClientDatagrams(const PollSet& set) {
  for (size_t i = 1; i < set.fds.size(); ++i) {
    if (!(set.fds[i].revents & POLLIN)) continue;
    Stream* s = set.owners[i];
    if (!s) continue;
    // The stream may have been removed meanwhile; it then sits in the
    // graveyard with open sockets, and reading from it is harmless.
    if (set.fds[i].fd == s->rtcp_fd.get()) {
      ReceiveRtcp(*s);
    } else {
      char sink[2048];
      while (::recv(set.fds[i].fd, sink, sizeof(sink), MSG_DONTWAIT) >= 0) {
      }
    }
  }
}

void MediaPump::ServiceStreams(Clock::time_point now, CounterDeltas& deltas) {
  for (auto it = streams_.begin(); it != streams_.end();) {
    Stream& s = *it->second;
    if (now - s.last_activity > s.setup.timeout) {
      if (s.setup.log) s.setup.log("RTSP session stream " + std::to_string(s.id) + " timed out");
      graveyard_.push_back(std::move(it->second));
      it = streams_.erase(it);
      continue;
    }
    if (s.playing) SendDue(s, now, &deltas[s.setup.observations]);
    ++it;
  }
}

void MediaPump::ServicePushes(PollSet& set, Clock::time_point now, CounterDeltas& deltas) {
  // Pushes added since the poll have no pollfd yet; they get theirs next round.
  for (size_t i = 0; i < pushes_.size();) {
    Push& p = *pushes_[i];
    const size_t slot = set.first_push + i;
    const short revents =
        slot < set.fds.size() && set.fds[slot].fd == p.setup.fd.get() ? set.fds[slot].revents : 0;
    if (ServicePush(p, revents, now, &deltas[p.setup.observations])) {
      ++i;
    } else {
      push_graveyard_.push_back(std::move(pushes_[i]));
      pushes_.erase(pushes_.begin() + long(i));
      set.first_push = set.fds.size();  // later pushes moved; their pollfds no longer line up
    }
  }
}

void MediaPump::PublishCounters(CounterDeltas& deltas) {
  for (auto& [obs, delta] : deltas) {
    if (obs &&
        (delta.rtp_packets_sent || delta.rtp_packets_dropped || delta.rtcp_sender_reports ||
         delta.audio_packets_sent || delta.video_access_units_sent || delta.jpeg_frames_sent)) {
      obs->CountMedia(delta);
    }
    delta = MediaCounters{};
  }
}

}  // namespace camsim
