// Fuzz target: RTP datagrams through the packet parser and the bounded queue.
// The input is a sequence of datagrams, each preceded by a two-byte length.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "rtsp/rtp_packet_queue.h"

using namespace korvela;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RtpPacketQueue queue;
  std::span<const uint8_t> rest(data, size);
  while (rest.size() >= 2) {
    const size_t length = std::min<size_t>(rest[0] << 8 | rest[1], rest.size() - 2);
    const auto datagram = rest.subspan(2, length);
    rest = rest.subspan(2 + length);
    RtpQueueBatch entries;
    queue.Acquire(&entries, 1);
    Check(entries.size() == 1);
    if (!entries[0]->packet.Parse(datagram)) {
      Check(entries[0]->packet.GetPayloadLength() == 0);
      continue;
    }
    const CRTPPacket& p = entries[0]->packet;
    Check(p.GetPayloadLength() > 0 && p.GetPayloadLength() <= datagram.size() - 12);
    Check(12 + p.GetCsrcCount() * 4u + p.GetExtensionData().size() + p.GetPayloadLength() <=
          datagram.size());
    for (size_t i = 0; i < p.GetCsrcCount(); ++i) (void)p.GetCsrc(i);
    const uint8_t last = p.Payload().back();
    Check(last == datagram.back());  // padding is not removed
    queue.PushAll(&entries);
  }
  RtpQueueBatch batch;
  queue.TakeAll(&batch);
  queue.Recycle(&batch);
  return 0;
}
