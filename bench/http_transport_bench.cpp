// Hot paths of the HTTP transport: the body decoder that every Motion-JPEG
// stream byte passes through, and the response head parser of every request.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/http_response_parser.h"

namespace korvela::platform {
namespace {

// A chunked body of 8 KiB chunks, as a camera's server push arrives.
std::string ChunkedBody(size_t chunks) {
  std::string body;
  const std::string data(8192, 'j');
  for (size_t i = 0; i < chunks; ++i) body += "2000\r\n" + data + "\r\n";
  return body + "0\r\n\r\n";
}

void BM_ChunkedDecode(benchmark::State& state) {
  const std::string wire = ChunkedBody(128);  // 1 MiB of payload
  std::vector<uint8_t> out(8192);
  for (auto _ : state) {
    HttpBodyDecoder decoder({BodyFraming::kChunked, 0, true});
    size_t pos = 0;
    while (!decoder.done() && pos < wire.size()) {
      auto step = decoder.Decode(
          std::span(reinterpret_cast<const uint8_t*>(wire.data()) + pos, wire.size() - pos), out);
      pos += step.consumed;
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 128 * 8192);
}
BENCHMARK(BM_ChunkedDecode);

void BM_ParseResponseHead(benchmark::State& state) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nDate: Sun, 06 Dec 2026 15:00:00 GMT\r\nServer: cam\r\n"
      "Content-Type: text/html\r\nCache-Control: no-cache\r\nContent-Length: 52\r\n\r\n";
  for (auto _ : state) {
    HttpResponseHead parsed;
    size_t consumed = 0;
    benchmark::DoNotOptimize(ParseResponseHead(
        std::span(reinterpret_cast<const uint8_t*>(head.data()), head.size()), &parsed, &consumed));
  }
}
BENCHMARK(BM_ParseResponseHead);

}  // namespace
}  // namespace korvela::platform

BENCHMARK_MAIN();
