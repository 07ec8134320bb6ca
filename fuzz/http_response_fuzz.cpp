// Fuzz target: an HTTP response as a device could send it, through the head
// parser, the body framing decoder (fed in uneven pieces into a small output)
// and the authentication-challenge parser with the choice of scheme and its
// answer.
//
// Input layout: byte 0 picks the input piece size, byte 1 the output size,
// byte 2 bit 0 marks the request as HEAD, bits 1-2 what the request carried
// (none, Basic, Digest, a Digest answer); the rest is the response.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "platform/http_auth.h"
#include "platform/http_response_parser.h"

using namespace korvela::platform;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t piece = 1 + data[0] % 64;
  const size_t out_size = 1 + data[1] % 32;
  const bool head_request = data[2] & 1;
  std::span<const uint8_t> wire(data + 3, size - 3);

  // The head, fed growing prefixes as a connection would; the answer for a
  // prefix must never contradict the answer for the whole.
  HttpResponseHead head;
  size_t consumed = 0;
  HeadParse result = HeadParse::kNeedMore;
  // A large head is fed in at most about 32 steps: each parse reads the whole
  // prefix, and the connection only parses once a head's end is in sight.
  const size_t step = std::max(piece, wire.size() / 32);
  for (size_t end = std::min(step, wire.size());; end = std::min(end + step, wire.size())) {
    result = ParseResponseHead(wire.first(end), &head, &consumed);
    if (result != HeadParse::kNeedMore || end == wire.size()) break;
  }
  if (result != HeadParse::kDone) return 0;
  Check(consumed <= wire.size() && consumed <= kMaxHeaderBlockBytes);
  Check(head.status_code >= 100 && head.status_code <= 599);
  Check(head.fields.size() <= kMaxHeaderFields);

  const auto challenges = ParseAuthChallenges(head.Fields("WWW-Authenticate"));
  Check(challenges.size() <= kMaxAuthChallenges);
  DigestAuthenticator digest;
  if (digest.AcceptFirst(challenges)) {
    Check(!digest.Authorize("GET", "/get.oid?1.2.7", "user", "pw", "cnonce").empty());
  }
  // Whatever the offer, a device that offers Digest never gets Basic.
  static constexpr uint32_t kSent[] = {0, kAuthSchemeBasic, kAuthSchemeDigest, kAuthSchemeDigest};
  const int sent = (data[2] >> 1) & 3;
  ClientAuth auth;
  const bool answer = auth.OnChallenge(challenges, kSent[sent], sent == 3);
  const std::string authorization = auth.Authorization("GET", "/", "user", "pw");
  Check(answer <= !authorization.empty());
  bool digest_offered = false;
  for (const AuthChallenge& c : challenges) digest_offered |= c.scheme_bit == kAuthSchemeDigest;
  Check(!(digest_offered && authorization.starts_with("Basic")));

  const auto framing = DetermineBodyFraming(head, head_request);
  if (!framing) return 0;
  HttpBodyDecoder decoder(*framing);
  std::vector<uint8_t> out(out_size);
  const std::span<const uint8_t> body = wire.subspan(consumed);
  size_t pos = 0;
  uint64_t produced = 0;
  while (pos < body.size() && !decoder.done() && !decoder.failed()) {
    const size_t n = std::min(piece, body.size() - pos);
    const auto step = decoder.Decode(body.subspan(pos, n), out);
    Check(step.consumed <= n && step.produced <= out.size());
    Check(step.produced <= step.consumed);
    produced += step.produced;
    if (step.consumed == 0 && step.produced == 0)
      break;  // output full cannot happen: out is drained
    pos += step.consumed;
  }
  Check(produced <= body.size());
  if (framing->framing == BodyFraming::kContentLength && decoder.done()) {
    Check(produced == framing->content_length);
  }
  decoder.OnEndOfStream();
  Check(decoder.done() || decoder.failed());
  return 0;
}
