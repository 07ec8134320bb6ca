// Unwrapping of a device's OID read reply: the value text stands between
// "<xmp>" and "</xmp>" of an HTML page; a read of several OIDs gives one
// "OID=value" line per OID; a value containing "err" (any case) is the
// device's error report for that OID.
//
// Threading: pure functions over the bytes given; no state, reentrant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvela::HUtils {

// The unwrapped reply of one read.
struct OidReply {
  // Single OID: the value, or empty when the device reported an error.
  // Several OIDs: the accepted lines, each ended by "\n" (a "\r" before it
  // stays), in reply order; lines reporting an error are left out.
  std::string value;
  // Single OID only: the device's error text, empty when there was none.
  std::string error;
};

// True when `oids` names several OIDs (joined by "&").
bool IsMultiOidList(std::string_view oids);

// True when `text` is a device error report: it contains "err" in any case.
bool IsErrorText(std::string_view text);

// Unwraps `body` (the reply bytes, any content). A reply without the
// "<xmp>"..."</xmp>" markers, or with nothing between them, gives an empty
// value and no error.
OidReply ParseOidReply(std::string_view body, bool several_oids);
OidReply ParseOidReply(std::span<const uint8_t> body, bool several_oids);

}  // namespace korvela::HUtils
