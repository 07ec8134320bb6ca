#include "device/oid_reply.h"

#include "device/text_utils.h"

namespace korvela::HUtils {
namespace {

// The value block is the first "<xmp" directly followed by ">": a tag with
// attributes ("<xmp class=...>") is some other block of the page.
constexpr std::string_view kOpenTag = "<xmp";
constexpr std::string_view kOpenTagEnd = ">";
constexpr std::string_view kCloseTag = "</xmp>";

}  // namespace

bool IsMultiOidList(std::string_view oids) { return oids.find('&') != std::string_view::npos; }

bool IsErrorText(std::string_view text) { return ToLower(text).find("err") != std::string::npos; }

OidReply ParseOidReply(std::string_view body, bool several_oids) {
  OidReply reply;
  std::string value = ExtractBetween(body, kOpenTag, kOpenTagEnd, kCloseTag);
  if (!several_oids) {
    if (IsErrorText(value)) {
      reply.error = std::move(value);
    } else {
      reply.value = std::move(value);
    }
    return reply;
  }
  reply.value.reserve(value.size() + 1);
  for (const std::string& line : Split(value, '\n')) {
    if (IsErrorText(line)) continue;
    reply.value += line;
    reply.value += '\n';
  }
  return reply;
}

OidReply ParseOidReply(std::span<const uint8_t> body, bool several_oids) {
  return ParseOidReply(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()),
                       several_oids);
}

}  // namespace korvela::HUtils
