// Session set-up time against GStreamer's RTSP server on loopback: connect,
// DESCRIBE, SETUP and PLAY until the PLAY reply, then TEARDOWN. The first
// session builds the server's pipeline (x264 start-up); the rest find it
// ready, since a held session keeps the shared media prepared.
//
// Usage: rtsp_session_bench [sessions] [auth: none|basic|digest]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "gst_rtsp_peer.h"
#include "rtsp/base_rtsp_client.h"

using namespace korvela;
using Clock = std::chrono::steady_clock;

namespace {

RtspClientSettings Settings(uint16_t port) {
  RtspClientSettings s;
  s.host = "127.0.0.1";
  s.port = port;
  s.userName = "user";
  s.password = "pw";
  s.path = "now.mp4?mm=v";
  s.clientRtpPort = 47000;  // nobody listens: the server's RTP goes nowhere
  s.clientRtcpPort = 47001;
  return s;
}

// Milliseconds from connect to the PLAY reply; negative on failure.
double SetUp(CBaseRTSPClient& client, uint16_t port) {
  const auto start = Clock::now();
  if (!client.Connect(Settings(port)) || !client.Execute(kRtspDescribe) ||
      !client.Execute(kRtspSetup) || !client.Execute(kRtspPlay)) {
    return -1;
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int sessions = argc > 1 ? std::atoi(argv[1]) : 50;
  const std::string auth = argc > 2 ? argv[2] : "digest";
  testing::GstRtspPeer server;
  if (!server.Start(auth, /*shared=*/true)) {
    std::fprintf(stderr, "%s\n", server.error().c_str());
    return 1;
  }
  CBaseRTSPClient holder;
  const double cold = SetUp(holder, server.port());
  std::vector<double> warm;
  const std::clock_t cpu_start = std::clock();
  for (int i = 0; i < sessions; ++i) {
    CBaseRTSPClient client;
    const double ms = SetUp(client, server.port());
    if (ms < 0) {
      std::fprintf(stderr, "session %d failed: status %u\n", i, client.GetStatusCode());
      return 1;
    }
    warm.push_back(ms);
    client.Transact(kRtspTeardown);
  }
  // This process is the client alone; the server runs in its own.
  const double cpu_ms = 1000.0 * double(std::clock() - cpu_start) / CLOCKS_PER_SEC / sessions;
  holder.Transact(kRtspTeardown);
  std::sort(warm.begin(), warm.end());
  std::printf(
      "auth %s: first session %.1f ms; %d more: min %.2f, median %.2f, p90 %.2f, max %.2f ms; "
      "client CPU %.3f ms per session (with its TEARDOWN)\n",
      auth.c_str(), cold, sessions, warm.front(), warm[warm.size() / 2], warm[warm.size() * 9 / 10],
      warm.back(), cpu_ms);
  return 0;
}
