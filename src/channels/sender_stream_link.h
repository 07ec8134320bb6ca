// CSenderStreamLink: the production IHttpStreamLink, over a channel-owned
// Web::CHttpSender and the OID request functions.
//
// The abort holds until Rearm (the sender's StopRequests/AllowRequests):
// a request that a worker starts just after the abort fails at once instead
// of running to its time-out, whatever point the worker had reached.
//
// Threading: one thread uses the link (the channel's worker, or the
// recorder's thread for the control link); Abort may come from any thread.
// The sender serialises itself.
#pragma once

#include <string>
#include <vector>

#include "channels/http_stream_link.h"
#include "device/http_sender.h"

namespace korvela {

class CSenderStreamLink : public IHttpStreamLink {
 public:
  explicit CSenderStreamLink(const DEVICE_INFO& device);

  bool Usable() const override;
  bool RequestOk(const std::string& path) override;
  Web::CResultDef RequestStatus(const std::string& path) override;
  bool OpenStream(const std::string& path) override;
  size_t Read(std::span<uint8_t> out) override;
  void CloseStream() override;
  void SetDeadlineIn(uint32_t ms) override;
  void ClearDeadline() override;
  void Abort() override;
  void Rearm() override;

 private:
  Web::CHttpSender sender_;
};

// Factory of CSenderStreamLink for the channels' constructors.
std::unique_ptr<IHttpStreamLink> MakeSenderStreamLink(const DEVICE_INFO& device);

}  // namespace korvela
