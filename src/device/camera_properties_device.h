// The device requests the camera properties make, as one narrow interface:
// CHttpOidDevice sends them over the properties' own HTTP sender; tests
// replace it with a scripted device.
//
// Threading: every operation but Abort runs on the query's thread; Abort may
// be called from any thread while a request is blocked and makes it return.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace korvela {

class ICameraOidDevice {
 public:
  virtual ~ICameraOidDevice() = default;
  // GET of `path`, request closed right after; the status code of the last
  // response received (0 when none ever arrived).
  virtual uint32_t GetStatus(const std::string& path) = 0;
  // Value of one OID or of several joined by "&"; empty when the device
  // lacks it or did not answer.
  virtual std::string GetOid(const std::string& oids) = 0;
  // GET of `path` with its body; false unless a 2xx/3xx reply with a body came.
  virtual bool GetBody(const std::string& path, std::string& body) = 0;
  // GET whose answer does not matter.
  virtual void SendWithoutAnswer(const std::string& path) = 0;
  // Makes a request blocked on another thread return at once, and every
  // later one fail without reaching the device.
  virtual void Abort() = 0;
};

}  // namespace korvela
