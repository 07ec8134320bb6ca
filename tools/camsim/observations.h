// What one simulated camera received and sent, kept for assertions and logs.
//
// Threading: written by the connection threads and the media pump, read by
// any thread. mu_ guards every record list and the counters; cv_ is notified
// after each change (the pump counts media once per round) so WaitUntil
// re-checks its predicate.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "camsim.h"
#include "util/cond_var.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace camsim {

class Observations {
 public:
  // Records kept per list; older ones are dropped and counted.
  static constexpr size_t kMaxRecords = 4096;
  // Talk-back bytes kept (the total is counted beyond it): 262 s of G.711,
  // enough for more than two full POSTs of the driver (999,999 bytes each).
  static constexpr size_t kMaxAudioBytes = 2 * 1024 * 1024;

  void AddOidWrite(OidWrite write);
  void AddHttpRequest(HttpRequestRecord record);
  void AddRtspRequest(RtspRequestRecord record);
  void AddRtcp(RtcpRecord record);
  // A talk-back POST begins; its number keeps its bytes in order before
  // those of later POSTs, whichever connection thread records first.
  size_t BeginAudioPost();
  void AddAudio(size_t post, const char* data, size_t size);
  void AddAudio(const char* data, size_t size);  // to the latest POST
  void CountMedia(const MediaCounters& delta);

  std::vector<OidWrite> oid_writes() const;
  std::vector<HttpRequestRecord> http_requests() const;
  std::vector<RtspRequestRecord> rtsp_requests() const;
  std::vector<RtcpRecord> rtcp_received() const;
  std::vector<uint8_t> audio_received() const;
  uint64_t audio_bytes_total() const;
  MediaCounters counters() const;
  uint64_t dropped_records() const;
  void Clear();

  bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const
      EXCLUDES(mu_);

 private:
  template <typename T>
  void Push(std::deque<T>& list, T record) REQUIRES(mu_);

  mutable korvela::Mutex mu_;
  mutable korvela::CondVar cv_;
  std::deque<OidWrite> oid_writes_ GUARDED_BY(mu_);
  std::deque<HttpRequestRecord> http_ GUARDED_BY(mu_);
  std::deque<RtspRequestRecord> rtsp_ GUARDED_BY(mu_);
  std::deque<RtcpRecord> rtcp_ GUARDED_BY(mu_);
  std::map<size_t, std::vector<uint8_t>> audio_ GUARDED_BY(mu_);  // by POST number
  size_t audio_kept_ GUARDED_BY(mu_) = 0;
  size_t audio_posts_ GUARDED_BY(mu_) = 0;
  uint64_t audio_total_ GUARDED_BY(mu_) = 0;
  MediaCounters counters_ GUARDED_BY(mu_);
  uint64_t dropped_ GUARDED_BY(mu_) = 0;
};

// Header list for a record: Authorization values reduced to their scheme.
HeaderList RedactHeaders(const HeaderList& headers);

}  // namespace camsim
