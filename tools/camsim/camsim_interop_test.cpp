// The simulator against real clients (curl, ffprobe, ffmpeg), so that it
// behaves like a camera and not like what our own driver expects. A missing
// client fails these tests.
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "camsim/camsim.h"

namespace camsim {
namespace {

using namespace std::chrono_literals;

struct CommandResult {
  int exit_code = -1;
  std::string output;
};

CommandResult RunCommand(const std::string& command) {
  CommandResult r;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), pipe)) > 0) r.output.append(buf, n);
  const int status = ::pclose(pipe);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

void RequireTool(const std::string& tool) {
  ASSERT_EQ(RunCommand("command -v " + tool).exit_code, 0)
      << tool << " is required for the interop tests";
}

// "key=value" lines of ffprobe's default output.
std::map<std::string, std::string> ProbeFields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos && !fields.count(line.substr(0, eq)))
      fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

struct Fixture {
  explicit Fixture(AuthMode auth, std::string model = "IQ765") {
    SimulatorOptions options;
    options.camera.auth = auth;
    options.camera.model = std::move(model);
    options.camera.rtcp_interval_ms = 1000;
    std::string error;
    sim = Simulator::Start(options, &error);
    EXPECT_TRUE(sim) << error;
  }
  Camera& cam() { return sim->camera(0); }
  std::string Http(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(sim->camera(0).http_port()) + path;
  }
  std::string Rtsp(const std::string& path, const std::string& userinfo = "root:system@") const {
    return "rtsp://" + userinfo + "127.0.0.1:" + std::to_string(sim->camera(0).rtsp_port()) + path;
  }
  std::unique_ptr<Simulator> sim;
};

std::string Curl(const std::string& options, const std::string& url) {
  return "curl -s -S --max-time 10 " + options + " '" + url + "'";
}

// The HTTP status code curl got ("000" when none).
std::string Status(const std::string& options, const std::string& url) {
  return RunCommand(Curl("-o /dev/null -w '%{http_code}' " + options, url)).output;
}

std::string Probe(const std::string& options, const std::string& url) {
  return "timeout 30 ffprobe -v error " + options +
         " -show_entries stream=codec_name,width,height,sample_rate,nb_read_frames -count_frames "
         "'" +
         url + "'";
}

TEST(CamsimInteropTest, CurlReadsAndWritesOidsWithBasic) {
  RequireTool("curl");
  Fixture f(AuthMode::kBasic);
  const auto read = RunCommand(Curl("-u root:system", f.Http("/get.oid?2.8&2.7&1.17.3.1&4.4.4")));
  ASSERT_EQ(read.exit_code, 0);
  EXPECT_NE(read.output.find("<xmp>2.8=IQ765\r\n2.7=02-00-5E-10-00-00\r\n1.17.3.1=" +
                             std::to_string(f.cam().rtsp_port()) + "\r\n4.4.4=ERROR"),
            std::string::npos)
      << read.output;
  EXPECT_EQ(Status("-u root:wrong", f.Http("/get.oid?2.8")), "401");
  const auto write = RunCommand(
      Curl("-u root:system", f.Http("/set.oid?OidTR1.2.7=58&OidTR1.2.31=40&OidTR1.17.2.6=mode99")));
  ASSERT_EQ(write.exit_code, 0);
  const auto writes = f.cam().oid_writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].oid, "1.2.7");
  EXPECT_EQ(writes[0].value, "58");
  EXPECT_TRUE(writes[1].accepted);
  EXPECT_FALSE(writes[2].accepted);
  EXPECT_NE(
      RunCommand(Curl("-u root:system", f.Http("/get.oid?1.2.7"))).output.find("<xmp>58</xmp>"),
      std::string::npos);
  // Both requests of one curl call travel on one kept-alive connection.
  const auto keep =
      RunCommand(Curl("-v -u root:system", f.Http("/get.oid?2.5")) + " '" +
                 f.Http("/get.oid?2.27") + "' 2>&1 | grep -c 'Re-using existing connection'");
  EXPECT_EQ(keep.output, "1\n");
}

TEST(CamsimInteropTest, CurlUsesDigestAndBasicIsRefused) {
  RequireTool("curl");
  Fixture f(AuthMode::kDigest);
  const auto read = RunCommand(Curl("--digest -u root:system", f.Http("/get.oid?2.8")));
  ASSERT_EQ(read.exit_code, 0);
  EXPECT_NE(read.output.find("<xmp>IQ765</xmp>"), std::string::npos);
  EXPECT_EQ(Status("-u root:system", f.Http("/get.oid?2.8")), "401");  // Basic
  EXPECT_EQ(Status("--digest -u root:bad", f.Http("/get.oid?2.8")), "401");
}

TEST(CamsimInteropTest, FfmpegRecordsH264OverRtspWithDigestThatDecodes) {
  RequireTool("ffmpeg");
  RequireTool("ffprobe");
  Fixture f(AuthMode::kDigest);
  const std::string out = ::testing::TempDir() + "camsim_rec.h264";
  const auto rec = RunCommand("timeout 30 ffmpeg -v error -y -rtsp_transport udp -i '" +
                              f.Rtsp("/now.mp4?mm=v") +
                              "' -t 2 -c copy -bsf:v dump_extra=freq=keyframe '" + out + "'");
  ASSERT_EQ(rec.exit_code, 0) << rec.output;
  EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + out + "' -f null - 2>&1").output, "")
      << "decoder complained";
  auto fields = ProbeFields(RunCommand(Probe("", out)).output);
  std::remove(out.c_str());
  EXPECT_EQ(fields["codec_name"], "h264");
  EXPECT_EQ(fields["width"], "1280");
  EXPECT_EQ(fields["height"], "720");
  const int frames = std::stoi(fields["nb_read_frames"]);
  EXPECT_GE(frames, 30);  // 2 s at 25 fps, generous either way
  EXPECT_LE(frames, 80);
  std::string methods;
  for (const auto& r : f.cam().rtsp_requests())
    methods += r.method + " " + std::to_string(r.status) + ",";
  EXPECT_NE(methods.find("DESCRIBE 401,DESCRIBE 200,SETUP 200,PLAY 200"), std::string::npos)
      << methods;
  const auto counters = f.cam().counters();
  EXPECT_GT(counters.rtp_packets_sent, counters.video_access_units_sent);  // FU-A fragments
  EXPECT_GE(counters.rtcp_sender_reports, 1u);

  // A low-resolution URL on the small model serves the 640x480 stream.
  Fixture small(AuthMode::kBasic, "IQA30");
  fields = ProbeFields(RunCommand(Probe("-rtsp_transport udp -read_intervals %+1",
                                        small.Rtsp("/now.mp4?mm=v&res=low")))
                           .output);
  EXPECT_EQ(fields["width"], "640");
  EXPECT_EQ(fields["height"], "480");
}

TEST(CamsimInteropTest, FfprobeReadsPcmuOnceAudioInputIsEnabled) {
  RequireTool("ffprobe");
  RequireTool("curl");
  Fixture f(AuthMode::kDigest);
  // Factory setting: microphone off; the stream is refused until it is switched on.
  const auto refused =
      RunCommand(Probe("-rtsp_transport udp -read_intervals %+1", f.Rtsp("/now.mp4?mm=a")));
  EXPECT_NE(refused.exit_code, 0);
  RunCommand(
      Curl("--digest -u root:system", f.Http("/set.oid?OidTR1.9.5=enabled&OidTR1.9.7=full")));
  const auto probe =
      RunCommand(Probe("-rtsp_transport udp -read_intervals %+2", f.Rtsp("/now.mp4?mm=a")));
  ASSERT_EQ(probe.exit_code, 0) << probe.output;
  const auto fields = ProbeFields(probe.output);
  EXPECT_EQ(fields.at("codec_name"), "pcm_mulaw");
  EXPECT_EQ(fields.at("sample_rate"), "8000");
  const int packets = std::stoi(fields.at("nb_read_frames"));  // one frame per 20 ms packet
  EXPECT_GE(packets, 70);
  EXPECT_LE(packets, 140);
  // The client's receiver reports and its BYE reach the server's RTCP port.
  EXPECT_TRUE(f.cam().WaitUntil(
      [&] {
        for (const auto& r : f.cam().rtcp_received()) {
          if (r.has_receiver_report) return true;
        }
        return false;
      },
      3s));
}

TEST(CamsimInteropTest, FfprobeReadsMotionJpegPushAtTheConfiguredSize) {
  RequireTool("ffprobe");
  Fixture f(AuthMode::kBasic, "IQ511");
  // 2048 wide, scaled down by 4: the small pictures.
  auto fields = ProbeFields(
      RunCommand(Probe("-f mpjpeg -read_intervals %+#12",
                       f.Http("/now.jpg?snap=spush0.03&ds=4").insert(7, "root:system@")))
          .output);
  EXPECT_EQ(fields["codec_name"], "mjpeg");
  EXPECT_EQ(fields["width"], "640");
  EXPECT_EQ(fields["height"], "480");
  EXPECT_EQ(fields["nb_read_frames"], "12");
  EXPECT_GE(f.cam().counters().jpeg_frames_sent, 12u);
}

TEST(CamsimInteropTest, TalkBackTakesContentLengthAndChunkedBodies) {
  RequireTool("curl");
  Fixture f(AuthMode::kDigest);
  const std::string tone = std::string(CAMSIM_TESTDATA_DIR) + "/tone_440hz_8k.ul";
  std::ifstream in(tone, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 8000u);
  const std::string post = "-H 'Content-Type: audio/ulaw' --data-binary @" + tone;
  EXPECT_EQ(Status(post + " -u audio:plume", f.Http("/audiorx.cgi")), "200");
  EXPECT_EQ(
      Status(post + " -u audio:plume -H 'Transfer-Encoding: chunked'", f.Http("/audiorx.cgi")),
      "200");
  EXPECT_EQ(f.cam().audio_bytes_total(), 16000u);
  const auto received = f.cam().audio_received();
  EXPECT_EQ(std::string(received.begin(), received.begin() + 8000), bytes);
  EXPECT_EQ(std::string(received.begin() + 8000, received.end()), bytes);
  // The talk-back password is the one last written to 1.9.10.
  RunCommand(Curl("--digest -u root:system", f.Http("/set.oid?OidTR1.9.10=Xy7pQ2")));
  EXPECT_EQ(Status(post + " -u audio:plume", f.Http("/audiorx.cgi")), "401");
  EXPECT_EQ(Status(post + " -u audio:Xy7pQ2", f.Http("/audiorx.cgi")), "200");
  EXPECT_EQ(Status(post + " --digest -u audio:Xy7pQ2", f.Http("/audiorx.cgi")), "200");
  EXPECT_EQ(f.cam().audio_bytes_total(), 32000u);
}

TEST(CamsimInteropTest, FaultsAsRealClientsSeeThem) {
  RequireTool("curl");
  Fixture f(AuthMode::kBasic);
  const std::string oid = f.Http("/get.oid?2.8");
  f.cam().InjectFault({Fault::Kind::kAlwaysUnauthorized, 0});
  EXPECT_EQ(Status("-u root:system", oid), "401");
  f.cam().ClearFaults();
  f.cam().InjectFault({Fault::Kind::kHttpStatus, 500});
  EXPECT_EQ(Status("-u root:system", oid), "500");
  f.cam().ClearFaults();
  f.cam().InjectFault({Fault::Kind::kGarbledReplies, 0});
  EXPECT_NE(RunCommand(Curl("-u root:system", oid)).exit_code, 0);
  f.cam().ClearFaults();
  EXPECT_EQ(Status("-u root:system", oid), "200");
}

// The command-line program as a script would use it: free ports printed on
// stdout, a fault from the command line, faults switched through stdin.
TEST(CamsimInteropTest, CommandLineProgramPrintsPortsAndTakesFaults) {
  RequireTool("curl");
  int in_pipe[2], out_pipe[2];
  ASSERT_EQ(::pipe(in_pipe), 0);
  ASSERT_EQ(::pipe(out_pipe), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_addclose(&actions, in_pipe[1]);
  posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
  std::vector<std::string> args = {CAMSIM_BINARY, "--model",   "IQ031",     "--auth",
                                   "basic",       "--user",    "admin",     "--password",
                                   "pw",          "--cameras", "2",         "--fault",
                                   "status=404",  "--quiet",   "--seconds", "60"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, CAMSIM_BINARY, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  FILE* out = ::fdopen(out_pipe[0], "r");
  unsigned http[2] = {}, rtsp[2] = {};
  char line[128];
  for (int i = 0; i < 2; ++i) {
    ASSERT_NE(std::fgets(line, sizeof(line), out), nullptr);
    ASSERT_EQ(std::sscanf(line, "http=%u rtsp=%u", &http[i], &rtsp[i]), 2) << line;
  }
  EXPECT_NE(http[0], http[1]);
  const std::string oid = "http://127.0.0.1:" + std::to_string(http[1]) + "/get.oid?2.8";
  EXPECT_EQ(Status("-u admin:pw", oid), "404");
  ASSERT_EQ(::write(in_pipe[1], "clear\n", 6), 6);
  bool cleared = false;
  for (int i = 0; i < 50 && !cleared; ++i) cleared = Status("-u admin:pw", oid) == "200";
  EXPECT_TRUE(cleared);
  EXPECT_NE(RunCommand(Curl("-u admin:pw", oid)).output.find("<xmp>IQ031</xmp>"),
            std::string::npos);
  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::fclose(out);
  ::close(in_pipe[1]);
}

}  // namespace
}  // namespace camsim
