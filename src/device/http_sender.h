// The device HTTP client: one small synchronous client per device user, over
// one persistent connection, with at most one open request. Also the request
// description HttpRequest and the result record CResultDef that the request
// functions report with.
//
// Threading: one owner thread calls everything, except that CloseRequest(),
// StopRequests() and AllowRequests() may come from any thread to abort a request the owner is
// blocked in (the blocked call then fails at once). `mu_` guards every field below it; blocking
// network steps run outside it with `in_call_` set, and while `in_call_` is set only the owner
// touches the connection (others only abort it), which is why `connection_` alone is not
// GUARDED_BY.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/device_info.h"
#include "platform/http_connection.h"
#include "platform/net_error.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace korvela::Web {

// Authentication types of a request; the scheme used is 1 << type.
inline constexpr uint32_t kAuthTypeBasic = 0;
inline constexpr uint32_t kAuthTypeNtlm = 1;
inline constexpr uint32_t kAuthTypePassport = 2;
inline constexpr uint32_t kAuthTypeDigest = 3;
inline constexpr uint32_t kAuthTypeNegotiate = 4;
inline constexpr uint32_t kAuthTypeNone = 5;  // no credentials on the request

// Request flag bits.
inline constexpr uint32_t kFlagEscapeDisableQuery = 1;  // query goes out as written
inline constexpr uint32_t kFlagIgnoreCertErrors = 2;    // secure requests only
inline constexpr uint32_t kFlagNoRedirects = 4;
inline constexpr uint32_t kFlagNoWaitForResponse = 8;  // return once sent
inline constexpr uint32_t kDefaultRequestFlags = kFlagEscapeDisableQuery | kFlagNoRedirects;

// One request as the caller describes it.
struct HttpRequest {
  HttpRequest(std::string verb_in, std::string object_in)
      : verb(std::move(verb_in)), object(std::move(object_in)) {}

  std::string verb;     // "GET", "POST", ...
  std::string object;   // path and query, e.g. "/get.oid?1.3.15"
  uint32_t secure = 0;  // 1 = HTTPS (not available: such requests fail)
  uint32_t auth_type = kAuthTypeBasic;
  std::vector<uint8_t> body;         // bytes sent with the request
  uint32_t total_length = 0;         // announced body length; above body.size(): WriteData follows
  std::vector<std::string> headers;  // complete header lines, e.g. "Content-Type: audio/ulaw"
  uint32_t flags = kDefaultRequestFlags;
};

// Outcome of SendRequest: success, or why the request failed.
struct [[nodiscard]] SendResult {
  explicit operator bool() const { return cause == platform::NetError::kNone; }
  platform::NetError cause = platform::NetError::kNone;
};

// Outcome of a device request: code 0 is success; `message` is the finished
// log text of a failure, logged by the caller at `level` (4: not logged);
// `cause` says why an exchange failed when it did not complete.
class CResultDef {
 public:
  CResultDef() = default;
  CResultDef(uint32_t level_in, uint32_t code_in, std::string message_in,
             platform::NetError cause_in = platform::NetError::kNone)
      : level(level_in), code(code_in), message(std::move(message_in)), cause(cause_in) {}
  CResultDef(const CResultDef&) = default;
  CResultDef& operator=(const CResultDef&) = default;
  virtual ~CResultDef() = default;

  void Set(uint32_t level_in, uint32_t code_in, std::string message_in) {
    level = level_in;
    code = code_in;
    message = std::move(message_in);
  }
  bool Succeeded() const { return code == 0; }

  uint32_t level = 3;
  uint32_t code = 0;
  std::string message;
  platform::NetError cause = platform::NetError::kNone;
};

class CHttpSender {
 public:
  static constexpr uint32_t kDefaultReadChunkSize = 8192;
  // ReadAll stops once this much has been collected: an endless or hostile
  // body must not grow memory without bound.
  static constexpr uint32_t kMaxReadAllBytes = 268435456;  // 256 MiB
  static constexpr const char* kAgent = "Korvela::HttpClient";

  explicit CHttpSender(const DEVICE_INFO& device);
  virtual ~CHttpSender();
  CHttpSender(const CHttpSender&) = delete;
  CHttpSender& operator=(const CHttpSender&) = delete;

  // Sends one request and, unless the body continues with WriteData or
  // kFlagNoWaitForResponse is set, waits for the response head. On success
  // the request stays open for reading. Credentials go out only once the device
  // has asked (the connection answers its challenge, Digest over Basic); a
  // 401 that comes back is a response like any other, except for an upload
  // that continues with WriteData: a final answer before its body fails it
  // (the status code is kept).
  SendResult SendRequest(const HttpRequest& request);
  // Reads the whole body into `body` within the exchange deadline, stopping once
  // `max_bytes` (at most kMaxReadAllBytes) have been collected; returns its
  // size. Replies that are small by nature pass their own limit plus one, so
  // that a body beyond it shows as such.
  uint32_t ReadAll(std::vector<uint8_t>& body, uint32_t max_bytes = kMaxReadAllBytes);
  // One read of at most the read chunk size; returns the bytes read (0 on
  // failure, at the end, or with no request open).
  uint32_t ReadChunk(std::vector<uint8_t>& chunk);
  // One read of what has arrived into `out` (up to its size, at most 4 GiB),
  // straight from the socket when nothing is buffered; returns the bytes read
  // (0 on failure, at the end, or with no request open).
  uint32_t Read(std::span<uint8_t> out);
  // Continues the body of an open upload; false for empty data (no I/O),
  // with no request open, beyond the announced length, or on failure. When
  // the device has answered the upload early, its status becomes the status
  // code (an upload starts with 0).
  bool WriteData(const std::vector<uint8_t>& data);
  // Replaces the credentials of the device copy and closes the open request.
  void SetCredentials(const std::string& user, const std::string& password);
  // Closes the open request. From another thread: aborts a blocked call.
  void CloseRequest();
  // From another thread, when the owner is being stopped: aborts a blocked
  // call like CloseRequest and makes every later SendRequest fail at once
  // until AllowRequests. Unlike a close, it cannot be overtaken by a request
  // that starts just after it.
  void StopRequests();
  void AllowRequests();

  // Owner: every exchange from now on also ends within `ms` of this call
  // (the caller's own limit, e.g. the time left before signal loss), until
  // ClearDeadline.
  void SetDeadlineIn(uint32_t ms);
  void ClearDeadline();

  // False when the sender could not get the event that aborts its waits.
  bool Usable() const;

  // Why the last SendRequest, read or write failed; kNone after a success
  // and after a body that ended cleanly.
  platform::NetError last_error() const;

  uint32_t GetStatusCode() const;
  uint32_t GetContentLength() const;
  uint32_t GetAuthScheme() const;  // scheme learned from a 401 (Basic/Digest), else 0
  bool IsRequestOpen() const;
  void SetReadChunkSize(uint32_t bytes);  // at least 1
  uint32_t GetReadChunkSize() const;

  // Copies of the device description fields.
  std::string GetAddress() const;
  uint16_t GetPort() const;
  std::string GetUserName() const;
  std::string GetPassword() const;

  // Connections made so far (tests of connection reuse).
  uint32_t GetConnectCount() const;

 private:
  // Ends the open request gracefully (keeping the connection when it can).
  void CloseRequestLocked() REQUIRES(mu_);
  // Marks the end of a blocking step (the caller has taken `mu_` back);
  // false when the request was aborted meanwhile.
  bool LeaveCallLocked() REQUIRES(mu_);
  // Records and returns the cause of a failure (kNone: clears it).
  platform::NetError Fail(platform::NetError cause) REQUIRES(mu_);
  // Why the transport's last call failed.
  platform::NetError TransportError() const REQUIRES(mu_);

  mutable Mutex mu_;
  DEVICE_INFO device_ GUARDED_BY(mu_);
  uint32_t auth_scheme_ GUARDED_BY(mu_) = 0;
  uint32_t status_code_ GUARDED_BY(mu_) = 0;
  uint32_t content_length_ GUARDED_BY(mu_) = 0;
  bool request_open_ GUARDED_BY(mu_) = false;
  bool in_call_ GUARDED_BY(mu_) = false;
  bool stopped_ GUARDED_BY(mu_) = false;  // StopRequests until AllowRequests
  platform::NetError last_error_ GUARDED_BY(mu_) = platform::NetError::kNone;
  platform::SteadyTime deadline_ GUARDED_BY(mu_) = platform::SteadyTime::max();
  uint32_t read_chunk_size_ GUARDED_BY(mu_) = kDefaultReadChunkSize;
  // Used under `mu_`, or by the owner alone while `in_call_` is set; Abort()
  // may come from any thread.
  platform::HttpConnection connection_;
};

}  // namespace korvela::Web
