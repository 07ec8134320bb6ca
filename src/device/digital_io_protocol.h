// The camera's digital I/O requests and how its input reply is read.
//
// Threading: free functions over values; callable from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvela {

// Reads the state of the camera's only input (OID 1.3.15).
inline constexpr std::string_view kInputPollPath = "/get.oid?1.3.15";

// Input state found in the reply body: 1 when it holds "OPEN" (checked first,
// so a body with both words counts as open), 2 when it holds "CLOSED", 0 when
// neither word is there.
uint32_t ParseInputReply(std::string_view body);

// "/set.oid?OidTR1.3.5.1=OPEN" for state 1, "...=CLOSED" for anything else.
std::string BuildOutputWritePath(uint32_t state);

}  // namespace korvela
