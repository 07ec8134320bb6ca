#include "device/oid_reply.h"

#include <algorithm>

#include "device/text_utils.h"
#include "util/ascii.h"

namespace korvela::HUtils {
namespace {

// The value block is the first "<xmp" directly followed by ">": a tag with
// attributes ("<xmp class=...>") is some other block of the page.
constexpr std::string_view kOpenTag = "<xmp";
constexpr std::string_view kOpenTagEnd = ">";
constexpr std::string_view kCloseTag = "</xmp>";

}  // namespace

bool IsMultiOidList(std::string_view oids) { return oids.find('&') != std::string_view::npos; }

bool IsErrorText(std::string_view text) { return ContainsIgnoreAsciiCase(text, "err"); }

OidReply ParseOidReply(std::string_view body, bool several_oids) {
  OidReply reply;
  const std::string_view value = ExtractBetweenView(body, kOpenTag, kOpenTagEnd, kCloseTag);
  if (!several_oids) {
    (IsErrorText(value) ? reply.error : reply.value) = std::string(value);
    return reply;
  }
  // Lines are looked at in place: a reply of many short lines must not turn
  // into as many separate strings.
  size_t start = 0;
  while (start < value.size()) {
    const size_t end = std::min(value.find('\n', start), value.size());
    const std::string_view line = value.substr(start, end - start);
    if (!IsErrorText(line)) {
      reply.value.append(line);
      reply.value += '\n';
    }
    start = end + 1;
  }
  return reply;
}

OidReply ParseOidReply(std::span<const uint8_t> body, bool several_oids) {
  return ParseOidReply(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()),
                       several_oids);
}

}  // namespace korvela::HUtils
