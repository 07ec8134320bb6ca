// CQuarnoDigitalIO: digital I/O of an IQeye camera. Its only input (0) is read
// with "/get.oid?1.3.15"; its only output (0) is written with
// "/set.oid?OidTR1.3.5.1=OPEN|CLOSED".
//
// Threading: input_sender_ is used only on the input thread (PollInputs),
// output_sender_ only on the output thread (WriteOutput), so a poll never
// waits for a write. AbortRequests (from Stop, on the recorder's thread) stops
// both senders: a request in progress is aborted and one a worker starts
// afterwards fails at once; AllowRequests (from Start) lifts that. The destructor stops both
// threads before the senders go.
#pragma once

#include <cstdint>

#include "device/http_sender.h"
#include "device/io_base.h"

namespace korvela {

class CQuarnoDigitalIO : public CIOBase {
 public:
  // Both senders are built from the driver's device description.
  explicit CQuarnoDigitalIO(IDriver* driver);
  ~CQuarnoDigitalIO() override;

  // 8: output 0 only. True when the camera accepted the write (2xx/3xx);
  // any other output is not written and gives false.
  bool WriteOutput(uint32_t output, uint32_t state) override;
  // 9: reads input 0. True when the reply holds "OPEN" or "CLOSED"; any
  // other outcome sets input 0 to undetermined and gives false.
  bool PollInputs(uint32_t count) override;
  // 2: false, with a log line, when a sender lacks its abort event (a
  // worker blocked in it could not be stopped).
  bool Start() override;

 protected:
  void AbortRequests() override;
  void AllowRequests() override;

 private:
  Web::CHttpSender input_sender_;
  Web::CHttpSender output_sender_;
};

}  // namespace korvela
