#include "rtsp/base_rtsp_client.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/scripted_server.h"
#include "util/base64.h"
#include "util/md5.h"

namespace korvela {
namespace {

using platform::NetError;
using testing::HttpReply;
using testing::ScriptStep;

std::string Reply(int cseq, const std::string& headers = "", const std::string& sdp = "") {
  return "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) + "\r\n" + headers +
         (sdp.empty() ? "" : "Content-Length: " + std::to_string(sdp.size()) + "\r\n") + "\r\n" +
         sdp;
}
std::string Sdp(const std::string& control) {
  return "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=Z0IAKeKQ,aM4xsg==\r\n" +
         (control.empty() ? "" : "a=control:" + control + "\r\n");
}
ScriptStep Challenge(const std::string& challenge) {
  return HttpReply("RTSP/1.0 401 Unauthorized\r\nCSeq: 7\r\nWWW-Authenticate: " + challenge +
                   "\r\n\r\n");
}
std::string Digest(const std::string& method, const std::string& uri) {
  const std::string ha1 = codec::Md5HexOf("user:cam:pw"), ha2 = codec::Md5HexOf(method + ":" + uri);
  return "Authorization: Digest username=\"user\", realm=\"cam\", nonce=\"n1\", uri=\"" + uri +
         "\", response=\"" + codec::Md5HexOf(ha1 + ":n1:" + ha2) + "\"\r\n";
}

struct Peer {
  explicit Peer(std::vector<ScriptStep> steps, const std::string& path = "") {
    if (!steps.empty()) server.AddConnection(std::move(steps));
    settings.host = "127.0.0.1";
    settings.port = server.port();
    settings.userName = "user";
    settings.password = "pw";
    settings.clientRtpPort = 3556;
    settings.clientRtcpPort = 3557;
    settings.path = path;
    client.SetStopEvent(&stop);
  }
  std::vector<std::string> Heads() const {
    std::vector<std::string> heads;
    for (const auto& r : server.Requests()) heads.push_back(r.head);
    return heads;
  }
  std::string Url() const { return "rtsp://127.0.0.1:" + std::to_string(server.port()); }

  testing::ScriptedServer server;
  platform::Event stop{platform::Event::Mode::kManualReset};
  RtspClientSettings settings;
  CBaseRTSPClient client;
};

TEST(CBaseRTSPClientTest, DigestSessionRequestTexts) {
  Peer peer({Challenge("Digest realm=\"cam\", nonce=\"n1\""), HttpReply(Reply(8, "", Sdp("t1"))),
             HttpReply(Reply(9, "Session: ab;timeout=30\r\n")), HttpReply(Reply(10)),
             HttpReply(Reply(11)), HttpReply(Reply(12))},
            "/live");
  ASSERT_TRUE(peer.client.Connect(peer.settings));
  EXPECT_FALSE(peer.client.Transact(kRtspTeardown));  // no session yet: nothing is sent
  EXPECT_TRUE(peer.client.Execute(kRtspDescribe));
  EXPECT_TRUE(peer.client.Execute(kRtspSetup));
  EXPECT_TRUE(peer.client.Execute(kRtspPlay));
  EXPECT_TRUE(peer.client.Transact(kRtspOptions));
  EXPECT_TRUE(peer.client.Transact(kRtspTeardown));
  EXPECT_EQ(peer.client.GetSessionTimeoutMs(), 30000u);
  EXPECT_EQ(peer.client.GetSps().size(), 6u);

  const std::string b = peer.Url() + "/live", ua = "User-Agent: Korvela\r\n";
  const std::vector<std::string> expected = {
      "DESCRIBE " + b + " RTSP/1.0\r\nCSeq: 2\r\n" + ua + "Accept: application/sdp\r\n\r\n",
      "DESCRIBE " + b + " RTSP/1.0\r\nCSeq: 8\r\n" + Digest("DESCRIBE", b) + ua +
          "Accept: application/sdp\r\n\r\n",
      "SETUP " + b + "/t1 RTSP/1.0\r\nCSeq: 9\r\n" + Digest("SETUP", b) +
          "Transport: RTP/AVP;unicast;client_port=3556-3557\r\n" + ua + "\r\n",
      "PLAY " + b + " RTSP/1.0\r\nCSeq: 10\r\n" + Digest("PLAY", b) +
          "Session: ab\r\nRange: npt=0.000-\r\n" + ua + "\r\n",
      "OPTIONS " + b + " RTSP/1.0\r\nCSeq: 11\r\n" + Digest("OPTIONS", b) + "Session: ab\r\n" + ua +
          "\r\n",
      "TEARDOWN " + b + " RTSP/1.0\r\nCSeq: 12\r\n" + Digest("TEARDOWN", b) + "Session: ab\r\n" +
          ua + "\r\n",
  };
  ASSERT_TRUE(peer.server.WaitForRequests(expected.size(), 2000));
  EXPECT_EQ(peer.Heads(), expected);
}

TEST(CBaseRTSPClientTest, BaseAndTrackUrls) {
  const struct {
    std::string path, content_base, control, describe_url, setup_url;
  } cases[] = {
      {"/live", "", "track1", "/live", "/live/track1"},
      {"//", "", "/track1", "/", "/track1"},
      {"", "", "", "/", "/"},
      {"now.mp4?mm=v", "$/now.mp4/", "stream=0", "/now.mp4?mm=v", "/now.mp4/stream=0"},
      {"x", "rtsp://cam/base", "rtsp://other/t", "/x", "rtsp://other/t"},
      {"x", "rtsp://cam/base/", "t2", "/x", "rtsp://cam/base/t2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.control);
    Peer peer({}, c.path);
    std::string base = c.content_base;
    if (base[0] == '$') base = peer.Url() + base.substr(1);
    const std::string headers = base.empty() ? "" : "Content-Base: " + base + "\r\n";
    peer.server.AddConnection({HttpReply(Reply(2, headers, Sdp(c.control))), HttpReply(Reply(3))});
    ASSERT_TRUE(peer.client.Connect(peer.settings));
    EXPECT_TRUE(peer.client.Execute(kRtspDescribe));
    EXPECT_TRUE(peer.client.Execute(kRtspSetup));
    const auto url = [&](const std::string& u) { return u[0] == '/' ? peer.Url() + u : u; };
    const auto heads = peer.Heads();
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(heads[0].substr(0, heads[0].find(" RTSP")), "DESCRIBE " + url(c.describe_url));
    EXPECT_EQ(heads[1].substr(0, heads[1].find(" RTSP")), "SETUP " + url(c.setup_url));
  }
}

TEST(CBaseRTSPClientTest, AuthenticationAndStatus) {
  const ScriptStep digest = Challenge("Digest realm=\"cam\", nonce=\"n1\"");
  const std::string basic = codec::Base64Encode(std::string_view("user:pw"));
  struct {
    std::vector<ScriptStep> steps;
    std::string password, line;  // line: the last request's Authorization, up to its response
    bool ok;
  } cases[] = {
      {{Challenge("Basic realm=\"cam\""), HttpReply(Reply(8))}, "pw", "Basic " + basic, true},
      {{Challenge("Digest realm=cam, nonce=n1, qop=\"auth\""), HttpReply(Reply(8))},
       "pw",
       "Digest username=\"user\", realm=\"cam\", nonce=\"n1\", uri=\"$/\", response=",
       true},
      {{digest, digest}, "", "", false},  // no password: no line, and no second retry
      {{digest, Challenge("Digest realm=\"cam\", nonce=\"n2\"")}, "pw", "Digest username", false},
      {{HttpReply("RTSP/1.0 204 No Content\r\nCSeq: 1\r\n\r\n")}, "pw", "", false},
  };
  for (auto& c : cases) {
    const size_t requests = c.steps.size();
    Peer peer(std::move(c.steps));
    peer.settings.password = c.password;
    ASSERT_TRUE(peer.client.Connect(peer.settings));
    EXPECT_EQ(peer.client.Execute(kRtspOptions), c.ok);
    const auto heads = peer.Heads();
    ASSERT_EQ(heads.size(), requests);
    const size_t at = heads.back().find("Authorization: ");
    const std::string line = at == std::string::npos ? "" : heads.back().substr(at + 15);
    if (const size_t url = c.line.find('$'); url != std::string::npos)
      c.line.replace(url, 1, peer.Url());
    EXPECT_EQ(line.substr(0, std::max<size_t>(c.line.size(), 1)), c.line);
    if (line.find("qop=auth") == std::string::npos) continue;
    // The response's value is the Digest answerer's (http_auth_test's RFC forms).
    EXPECT_NE(line.find("qop=auth, nc=00000001"), std::string::npos) << line;
  }
}

TEST(CBaseRTSPClientTest, ReplySplitAtEveryBytePosition) {
  const std::string reply = Reply(2, "Content-Base: rtsp://cam/now.mp4/\r\n", Sdp("stream=0"));
  std::vector<ScriptStep> steps;
  for (size_t cut = 1; cut < reply.size(); ++cut)
    steps.push_back(testing::HttpReplySplit(reply, {cut}, 1));
  Peer peer(std::move(steps));
  ASSERT_TRUE(peer.client.Connect(peer.settings));
  for (size_t cut = 1; cut < reply.size(); ++cut) {
    ASSERT_TRUE(peer.client.Execute(kRtspDescribe)) << cut;
    ASSERT_EQ(peer.client.GetParser().GetMedia(kMediaVideo).control, "stream=0") << cut;
  }
}

TEST(CBaseRTSPClientTest, EveryWaitIsBounded) {
  ScriptStep trickle = testing::HttpReplySplit(Reply(1), {}, 150);
  for (size_t i = 1; i < Reply(1).size(); ++i) trickle.split_at.push_back(i);
  struct {
    ScriptStep step;
    bool stop;
    NetError error;
  } cases[] = {
      {testing::HangAfterRequest(), false, NetError::kTimeout},
      {trickle, false, NetError::kTimeout},  // each piece in time, the whole too late
      {testing::HangAfterRequest(), true, NetError::kAborted},
      {HttpReply("RTSP/1.0 200 OK\r\nX: " + std::string(70000, 'x')), false, NetError::kOverLimit},
      {testing::HttpReplyThenClose(""), false, NetError::kClosed},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.error));
    Peer peer({c.step});
    peer.settings.receiveTimeoutMs = c.stop ? 60000 : 200;
    ASSERT_TRUE(peer.client.Connect(peer.settings));
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(c.stop ? 100 : 0));
      if (c.stop) peer.stop.Set();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(peer.client.Transact(kRtspOptions));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(peer.client.GetLastError(), c.error);
    EXPECT_FALSE(peer.client.IsConnected());
  }
  Peer refused({});
  refused.settings.port = 1;
  EXPECT_FALSE(refused.client.Connect(refused.settings));
  EXPECT_EQ(refused.client.GetLastError(), NetError::kRefused);
}

}  // namespace
}  // namespace korvela
