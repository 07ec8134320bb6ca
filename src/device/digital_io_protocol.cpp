#include "device/digital_io_protocol.h"

#include "device/io_base_states.h"

namespace korvela {

uint32_t ParseInputReply(std::string_view body) {
  if (body.find("OPEN") != std::string_view::npos) return kInputOpen;
  if (body.find("CLOSED") != std::string_view::npos) return kInputClosed;
  return kInputUndetermined;
}

std::string BuildOutputWritePath(uint32_t state) {
  return std::string("/set.oid?OidTR1.3.5.1=") + (state == kOutputOpen ? "OPEN" : "CLOSED");
}

}  // namespace korvela
