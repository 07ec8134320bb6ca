#include "channels/audio_options.h"

#include <string>

#include <gtest/gtest.h>

namespace korvela {
namespace {

TEST(AudioOptionsTest, InputWritesEnableTheMicrophoneAndFullDuplex) {
  struct Case {
    const char* reply;
    const char* writes;
  };
  const Case cases[] = {
      {"1.9.5=enabled\n1.9.7=full\n", ""},
      {"1.9.5=disabled\n1.9.7=half\n", "OidTR1.9.5=enabled&OidTR1.9.7=full"},
      {"1.9.5=enabled\n", ""},  // no duplex mode: nothing to switch
      {"1.9.5=off\r\n1.9.7=full\r\n", "OidTR1.9.5=enabled"},
      {"1.9.5=enabled\n1.9.7=half\n", "OidTR1.9.7=full"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BuildInputOptionWrites(AudioOidValue(c.reply, kOidAudioInputState),
                                     AudioOidValue(c.reply, kOidAudioDuplexMode)),
              c.writes)
        << c.reply;
  }
}

TEST(AudioOptionsTest, OutputOptionsAreReadAndTurnedIntoWrites) {
  struct Case {
    const char* reply;
    uint32_t code;
    const char* missing;  // option named in the failure message
    uint32_t bit_rate;
    const char* writes;  // with the password "Pw12345678"
  };
  const Case cases[] = {
      {"1.17.1.2=64\n1.9.6=enabled\n1.9.7=full\n", 0, "", 64000, ""},
      {"1.17.1.2=64\n1.9.6=disabled\n1.9.7=half\n1.9.10=plume\n", 0, "", 64000,
       "OidTR1.9.6=enabled&OidTR1.9.7=full&OidTR1.9.10=Pw12345678"},
      {"1.17.1.2=x\n1.9.6=enabled\n1.9.7=full\n1.9.10=a\n", 0, "", 0, "OidTR1.9.10=Pw12345678"},
      {"1.17.1.2=-8\n1.9.6=enabled\n1.9.7=full\n", 0, "", 0, ""},
      {"1.9.6=enabled\n1.9.7=full\n", 2, "\"Audio Bitrate\" option (OID=1.17.1.2)", 0, ""},
      {"1.17.1.2=64\n1.9.7=full\n", 2, "\"Audio Output State\" option (OID=1.9.6)", 64000, ""},
      {"1.17.1.2=64\n1.9.6=enabled\n", 2, "\"Audio Duplex Mode\" option (OID=1.9.7)", 64000, ""},
  };
  for (const Case& c : cases) {
    AudioOutputOptions options;
    const Web::CResultDef result =
        ParseAudioOutputOptions(c.reply, "origin", "IQ765", "10.0.0.9", options);
    EXPECT_EQ(result.code, c.code) << c.reply;
    EXPECT_EQ(options.bit_rate, c.bit_rate) << c.reply;
    if (c.code != 0) {
      EXPECT_EQ(result.level, 1u);
      EXPECT_EQ(result.message,
                std::string("origin: the IQ765 device (IP=10.0.0.9) doesn't support ") + c.missing)
          << c.reply;
      continue;
    }
    const std::string password = options.password.empty() ? "" : "Pw12345678";
    EXPECT_EQ(BuildOutputOptionWrites(options, password), c.writes) << c.reply;
  }
}

}  // namespace
}  // namespace korvela
