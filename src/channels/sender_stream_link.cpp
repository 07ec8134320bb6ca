#include "channels/sender_stream_link.h"

#include <new>

#include "device/oid_request.h"

namespace korvela {

CSenderStreamLink::CSenderStreamLink(const DEVICE_INFO& device) : sender_(device) {}

bool CSenderStreamLink::RequestOk(const std::string& path) {
  if (aborted_) return false;
  return HUtils::RequestOk(path, sender_);
}

IHttpStreamLink::Result CSenderStreamLink::RequestStatus(const std::string& path) {
  if (aborted_) return {HUtils::kCodeNotSent, kLogNever, {}};
  const Web::CResultDef r = HUtils::RequestStatus(path, sender_);
  return {r.code, r.level, r.message};
}

bool CSenderStreamLink::OpenStream(const std::string& path) {
  if (aborted_) return false;
  return HUtils::SendGet(path, sender_);
}

size_t CSenderStreamLink::ReadChunk(std::vector<uint8_t>& chunk) {
  if (aborted_) {
    chunk.clear();
    return 0;
  }
  return sender_.ReadChunk(chunk);
}

void CSenderStreamLink::CloseStream() { sender_.CloseRequest(); }

void CSenderStreamLink::Abort() {
  aborted_ = true;
  sender_.CloseRequest();
}

void CSenderStreamLink::Rearm() { aborted_ = false; }

std::unique_ptr<IHttpStreamLink> MakeSenderStreamLink(const DEVICE_INFO& device) {
  return std::unique_ptr<IHttpStreamLink>(new (std::nothrow) CSenderStreamLink(device));
}

}  // namespace korvela
