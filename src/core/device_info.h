// Device description: where the device is and how long to wait for it.
//
// Threading: a value type. The driver fills its own copy at Open; every object
// that talks to the device copies it at construction and reads only its copy.
#pragma once

#include <cstdint>
#include <string>

namespace korvela {

class DEVICE_INFO {
 public:
  // Defaults before Open; the driver sets 5000/20000 ms after a successful
  // Open, so channels created later see those.
  static constexpr uint32_t kDefaultConnectTimeoutMs = 5000;
  static constexpr uint32_t kDefaultReceiveTimeoutMs = 5000;
  static constexpr uint16_t kDefaultPort = 80;

  DEVICE_INFO() = default;
  DEVICE_INFO(const DEVICE_INFO&) = default;
  DEVICE_INFO& operator=(const DEVICE_INFO&) = default;
  DEVICE_INFO(DEVICE_INFO&&) = default;
  DEVICE_INFO& operator=(DEVICE_INFO&&) = default;
  virtual ~DEVICE_INFO() = default;

  // HTTP time-outs; twice this bounds the wait for a channel's worker.
  uint32_t connect_timeout_ms = kDefaultConnectTimeoutMs;
  // Longest silence before a video channel declares the signal lost.
  uint32_t receive_timeout_ms = kDefaultReceiveTimeoutMs;
  std::string address;           // host name or IPv4 address
  uint16_t port = kDefaultPort;  // HTTP port
  std::string user_name;
  std::string password;  // never logged
  std::string model;     // model name as the recorder gave it
};

}  // namespace korvela
