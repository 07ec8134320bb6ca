// OID read replies come from the device: any bytes must unwrap without a
// crash, and what is accepted must keep the reply's invariants.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "device/oid_reply.h"
#include "device/text_utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // First byte: single (even) or multi-OID (odd) read; the rest is the body.
  const bool several = (data[0] & 1) != 0;
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  const korvela::HUtils::OidReply reply = korvela::HUtils::ParseOidReply(body, several);

  if (!several) {
    // A value and an error report exclude each other; both come from the body.
    if (!reply.value.empty() && !reply.error.empty()) std::abort();
    if (reply.value.size() > body.size() || reply.error.size() > body.size()) std::abort();
    if (korvela::HUtils::IsErrorText(reply.value)) std::abort();
    return 0;
  }
  if (!reply.error.empty()) std::abort();
  if (!reply.value.empty() && reply.value.back() != '\n') std::abort();
  // The camera properties look their audio values up in a multi-OID reply;
  // the lookup must stay linear however many lines hold the key.
  for (const char* oid : {"1.17.1.2", "1.9.5", "1.9.6", "1.9.7"}) {
    const std::string value = korvela::GetValue(reply.value, oid, "=", "\r\n");
    if (value.find_first_of("\r\n") != std::string::npos) std::abort();
  }
  // Every kept line is free of error reports and was in the body.
  size_t start = 0;
  while (start < reply.value.size()) {
    const size_t end = reply.value.find('\n', start);
    const std::string_view line(reply.value.data() + start, end - start);
    if (korvela::HUtils::IsErrorText(line)) std::abort();
    if (body.find(line) == std::string_view::npos) std::abort();
    start = end + 1;
  }
  return 0;
}
