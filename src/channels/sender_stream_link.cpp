#include "channels/sender_stream_link.h"

#include <new>

#include "device/oid_request.h"

namespace korvela {

CSenderStreamLink::CSenderStreamLink(const DEVICE_INFO& device) : sender_(device) {}

bool CSenderStreamLink::Usable() const { return sender_.Usable(); }

bool CSenderStreamLink::RequestOk(const std::string& path) {
  return HUtils::RequestOk(path, sender_);
}

Web::CResultDef CSenderStreamLink::RequestStatus(const std::string& path) {
  return HUtils::RequestStatus(path, sender_);
}

bool CSenderStreamLink::OpenStream(const std::string& path) {
  return static_cast<bool>(HUtils::SendGet(path, sender_));
}

size_t CSenderStreamLink::Read(std::span<uint8_t> out) { return sender_.Read(out); }

void CSenderStreamLink::CloseStream() { sender_.CloseRequest(); }

void CSenderStreamLink::SetDeadlineIn(uint32_t ms) { sender_.SetDeadlineIn(ms); }

void CSenderStreamLink::ClearDeadline() { sender_.ClearDeadline(); }

void CSenderStreamLink::Abort() { sender_.StopRequests(); }

void CSenderStreamLink::Rearm() { sender_.AllowRequests(); }

std::unique_ptr<IHttpStreamLink> MakeSenderStreamLink(const DEVICE_INFO& device) {
  return std::unique_ptr<IHttpStreamLink>(new (std::nothrow) CSenderStreamLink(device));
}

}  // namespace korvela
