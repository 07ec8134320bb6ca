#include "rtsp/base_rtsp_client.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/scripted_server.h"
#include "util/base64.h"
#include "util/md5.h"
#include "util/str_format.h"

namespace korvela {
namespace {

using platform::NetError;
using testing::HttpReply;
using testing::ScriptStep;

constexpr char kSdp[] =
    "v=0\r\nm=video 0 RTP/AVP 96\r\n"
    "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAKeKQ,aM4xsg==\r\na=control:%s\r\n";

std::string Reply(int cseq, const std::string& headers = "", const std::string& body = "") {
  std::string text = "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) + "\r\n" + headers;
  if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

std::string Sdp(const std::string& control) { return StrFormat(kSdp, control.c_str()); }

std::string Challenge(const std::string& params) {
  return "RTSP/1.0 401 Unauthorized\r\nCSeq: 7\r\nWWW-Authenticate: " + params + "\r\n\r\n";
}

std::string DigestLine(const std::string& method, const std::string& uri) {
  const std::string ha1 = codec::Md5HexOf("user:cam:pw");
  const std::string ha2 = codec::Md5HexOf(method + ":" + uri);
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
  Peer peer(
      {HttpReply(Challenge("Digest realm=\"cam\", nonce=\"n1\"")),
       HttpReply(Reply(8, "", Sdp("track1"))), HttpReply(Reply(9, "Session: ab;timeout=30\r\n")),
       HttpReply(Reply(10)), HttpReply(Reply(11)), HttpReply(Reply(12))},
      "/live");
  ASSERT_TRUE(peer.client.Connect(peer.settings));
  EXPECT_TRUE(peer.client.Execute(kRtspDescribe));
  EXPECT_TRUE(peer.client.Execute(kRtspSetup));
  EXPECT_TRUE(peer.client.Execute(kRtspPlay));
  EXPECT_TRUE(peer.client.Transact(kRtspOptions));
  EXPECT_TRUE(peer.client.Transact(kRtspTeardown));
  EXPECT_EQ(peer.client.GetSessionTimeoutMs(), 30000u);
  EXPECT_EQ(peer.client.GetSps().size(), 6u);

  const std::string base = peer.Url() + "/live";
  const std::vector<std::string> expected = {
      "DESCRIBE " + base +
          " RTSP/1.0\r\nCSeq: 1\r\nUser-Agent: Korvela\r\n"
          "Accept: application/sdp\r\n\r\n",
      "DESCRIBE " + base + " RTSP/1.0\r\nCSeq: 8\r\n" + DigestLine("DESCRIBE", base) +
          "User-Agent: Korvela\r\nAccept: application/sdp\r\n\r\n",
      "SETUP " + base + "/track1 RTSP/1.0\r\nCSeq: 9\r\n" + DigestLine("SETUP", base) +
          "Transport: RTP/AVP;unicast;client_port=3556-3557\r\nUser-Agent: Korvela\r\n\r\n",
      "PLAY " + base + " RTSP/1.0\r\nCSeq: 10\r\n" + DigestLine("PLAY", base) +
          "Session: ab\r\nRange: npt=0.000-\r\nUser-Agent: Korvela\r\n\r\n",
      "OPTIONS " + base + " RTSP/1.0\r\nCSeq: 11\r\n" + DigestLine("OPTIONS", base) +
          "Session: ab\r\nUser-Agent: Korvela\r\n\r\n",
      "TEARDOWN " + base + " RTSP/1.0\r\nCSeq: 12\r\n" + DigestLine("TEARDOWN", base) +
          "Session: ab\r\nUser-Agent: Korvela\r\n\r\n",
  };
  ASSERT_TRUE(peer.server.WaitForRequests(expected.size(), 2000));
  EXPECT_EQ(peer.Heads(), expected);
}

TEST(CBaseRTSPClientTest, BaseAndTrackUrls) {
  struct Case {
    std::string path, content_base, control, describe_url, setup_url;
  } cases[] = {
      {"/live", "", "track1", "/live", "/live/track1"},
      {"//", "", "/track1", "/", "/track1"},
      {"", "", "", "/", "/"},
      {"now.mp4?mm=v", "$/now.mp4/", "stream=0", "/now.mp4?mm=v", "/now.mp4/stream=0"},
      {"x", "rtsp://cam/base", "rtsp://other/t", "/x", "rtsp://other/t"},
      {"x", "rtsp://cam/base/", "t2", "/x", "rtsp://cam/base/t2"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.path + " " + c.control);
    Peer peer({}, c.path);
    std::string base = c.content_base;
    if (!base.empty() && base[0] == '$') base = peer.Url() + base.substr(1);
    const std::string sdp = c.control.empty() ? "m=video 0 RTP/AVP 96\r\n" : Sdp(c.control);
    peer.server.AddConnection(
        {HttpReply(Reply(2, base.empty() ? "" : "Content-Base: " + base + "\r\n", sdp)),
         HttpReply(Reply(3))});
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
  struct Case {
    const char* name;
    std::vector<ScriptStep> steps;
    uint32_t preset_scheme;
    std::string password;
    bool ok;
    size_t requests;
    std::string authorization;  // of the last request; "digest-qop": checked below
  } cases[] = {
      {"Basic offered",
       {HttpReply(Challenge("Basic realm=\"cam\"")), HttpReply(Reply(8))},
       0,
       "pw",
       true,
       2,
       "Authorization: Basic " + codec::Base64Encode(std::string_view("user:pw"))},
      {"Digest with qop",
       {HttpReply(Challenge("Digest realm=\"cam\", nonce=\"n1\", qop=\"auth\"")),
        HttpReply(Reply(8))},
       0,
       "pw",
       true,
       2,
       "digest-qop"},
      {"Digest without password sends no line",
       {HttpReply(Challenge("Digest realm=\"cam\", nonce=\"n1\"")),
        HttpReply(Challenge("Digest realm=\"cam\", nonce=\"n1\""))},
       2,
       "",
       false,
       2,
       ""},
      {"second 401 ends it",
       {HttpReply(Challenge("Digest realm=\"cam\", nonce=\"n1\"")),
        HttpReply(Challenge("Digest realm=\"cam\", nonce=\"n2\""))},
       0,
       "pw",
       false,
       2,
       "Authorization: Digest"},
      {"204 fails",
       {HttpReply("RTSP/1.0 204 No Content\r\nCSeq: 1\r\n\r\n")},
       0,
       "pw",
       false,
       1,
       ""},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Peer peer(std::move(c.steps));
    peer.settings.authScheme = c.preset_scheme;
    peer.settings.password = c.password;
    ASSERT_TRUE(peer.client.Connect(peer.settings));
    EXPECT_EQ(peer.client.Execute(kRtspOptions), c.ok);
    const auto heads = peer.Heads();
    ASSERT_EQ(heads.size(), c.requests);
    const std::string& last = heads.back();
    const size_t at = last.find("Authorization: ");
    const std::string line =
        at == std::string::npos ? "" : last.substr(at, last.find('\r', at) - at);
    if (c.authorization != "digest-qop") {
      EXPECT_EQ(line.substr(0, c.authorization.size()), c.authorization);
      if (c.authorization.empty()) {
        EXPECT_EQ(line, "");
      }
      continue;
    }
    // response = MD5(HA1:nonce:nc:cnonce:qop:HA2) with the cnonce we sent.
    const size_t cn = line.find("cnonce=\"") + 8;
    const std::string cnonce = line.substr(cn, line.find('"', cn) - cn);
    const std::string uri = peer.Url() + "/";
    const std::string expected =
        codec::Md5HexOf(codec::Md5HexOf("user:cam:pw") + ":n1:00000001:" + cnonce +
                        ":auth:" + codec::Md5HexOf("OPTIONS:" + uri));
    EXPECT_NE(line.find("response=\"" + expected + "\""), std::string::npos) << line;
    EXPECT_NE(line.find("qop=auth, nc=00000001"), std::string::npos) << line;
  }
}

TEST(CBaseRTSPClientTest, ReplySplitAtEveryBytePosition) {
  const std::string reply = Reply(2, "Content-Base: rtsp://cam/now.mp4/\r\n", Sdp("stream=0"));
  std::vector<ScriptStep> steps;
  for (size_t cut = 1; cut < reply.size(); ++cut) {
    steps.push_back(testing::HttpReplySplit(reply, {cut}, 1));
  }
  Peer peer(std::move(steps));
  ASSERT_TRUE(peer.client.Connect(peer.settings));
  for (size_t cut = 1; cut < reply.size(); ++cut) {
    ASSERT_TRUE(peer.client.Execute(kRtspDescribe)) << cut;
    ASSERT_EQ(peer.client.GetParser().GetMedia(kMediaVideo).control, "stream=0") << cut;
  }
}

TEST(CBaseRTSPClientTest, TeardownWithoutSessionSendsNothing) {
  Peer peer({HttpReply(Reply(1))});
  ASSERT_TRUE(peer.client.Connect(peer.settings));
  EXPECT_FALSE(peer.client.Transact(kRtspTeardown));
  EXPECT_TRUE(peer.client.Transact(kRtspOptions));
  ASSERT_TRUE(peer.server.WaitForRequests(1, 2000));
  EXPECT_NE(peer.Heads()[0].find("CSeq: 2\r\n"), std::string::npos);
}

TEST(CBaseRTSPClientTest, EveryWaitIsBounded) {
  ScriptStep trickle = testing::HttpReplySplit(Reply(1), {}, 150);
  for (size_t i = 1; i < Reply(1).size(); ++i) trickle.split_at.push_back(i);
  ScriptStep endless = HttpReply("RTSP/1.0 200 OK\r\nX: " + std::string(70000, 'x'));
  struct Case {
    const char* name;
    ScriptStep step;
    bool stop;
    NetError error;
  } cases[] = {
      {"silent server", testing::HangAfterRequest(), false, NetError::kTimeout},
      {"trickling reply meets the total deadline", trickle, false, NetError::kTimeout},
      {"stop event", testing::HangAfterRequest(), true, NetError::kAborted},
      {"endless header block", endless, false, NetError::kOverLimit},
      {"closed without reply", testing::HttpReplyThenClose(""), false, NetError::kClosed},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Peer peer({c.step});
    peer.settings.receiveTimeoutMs = c.stop ? 60000 : 200;
    ASSERT_TRUE(peer.client.Connect(peer.settings));
    std::thread stopper([&] {
      if (c.stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        peer.stop.Set();
      }
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
