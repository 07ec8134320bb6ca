// Fuzz target: RTCP datagrams and RTP sequence numbers into the RTCP handler
// (not started: no threads, no sockets; its expected address is then 0, which
// the fuzzed sender carries), then the receiver report built from them.
//
// Input: records of one kind byte and a two-byte length. Kind bit 0 clear: a
// datagram of that length follows; set: the length is an RTP sequence number.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "rtsp/rtcp_handler.h"

using namespace korvela;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::ManualClock clock(0, 5000);
  CRTCPHandler handler(nullptr, clock);
  std::span<const uint8_t> rest(data, size);
  while (rest.size() >= 3) {
    const uint8_t kind = rest[0];
    const uint16_t value = static_cast<uint16_t>(rest[1] << 8 | rest[2]);
    rest = rest.subspan(3);
    clock.AdvanceMs(kind >> 1);
    if (kind & 1) {
      handler.UpdateSequence(value);
      continue;
    }
    const size_t length = std::min<size_t>(value, rest.size());
    handler.OnData(handler.GetClient(), platform::Endpoint{0, 5005}, rest.data(),
                   static_cast<uint32_t>(length));
    rest = rest.subspan(length);
  }
  const auto rr = handler.BuildReceiverReport();
  Check(rr[0] == 0x81 && rr[1] == 201 && rr[2] == 0 && rr[3] == 7);
  return 0;
}
