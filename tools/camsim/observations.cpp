#include "observations.h"

#include <strings.h>

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
    MutexLock lock(mu_);
    Push(oid_writes_, std::move(write));
  }
  cv_.notify_all();
}

void Observations::AddHttpRequest(HttpRequestRecord record) {
  {
    MutexLock lock(mu_);
    Push(http_, std::move(record));
  }
  cv_.notify_all();
}

void Observations::AddRtspRequest(RtspRequestRecord record) {
  {
    MutexLock lock(mu_);
    Push(rtsp_, std::move(record));
  }
  cv_.notify_all();
}

void Observations::AddRtcp(RtcpRecord record) {
  {
    MutexLock lock(mu_);
    Push(rtcp_, std::move(record));
  }
  cv_.notify_all();
}

size_t Observations::BeginAudioPost() {
  MutexLock lock(mu_);
  return audio_posts_++;
}

void Observations::AddAudio(size_t post, const char* data, size_t size) {
  {
    MutexLock lock(mu_);
    audio_total_ += size;
    const size_t room = kMaxAudioBytes - audio_kept_;
    const size_t keep = size < room ? size : room;
    if (keep > 0) {
      std::vector<uint8_t>& bytes = audio_[post];
      bytes.insert(bytes.end(), data, data + keep);
      audio_kept_ += keep;
    }
  }
  cv_.notify_all();
}

void Observations::AddAudio(const char* data, size_t size) {
  size_t post;
  {
    MutexLock lock(mu_);
    post = audio_posts_ > 0 ? audio_posts_ - 1 : 0;
  }
  AddAudio(post, data, size);
}

void Observations::CountMedia(const MediaCounters& d) {
  {
    MutexLock lock(mu_);
    counters_.rtp_packets_sent += d.rtp_packets_sent;
    counters_.rtp_packets_dropped += d.rtp_packets_dropped;
    counters_.rtcp_sender_reports += d.rtcp_sender_reports;
    counters_.jpeg_frames_sent += d.jpeg_frames_sent;
    counters_.video_access_units_sent += d.video_access_units_sent;
    counters_.audio_packets_sent += d.audio_packets_sent;
  }
  cv_.notify_all();
}

std::vector<OidWrite> Observations::oid_writes() const {
  MutexLock lock(mu_);
  return {oid_writes_.begin(), oid_writes_.end()};
}
std::vector<HttpRequestRecord> Observations::http_requests() const {
  MutexLock lock(mu_);
  return {http_.begin(), http_.end()};
}
std::vector<RtspRequestRecord> Observations::rtsp_requests() const {
  MutexLock lock(mu_);
  return {rtsp_.begin(), rtsp_.end()};
}
std::vector<RtcpRecord> Observations::rtcp_received() const {
  MutexLock lock(mu_);
  return {rtcp_.begin(), rtcp_.end()};
}
std::vector<uint8_t> Observations::audio_received() const {
  MutexLock lock(mu_);
  std::vector<uint8_t> all;
  all.reserve(audio_kept_);
  for (const auto& [post, bytes] : audio_) all.insert(all.end(), bytes.begin(), bytes.end());
  return all;
}
uint64_t Observations::audio_bytes_total() const {
  MutexLock lock(mu_);
  return audio_total_;
}
MediaCounters Observations::counters() const {
  MutexLock lock(mu_);
  return counters_;
}
uint64_t Observations::dropped_records() const {
  MutexLock lock(mu_);
  return dropped_;
}

void Observations::Clear() {
  MutexLock lock(mu_);
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
  std::unique_lock<Mutex> lock(mu_);
  while (true) {
    lock.unlock();
    const bool done = pred();  // may call the accessors, which take mu_
    lock.lock();
    if (done) return true;
    // Bounded slices: a predicate may also depend on state outside this object.
    const auto slice = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    if (cv_.wait_until(lock, std::min(slice, deadline)) == std::cv_status::timeout &&
        std::chrono::steady_clock::now() >= deadline) {
      lock.unlock();
      return pred();
    }
  }
}

HeaderList RedactHeaders(const HeaderList& headers) {
  HeaderList out;
  out.reserve(headers.size());
  for (const auto& [name, value] : headers) {
    if (strcasecmp(name.c_str(), "Authorization") == 0 ||
        strcasecmp(name.c_str(), "Proxy-Authorization") == 0) {
      out.emplace_back(name, value.substr(0, value.find(' ')));
    } else {
      out.emplace_back(name, value);
    }
  }
  return out;
}

}  // namespace camsim
