// CSenderStreamLink: the production IHttpStreamLink, over a channel-owned
// Web::CHttpSender and the OID request functions.
//
// The abort is sticky: once Abort has been called every operation fails at
// once until Rearm, so a worker that is between two requests when the stop
// comes does not start a new one. (A request that had already passed that
// check is cut by the sender's own abort, or ends within its time-outs.)
//
// Threading: one thread uses the link (the channel's worker or the recorder's
// thread for the control link); Abort may come from any thread. aborted_ is
// atomic; the sender allows CloseRequest from another thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "channels/http_stream_link.h"
#include "device/http_sender.h"

namespace korvela {

class CSenderStreamLink : public IHttpStreamLink {
 public:
  explicit CSenderStreamLink(const DEVICE_INFO& device);

  bool RequestOk(const std::string& path) override;
  Result RequestStatus(const std::string& path) override;
  bool OpenStream(const std::string& path) override;
  size_t ReadChunk(std::vector<uint8_t>& chunk) override;
  void CloseStream() override;
  void Abort() override;
  void Rearm() override;

 private:
  Web::CHttpSender sender_;
  std::atomic<bool> aborted_{false};
};

// Factory of CSenderStreamLink for the channels' constructors.
std::unique_ptr<IHttpStreamLink> MakeSenderStreamLink(const DEVICE_INFO& device);

}  // namespace korvela
