#include "channels/audio_options.h"

#include <string>

#include <gtest/gtest.h>

namespace korvela {
namespace {

// Talk-back options: the reply to 1.17.1.2&1.9.6&1.9.7&1.9.10 decides the bit
// rate and the writes (password "Pw" when the camera has one), or names the
// option the camera lacks.
TEST(AudioOptionsTest, OutputOptionsAreReadAndTurnedIntoWrites) {
  struct Case {
    const char* reply;
    uint32_t bit_rate;
    const char* writes_or_missing;
  };
  const Case cases[] = {
      {"1.17.1.2=64\n1.9.6=enabled\n1.9.7=full\n", 64000, ""},
      {"1.17.1.2=64\n1.9.6=disabled\n1.9.7=half\n1.9.10=plume\n", 64000,
       "OidTR1.9.6=enabled&OidTR1.9.7=full&OidTR1.9.10=Pw"},
      {"1.17.1.2=-8\n1.9.6=enabled\n1.9.7=full\n1.9.10=a\n", 0, "OidTR1.9.10=Pw"},
      {"1.9.6=enabled\n1.9.7=full\n", 0, "\"Audio Bitrate\" option (OID=1.17.1.2)"},
      {"1.17.1.2=64\n1.9.7=full\n", 64000, "\"Audio Output State\" option (OID=1.9.6)"},
      {"1.17.1.2=64\n1.9.6=enabled\n", 64000, "\"Audio Duplex Mode\" option (OID=1.9.7)"},
  };
  for (const Case& c : cases) {
    AudioOutputOptions options;
    const Web::CResultDef result =
        ParseAudioOutputOptions(c.reply, "o", "IQ765", "10.0.0.9", options);
    EXPECT_EQ(options.bit_rate, c.bit_rate) << c.reply;
    const std::string outcome =
        result.Succeeded() ? BuildOutputOptionWrites(options, options.password.empty() ? "" : "Pw")
                           : result.message;
    const std::string missing = std::string("o: the IQ765 device (IP=10.0.0.9) doesn't support ");
    EXPECT_EQ(outcome, (result.Succeeded() ? "" : missing) + c.writes_or_missing) << c.reply;
  }
}

}  // namespace
}  // namespace korvela
