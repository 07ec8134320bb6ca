#include "options.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace veltrano_cli {
namespace {

// Parses `args` as the device options of one command; true when accepted.
bool Parse(std::vector<std::string> args, DeviceOptions* out) {
  CLI::App app;
  AddDeviceOptions(app, *out);
  std::reverse(args.begin(), args.end());
  try {
    app.parse(args);
    return true;
  } catch (const CLI::ParseError&) {
    return false;
  }
}

TEST(DeviceOptionsTest, AcceptsWhatScriptsPassAndRefusesTheRest) {
  struct Case {
    std::vector<std::string> args;
    bool accepted;
  };
  const Case cases[] = {
      {{"--host", "cam", "--port", "8080"}, true},
      {{"--host=cam", "--port=080"}, true},  // decimal, not octal
      {{"--port", "80"}, false},             // --host is required
      {{"--host", ""}, false},
      {{"--host", "cam", "--port", "0"}, false},
      {{"--host", "cam", "--port", "65536"}, false},
      {{"--host", "cam", "--port", "0x50"}, false},
      {{"--host", "cam", "--port", "+80"}, false},
      {{"--host", "cam", "--host", "other"}, false},
      {{"--host", "cam", "--param", "0=x"}, false},  // parameters count from 1
      {{"--host", "cam", "--param", "7"}, false},
      {{"--host", "cam", "--param", "1=0", "7=1"}, false},  // one item per --param
      {{"--host", "cam", "--bogus"}, false},
      {{"--host", "cam", "positional"}, false},
  };
  for (const Case& c : cases) {
    DeviceOptions options;
    EXPECT_EQ(Parse(c.args, &options), c.accepted) << testing::PrintToString(c.args);
  }
}

TEST(DeviceOptionsTest, ValuesArriveAsGiven) {
  ::setenv("VELTRANO_PASSWORD", "from-env", 1);
  DeviceOptions options;
  ASSERT_TRUE(Parse({"--host", "cam", "--port", "080", "--user", "root", "--param", "1=0",
                     "--param", "4=a=b", "--param", "1=", "--param", "101=Count=1; IsStereo=0"},
                    &options));
  EXPECT_EQ(options.port, 80);
  EXPECT_EQ(options.user, "root");
  EXPECT_EQ(options.password, "from-env");
  const std::map<uint32_t, std::string> want = {
      {1, ""}, {4, "a=b"}, {101, "Count=1; IsStereo=0"}};  // the later --param 1 wins
  EXPECT_EQ(options.params, want);

  DeviceOptions given;
  ASSERT_TRUE(Parse({"--host", "cam", "--password", "-dash"}, &given));
  EXPECT_EQ(given.password, "-dash");  // the command line wins over the environment
  ::unsetenv("VELTRANO_PASSWORD");
}

TEST(ParseSizeTest, WidthAndHeightFrom1To65535) {
  uint32_t w = 0, h = 0;
  EXPECT_TRUE(ParseSize("1280x1024", &w, &h));
  EXPECT_EQ(w, 1280u);
  EXPECT_EQ(h, 1024u);
  for (const char* bad :
       {"", "1280", "x1024", "1280x", "0x480", "640x65536", "640X480", "64 0x480"})
    EXPECT_FALSE(ParseSize(bad, &w, &h)) << bad;
}

}  // namespace
}  // namespace veltrano_cli
