// `veltrano record --audio` run as a field engineer runs it, against the
// camera simulator (the demo runs `talk` on what it records).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "camsim/camsim.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[512];
  for (size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  if (pipe != nullptr && pclose(pipe) != 0) out += "\nexit status not 0";
  return out;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(AudioCliTest, RecordWritesTheMicrophoneBesideTheVideo) {
  std::string error;
  auto sim = camsim::Simulator::Start(camsim::SimulatorOptions(), &error);
  ASSERT_TRUE(sim) << error;
  const std::string dir = ::testing::TempDir() + "/audio_cli";
  std::filesystem::remove_all(dir);
  const std::string out = Output(std::string(VELTRANO_PROGRAM) +
                                 " record --host 127.0.0.1 --user root --password system --port " +
                                 std::to_string(sim->camera(0).http_port()) +
                                 " --stream mjpeg --seconds 3 --audio --wav --json --out " + dir);
  const auto json = nlohmann::json::parse(out, nullptr, /*allow_exceptions=*/false);
  ASSERT_FALSE(json.is_discarded()) << out;
  const Bytes ul = ReadFile(dir + "/audio.ul");
  ASSERT_GE(ul.size(), 8000u);  // at least 1 s of the 3
  // The simulator's microphone: its sample file, looped from the start.
  const Bytes tone = ReadFile(std::string(KORVELA_TESTDATA_DIR) + "/tone_440hz_8k.ul");
  for (size_t i = 0; i < ul.size(); ++i) ASSERT_EQ(ul[i], tone[i % tone.size()]) << i;
  const Bytes wav = ReadFile(dir + "/audio.wav");
  ASSERT_EQ(wav.size(), 58 + ul.size());
  EXPECT_EQ(Bytes(wav.begin() + 58, wav.end()), ul);
  EXPECT_EQ(Output("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of "
                   "csv=p=0 " +
                   dir + "/audio.wav"),
            "pcm_mulaw,8000,1\n");
  const auto& audio = json.at("audio");
  EXPECT_EQ(audio.at("bytes"), ul.size());
  EXPECT_EQ(audio.at("frames"), ul.size() / 800);
  EXPECT_GT(audio.at("firstFrameMs"), 0);
  EXPECT_EQ(audio.at("signalLost"), 0);
  EXPECT_EQ(audio.at("states").at(1).at("state"), 2);
}

}  // namespace
