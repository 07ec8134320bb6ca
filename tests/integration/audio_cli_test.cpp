// `veltrano talk` and `veltrano record --audio` run as a field engineer runs
// them, against the camera simulator; ffmpeg makes the sound and, for the
// PCM file, the reference mu-law bytes.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include "camsim/camsim.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct CliRun {
  int exit_code = -1;
  std::string out;
};

// Runs `command` (stderr with stdout) and returns its exit code and output.
CliRun Shell(const std::string& command) {
  CliRun run;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 512> buffer;
  for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
    run.out.append(buffer.data(), n);
  const int status = pclose(pipe);
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  return run;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct AudioCliFixture : ::testing::Test {
  void SetUp() override {
    camsim::SimulatorOptions options;
    options.camera.auth = camsim::AuthMode::kDigest;
    std::string error;
    simulator = camsim::Simulator::Start(options, &error);
    ASSERT_NE(simulator, nullptr) << error;
    dir = ::testing::TempDir() + "/audio_cli_" + std::to_string(::getpid());
    ASSERT_EQ(Shell("rm -rf " + dir + " && mkdir -p " + dir).exit_code, 0);
  }
  std::string Veltrano(const std::string& command) {
    return std::string(VELTRANO_PROGRAM) + " " + command + " --host 127.0.0.1 --port " +
           std::to_string(camera().http_port()) + " --user root --password system";
  }
  camsim::Camera& camera() { return simulator->camera(0); }
  std::unique_ptr<camsim::Simulator> simulator;
  std::string dir;
};

// G.711 mu-law decoding (the standard expansion, interval midpoints).
int MuLawToLinear(uint8_t code) {
  code = static_cast<uint8_t>(~code);
  const int exponent = (code >> 4) & 7;
  const int magnitude = (((code & 0x0F) << 3) + 0x84) << exponent;
  return (code & 0x80) != 0 ? 0x84 - magnitude : magnitude - 0x84;
}

// A mu-law WAV goes out unchanged; a 16-bit PCM WAV goes out as mu-law within
// one quantisation step of each sample (encoders may round or truncate).
TEST_F(AudioCliFixture, TalkPlaysWavFilesAsMuLaw) {
  const std::string sine =
      "ffmpeg -v error -f lavfi -i sine=frequency=300:sample_rate=8000:duration=2 -ac 1 ";
  ASSERT_EQ(Shell(sine + "-c:a pcm_mulaw " + dir + "/ulaw.wav").exit_code, 0);
  ASSERT_EQ(Shell(sine + "-f mulaw " + dir + "/tone.ul").exit_code, 0);
  ASSERT_EQ(Shell(sine + "-c:a pcm_s16le " + dir + "/pcm.wav").exit_code, 0);
  ASSERT_EQ(Shell(sine + "-f s16le " + dir + "/pcm.raw").exit_code, 0);

  CliRun run = Shell(Veltrano("talk --file " + dir + "/ulaw.wav"));
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_NE(run.out.find("state 1 starting\nstate 2 sending\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("sent 16000 bytes"), std::string::npos) << run.out;
  EXPECT_EQ(camera().audio_received(), ReadFile(dir + "/tone.ul"));

  camera().ClearRecords();
  run = Shell(Veltrano("talk --file " + dir + "/pcm.wav"));
  EXPECT_EQ(run.exit_code, 0) << run.out;
  const Bytes sent = camera().audio_received();
  const Bytes pcm = ReadFile(dir + "/pcm.raw");
  ASSERT_EQ(sent.size() * 2, pcm.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    const int sample = static_cast<int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
    ASSERT_LE(std::abs(MuLawToLinear(sent[i]) - sample), (std::abs(sample) + 0x84) / 16) << i;
  }

  ASSERT_EQ(Shell("ffmpeg -v error -f lavfi -i sine=sample_rate=44100:duration=1 -ac 2 -c:a "
                  "pcm_s16le " +
                  dir + "/stereo.wav")
                .exit_code,
            0);
  const CliRun refused = Shell(Veltrano("talk --file " + dir + "/stereo.wav"));
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_NE(refused.out.find("44100 Hz, 2 channel(s), 16-bit PCM is not taken"), std::string::npos)
      << refused.out;
}

TEST_F(AudioCliFixture, RecordWritesTheAudioBesideTheVideo) {
  const CliRun run =
      Shell(Veltrano("record --stream mjpeg --seconds 3 --audio --wav --json --out " + dir));
  ASSERT_EQ(run.exit_code, 0) << run.out;
  const Bytes ul = ReadFile(dir + "/audio.ul");
  ASSERT_GE(ul.size(), 8000u);  // at least 1 s of the 3
  // The simulator's microphone: its sample file looped from the start.
  const Bytes tone = ReadFile(std::string(KORVELA_TESTDATA_DIR) + "/tone_440hz_8k.ul");
  for (size_t i = 0; i < ul.size(); ++i) ASSERT_EQ(ul[i], tone[i % tone.size()]) << i;
  const Bytes wav = ReadFile(dir + "/audio.wav");
  ASSERT_EQ(wav.size(), 58 + ul.size());
  EXPECT_EQ(Bytes(wav.begin() + 58, wav.end()), ul);
  EXPECT_EQ(
      Shell("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 " +
            dir + "/audio.wav")
          .out,
      "pcm_mulaw,8000,1\n");

  const auto json = nlohmann::json::parse(run.out.substr(run.out.rfind("\n{") + 1));
  const auto& audio = json.at("audio");
  EXPECT_EQ(audio.at("bytes"), ul.size());
  EXPECT_EQ(audio.at("frames"), ul.size() / 800);
  EXPECT_GT(audio.at("firstFrameMs"), 0);
  EXPECT_EQ(audio.at("signalLost"), 0);
  EXPECT_EQ(audio.at("states").at(0).at("state"), 1);
  EXPECT_EQ(audio.at("states").at(1).at("state"), 2);
}

}  // namespace
