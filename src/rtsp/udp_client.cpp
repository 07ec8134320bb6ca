#include "rtsp/udp_client.h"

#include <algorithm>
#include <memory>
#include <new>
#include <span>

#include <poll.h>

#include "util/str_format.h"

namespace korvela {

using platform::IoResult;
using platform::SocketError;

CUDPClient::CUDPClient(IDebugMessage* log) : CBaseThread(log) {}

CUDPClient::~CUDPClient() { Close(); }

void CUDPClient::SetTimeout(uint32_t seconds, uint32_t fraction) {
  waitSeconds_.store(seconds);
  waitFraction_.store(fraction % 1000);
}

uint32_t CUDPClient::WaitMs() const {
  const uint64_t ms = uint64_t{waitSeconds_.load()} * 1000 + waitFraction_.load() / 1000;
  // A zero wait would turn the thread into a loop of time-outs.
  return static_cast<uint32_t>(std::clamp<uint64_t>(ms, kMinWaitMs, platform::kInfinite - 1));
}

bool CUDPClient::Open(IRTPClientUser* user, uint16_t port) {
  {
    CSyncLockGuard guard(lock_);
    if (socket_.valid()) {
      openError_.store(SocketError::kInvalid);
      return false;
    }
    user_ = user;
    // Without a stop descriptor the thread's waits could not be aborted.
    SocketError error = StopEvent().Raw().valid() ? socket_.Bind(port) : SocketError::kTooManyFiles;
    if (error == SocketError::kNone) {
      port_.store(socket_.LocalPort());
      if (StartThread(StrFormat("UDP client thread, port %u", port_.load()).c_str())) {
        openError_.store(SocketError::kNone);
        return true;
      }
      error = SocketError::kOther;
    }
    openError_.store(error);
  }
  Close();
  return false;
}

void CUDPClient::Close() {
  // The stop event ends the thread's wait at once; the shutdown covers a
  // thread that is between waits.
  StopEvent().Set();
  bool was_open = false;
  IRTPClientUser* user = nullptr;
  {
    CSyncLockGuard guard(lock_);
    was_open = socket_.valid();
    socket_.Shutdown();
    StopThread(std::max<uint32_t>((waitSeconds_.load() + 1) * 1000, 5000));
    socket_.Close();
    port_.store(0);
    user = user_;
  }
  if (was_open && user != nullptr) user->OnClientClosed(this);
}

bool CUDPClient::SendTo(const platform::Endpoint& destination, const uint8_t* data,
                        uint32_t length) {
  if (!socket_.valid() || data == nullptr) return false;
  const IoResult r = socket_.SendTo(destination, {data, length});
  return r.ok() && r.bytes == length;
}

SocketError CUDPClient::WaitIdle(uint32_t wait_ms, platform::Event* stop) {
  uint32_t left_ms = wait_ms;
  while (user_ != nullptr) {
    const uint32_t recall_ms = user_->OnIdle(this);
    if (recall_ms == 0 || recall_ms >= left_ms) break;
    const SocketError error = socket_.Wait(POLLIN, recall_ms, stop);
    if (error != SocketError::kTimedOut) return error;
    left_ms -= recall_ms;
  }
  return socket_.Wait(POLLIN, left_ms, stop);
}

void CUDPClient::Run() {
  // Room for any datagram, so none needs its size asked first and none is cut.
  const std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kMaxDatagramBytes]);
  if (!buffer) {
    if (user_ != nullptr) user_->OnClientClosed(this);
    return;
  }
  const std::span<uint8_t> room(buffer.get(), kMaxDatagramBytes);
  platform::Event* stop = &StopEvent().Raw();
  const uint32_t wait_ms = WaitMs();
  while (!IsStopSignalled()) {
    platform::Endpoint from;
    const IoResult r = socket_.TryReceiveFrom(room, &from, stop);
    if (r.ok()) {
      if (r.bytes > 0 && user_ != nullptr) {
        user_->OnData(this, from, buffer.get(), static_cast<uint32_t>(r.bytes));
      }
      continue;
    }
    SocketError error = r.error;
    if (error == SocketError::kWouldBlock) {
      error = WaitIdle(wait_ms, stop);
      if (error == SocketError::kNone) continue;
    }
    if (error == SocketError::kTimedOut) {
      if (user_ != nullptr) user_->OnTimeout(this);
      continue;
    }
    if (error == SocketError::kInterrupted || error == SocketError::kShutdown) break;
    if (error == SocketError::kFault || error == SocketError::kNetworkDown ||
        error == SocketError::kNotInitialised) {
      if (user_ != nullptr) user_->OnClientClosed(this);
      break;
    }
    // Anything else (e.g. an ICMP error reported once for an earlier send,
    // an oversize datagram, which cannot happen here) is passed over.
  }
}

}  // namespace korvela
