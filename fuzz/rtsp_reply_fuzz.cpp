// Fuzz target: RTSP replies as a camera could send them, through the reply
// framer (fed growing prefixes, as a connection delivers them) and the
// reply/SDP parser, with the state of one reply carried into the next.
//
// Input layout: byte 0 picks the request method (1..5 and others), byte 1 the
// piece size of the prefixes; the rest is the byte stream of the connection.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "rtsp/rtsp_reply_framer.h"
#include "rtsp/rtsp_response_parser.h"

using namespace korvela;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t method = data[0] % 7;
  const size_t piece = 1 + data[1] % 64;
  std::string_view stream(reinterpret_cast<const char*>(data + 2), size - 2);

  CRTSPResponseParser parser;
  while (!stream.empty()) {
    RtspReplyFramer framer;
    RtspReplyFramer::Status status = RtspReplyFramer::Status::kNeedMore;
    for (size_t end = std::min(piece, stream.size());; end = std::min(end + piece, stream.size())) {
      status = framer.Examine(stream.substr(0, end));
      if (status != RtspReplyFramer::Status::kNeedMore || end == stream.size()) break;
    }
    // A connection that closes mid-reply hands over what arrived.
    size_t length = stream.size();
    if (status == RtspReplyFramer::Status::kComplete) {
      length = framer.length();
      Check(length > 0 && length <= stream.size());
      Check(length <= RtspReplyFramer::kMaxHeaderBytes + RtspReplyFramer::kMaxBodyBytes);
    } else if (status != RtspReplyFramer::Status::kNeedMore) {
      return 0;
    }
    parser.Parse(stream.substr(0, length), method);
    Check(parser.GetProtocol().size() <= CRTSPResponseParser::kMaxTokenLength);
    Check(parser.GetSps().size() <= CRTSPResponseParser::kMaxParameterSetBytes);
    Check(parser.GetPps().size() <= CRTSPResponseParser::kMaxParameterSetBytes);
    Check(parser.GetSessionTimeoutSec() <= CRTSPResponseParser::kMaxSessionTimeoutSec);
    for (uint32_t s = 0; s <= 4; ++s) {
      Check(parser.GetMedia(s).control.size() <= CRTSPResponseParser::kMaxTokenLength);
    }
    Check(parser.GetOfferedAuthScheme() <= kAuthDigest);
    if (parser.GetOfferedAuthScheme() == kAuthDigest) Check(!parser.GetNonce().empty());
    stream.remove_prefix(length);
  }
  return 0;
}
