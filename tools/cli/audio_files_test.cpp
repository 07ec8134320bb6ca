#include "audio_files.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace veltrano_cli {
namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint16_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void Put32(Bytes& b, uint32_t v) {
  b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}
void Tag(Bytes& b, const char* t) {
  b.insert(b.end(), {uint8_t(t[0]), uint8_t(t[1]), uint8_t(t[2]), uint8_t(t[3])});
}

// A WAV file: fmt chunk (extensible when `sub_format` is set), then data.
Bytes Wav(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data,
          uint16_t sub_format = 0) {
  Bytes fmt;
  Put16(fmt, sub_format != 0 ? 0xFFFE : format);
  Put16(fmt, channels);
  Put32(fmt, rate);
  Put32(fmt, rate * channels * bits / 8);
  Put16(fmt, uint16_t(channels * bits / 8));
  Put16(fmt, bits);
  if (sub_format != 0) {
    Put16(fmt, 22);          // extra bytes
    Put16(fmt, bits);        // valid bits
    Put32(fmt, 4);           // channel mask
    Put16(fmt, sub_format);  // sub-format GUID, first two bytes
    fmt.insert(fmt.end(), 14, 0);
  }
  Bytes b;
  Tag(b, "RIFF");
  Put32(b, uint32_t(4 + 8 + fmt.size() + 8 + data.size()));
  Tag(b, "WAVE");
  Tag(b, "fmt ");
  Put32(b, uint32_t(fmt.size()));
  b.insert(b.end(), fmt.begin(), fmt.end());
  Tag(b, "data");
  Put32(b, uint32_t(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

TEST(AudioFilesTest, MuLawOfTheExtremes) {
  EXPECT_EQ(LinearToMuLaw(0), 0xFF);
  EXPECT_EQ(LinearToMuLaw(-1), 0x7F);
  EXPECT_EQ(LinearToMuLaw(32767), 0x80);
  EXPECT_EQ(LinearToMuLaw(-32768), 0x00);
}

TEST(AudioFilesTest, TalkFilesAreTakenOrRefusedWithTheReason) {
  const Bytes pcm = {0x00, 0x00, 0xFF, 0x7F, 0x00, 0x80};  // 0, 32767, -32768
  const Bytes mulaw = {0xFF, 0x80, 0x00};
  const std::string taken(mulaw.begin(), mulaw.end());
  struct Case {
    const char* name;
    Bytes file;
    bool taken;
    std::string result;  // the bytes taken, or a part of the refusal
  };
  const Case cases[] = {
      {"raw.ul", {1, 2, 3}, true, "\x01\x02\x03"},
      {"ulaw.wav", Wav(7, 1, 8000, 8, mulaw), true, taken},
      {"pcm.wav", Wav(1, 1, 8000, 16, pcm), true, taken},
      {"ext.WAV", Wav(0, 1, 8000, 16, pcm, 1), true, taken},
      {"written.wav",
       [&] {
         Bytes b = MuLawWavHeader(3);
         b.insert(b.end(), mulaw.begin(), mulaw.end());
         return b;
       }(),
       true, taken},
      {"wide.wav", Wav(1, 1, 16000, 16, pcm), false,
       "wide.wav: 16000 Hz, 1 channel(s), 16-bit PCM is not taken; talk-back needs 8000 Hz mono, "
       "8-bit mu-law or 16-bit PCM"},
      {"stereo.wav", Wav(1, 2, 8000, 16, pcm), false, "2 channel(s)"},
      {"pcm8.wav", Wav(1, 1, 8000, 8, mulaw), false, "8-bit PCM is not taken"},
      {"alaw.wav", Wav(6, 1, 8000, 8, mulaw), false, "8-bit format 6 is not taken"},
      {"cut.wav",
       [&] {
         Bytes b = Wav(1, 1, 8000, 16, pcm);
         b.resize(b.size() - 1);
         return b;
       }(),
       false, "cut.wav: a chunk runs past the end of the file"},
      {"text.wav", {'h', 'e', 'l', 'l', 'o'}, false, "text.wav: not a RIFF/WAVE file"},
  };
  for (const Case& c : cases) {
    Bytes out;
    std::string error;
    EXPECT_EQ(DecodeTalkFile(c.name, c.file, out, error), c.taken) << c.name;
    if (c.taken) {
      EXPECT_EQ(std::string(out.begin(), out.end()), c.result) << c.name;
    } else {
      EXPECT_NE(error.find(c.result), std::string::npos) << c.name << ": " << error;
    }
  }
}

}  // namespace
}  // namespace veltrano_cli
