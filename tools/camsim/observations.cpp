#include "observations.h"

#include "util/ascii.h"

namespace camsim {

template <typename T>
void Observations::Push(std::deque<T>& list, T record) {
  if (list.size() >= kMaxRecords) {
    list.pop_front();
    ++dropped_;
  }
  list.push_back(std::move(record));
}

void Observations::AddOidWrite(OidWrite write) {
  {
    korvela::MutexLock lock(mu_);
    Push(oid_writes_, std::move(write));
  }
  cv_.NotifyAll();
}

void Observations::AddHttpRequest(HttpRequestRecord record) {
  {
    korvela::MutexLock lock(mu_);
    Push(http_, std::move(record));
  }
  cv_.NotifyAll();
}

void Observations::AddRtspRequest(RtspRequestRecord record) {
  {
    korvela::MutexLock lock(mu_);
    Push(rtsp_, std::move(record));
  }
  cv_.NotifyAll();
}

void Observations::AddRtcp(RtcpRecord record) {
  {
    korvela::MutexLock lock(mu_);
    Push(rtcp_, std::move(record));
  }
  cv_.NotifyAll();
}

size_t Observations::BeginAudioPost() {
  korvela::MutexLock lock(mu_);
  return audio_posts_++;
}

void Observations::AddAudio(size_t post, const char* data, size_t size) {
  {
    korvela::MutexLock lock(mu_);
    audio_total_ += size;
    const size_t room = kMaxAudioBytes - audio_kept_;
    const size_t keep = size < room ? size : room;
    if (keep > 0) {
      std::vector<uint8_t>& bytes = audio_[post];
      bytes.insert(bytes.end(), data, data + keep);
      audio_kept_ += keep;
    }
  }
  cv_.NotifyAll();
}

void Observations::AddAudio(const char* data, size_t size) {
  size_t post;
  {
    korvela::MutexLock lock(mu_);
    post = audio_posts_ > 0 ? audio_posts_ - 1 : 0;
  }
  AddAudio(post, data, size);
}

void Observations::CountMedia(const MediaCounters& d) {
  {
    korvela::MutexLock lock(mu_);
    counters_.rtp_packets_sent += d.rtp_packets_sent;
    counters_.rtp_packets_dropped += d.rtp_packets_dropped;
    counters_.rtcp_sender_reports += d.rtcp_sender_reports;
    counters_.jpeg_frames_sent += d.jpeg_frames_sent;
    counters_.video_access_units_sent += d.video_access_units_sent;
    counters_.audio_packets_sent += d.audio_packets_sent;
  }
  cv_.NotifyAll();
}

std::vector<OidWrite> Observations::oid_writes() const {
  korvela::MutexLock lock(mu_);
  return {oid_writes_.begin(), oid_writes_.end()};
}
std::vector<HttpRequestRecord> Observations::http_requests() const {
  korvela::MutexLock lock(mu_);
  return {http_.begin(), http_.end()};
}
std::vector<RtspRequestRecord> Observations::rtsp_requests() const {
  korvela::MutexLock lock(mu_);
  return {rtsp_.begin(), rtsp_.end()};
}
std::vector<RtcpRecord> Observations::rtcp_received() const {
  korvela::MutexLock lock(mu_);
  return {rtcp_.begin(), rtcp_.end()};
}
std::vector<uint8_t> Observations::audio_received() const {
  korvela::MutexLock lock(mu_);
  std::vector<uint8_t> all;
  all.reserve(audio_kept_);
  for (const auto& [post, bytes] : audio_) all.insert(all.end(), bytes.begin(), bytes.end());
  return all;
}
uint64_t Observations::audio_bytes_total() const {
  korvela::MutexLock lock(mu_);
  return audio_total_;
}
MediaCounters Observations::counters() const {
  korvela::MutexLock lock(mu_);
  return counters_;
}
uint64_t Observations::dropped_records() const {
  korvela::MutexLock lock(mu_);
  return dropped_;
}

void Observations::Clear() {
  korvela::MutexLock lock(mu_);
  oid_writes_.clear();
  http_.clear();
  rtsp_.clear();
  rtcp_.clear();
  audio_.clear();
  audio_kept_ = 0;
  audio_total_ = 0;
  counters_ = {};
  dropped_ = 0;
}

bool Observations::WaitUntil(const std::function<bool()>& pred,
                             std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (pred()) return true;  // may call the accessors, which take mu_
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    // Bounded slices: a predicate may also depend on state outside this
    // object, and a change between pred() and the wait is seen a slice late.
    korvela::MutexLock lock(mu_);
    cv_.WaitUntil(mu_, std::min(now + std::chrono::milliseconds(50), deadline));
  }
}

HeaderList RedactHeaders(const HeaderList& headers) {
  HeaderList out;
  out.reserve(headers.size());
  for (const auto& [name, value] : headers) {
    if (korvela::EqualsIgnoreAsciiCase(name, "Authorization") ||
        korvela::EqualsIgnoreAsciiCase(name, "Proxy-Authorization")) {
      out.emplace_back(name, value.substr(0, value.find(' ')));
    } else {
      out.emplace_back(name, value);
    }
  }
  return out;
}

}  // namespace camsim
