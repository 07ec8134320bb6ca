// Why an exchange with a device failed, carried from the connection up to the
// caller's log line and the command-line exit message.
//
// Threading: value type.
#pragma once

#include <cstdint>

namespace korvela::platform {

enum class NetError : uint8_t {
  kNone = 0,
  kResolve,      // host name could not be resolved
  kRefused,      // connection refused or unreachable
  kTimeout,      // a wait or the exchange's total deadline ran out
  kAborted,      // stopped from another thread
  kClosed,       // the peer closed the connection early
  kMalformed,    // the reply broke the protocol
  kOverLimit,    // the reply exceeded a size or count limit
  kAuthRefused,  // credentials refused, or no scheme we can answer
  kTlsRequired,  // the device asked for an encrypted connection
  kIo,           // any other socket error
};

// Short lower-case phrase for log lines ("timed out", "reply over limit").
constexpr const char* NetErrorText(NetError error) {
  switch (error) {
    case NetError::kNone:
      return "no error";
    case NetError::kResolve:
      return "name resolution failed";
    case NetError::kRefused:
      return "connection refused";
    case NetError::kTimeout:
      return "timed out";
    case NetError::kAborted:
      return "aborted";
    case NetError::kClosed:
      return "connection closed by the device";
    case NetError::kMalformed:
      return "malformed reply";
    case NetError::kOverLimit:
      return "reply over limit";
    case NetError::kAuthRefused:
      return "authentication refused";
    case NetError::kTlsRequired:
      return "TLS required";
    case NetError::kIo:
      return "network error";
  }
  return "network error";
}

}  // namespace korvela::platform
