// IHttpStreamLink: what an HTTP video channel needs of its connection to the
// device — OID writes, one streaming GET read chunk by chunk, a deadline for
// the exchanges of a connection attempt, and an abort that another thread
// may call to end a blocked call at once.
//
// The production link runs over the channel's own HTTP client and the OID
// request functions; unit tests script it.
//
// Threading: one thread uses a link at a time, except Abort, which any thread
// may call at any time. After Abort every call fails at once until Rearm.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/device_info.h"
#include "device/http_sender.h"

namespace korvela {

class IHttpStreamLink {
 public:
  virtual ~IHttpStreamLink() = default;
  // False when the link lacks what an abortable wait needs (an event
  // descriptor could not be made): no channel runs on it.
  virtual bool Usable() const = 0;
  // A request whose reply must be a successful, non-empty body.
  virtual bool RequestOk(const std::string& path) = 0;
  // A request judged by its status code alone.
  virtual Web::CResultDef RequestStatus(const std::string& path) = 0;
  // Sends the streaming GET and leaves it open for Read.
  virtual bool OpenStream(const std::string& path) = 0;
  // One read of the open stream into `out`: what has arrived, up to its
  // size, after one wait for it. The number of bytes; 0 at its end, on
  // failure or when nothing is open.
  virtual size_t Read(std::span<uint8_t> out) = 0;
  virtual void CloseStream() = 0;
  // Every request from now on ends within `ms` of this call (besides each
  // exchange's own deadline); ClearDeadline lifts it.
  virtual void SetDeadlineIn(uint32_t ms) = 0;
  virtual void ClearDeadline() = 0;
  virtual void Abort() = 0;
  virtual void Rearm() = 0;
};

// Makes a link to the device described.
using HttpStreamLinkFactory =
    std::function<std::unique_ptr<IHttpStreamLink>(const DEVICE_INFO& device)>;

}  // namespace korvela
