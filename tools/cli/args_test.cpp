// Option parsing of the veltrano commands: what a user can type and what is
// refused with a message.
#include "args.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace veltrano_cli {
namespace {

ArgParser RecordParser() {
  ArgParser p;
  AddDeviceOptions(p);
  p.Option("seconds", "how long", "10")
      .Flag("json", "machine-readable")
      .Option("stream", "mjpeg|h264", "mjpeg");
  return p;
}

TEST(ArgParser, ValuesFlagsRepeatsAndDefaults) {
  ArgParser p = RecordParser();
  ASSERT_TRUE(p.Parse({"--host", "10.0.0.5", "--port=8080", "--json", "--param", "1=0",
                       "--param=7=01", "--param", "4="}))
      << p.error();
  DeviceOptions o;
  std::string error;
  ASSERT_TRUE(ReadDeviceOptions(p, &o, &error)) << error;
  EXPECT_EQ(o.host, "10.0.0.5");
  EXPECT_EQ(o.port, 8080);
  EXPECT_TRUE(p.Has("json"));
  EXPECT_FALSE(p.Has("seconds"));
  EXPECT_EQ(p.Get("stream"), "mjpeg");
  uint64_t seconds = 0;
  EXPECT_TRUE(p.GetUint("seconds", 1, 3600, &seconds));
  EXPECT_EQ(seconds, 10u);
  EXPECT_EQ(o.params, (std::map<uint32_t, std::string>{{1, "0"}, {4, ""}, {7, "01"}}));
}

TEST(ArgParser, RefusesWhatItDoesNotKnow) {
  struct Case {
    std::vector<std::string> args;
    const char* message_part;
  };
  const Case cases[] = {
      {{"--hots", "x"}, "unknown option '--hots'"},
      {{"--host"}, "needs a value"},
      {{"--json=1"}, "takes no value"},
      {{"--host", "a", "--host", "b"}, "given twice"},
      {{"stray"}, "unexpected argument"},
      {{"-x"}, "unexpected argument"},
  };
  for (const auto& c : cases) {
    ArgParser p = RecordParser();
    EXPECT_FALSE(p.Parse(c.args));
    EXPECT_NE(p.error().find(c.message_part), std::string::npos) << p.error();
  }
}

TEST(ArgParser, NumbersAreStrictAndRanged) {
  for (const char* bad : {"", "12x", "-1", "+1", " 1", "0", "3601", "99999999999999999999999"}) {
    ArgParser p = RecordParser();
    ASSERT_TRUE(p.Parse({"--seconds", bad}));
    uint64_t v = 0;
    EXPECT_FALSE(p.GetUint("seconds", 1, 3600, &v)) << bad;
  }
  ArgParser p = RecordParser();
  ASSERT_TRUE(p.Parse({"--seconds", "3600"}));
  uint64_t v = 0;
  EXPECT_TRUE(p.GetUint("seconds", 1, 3600, &v));
  EXPECT_EQ(v, 3600u);
  double d = 0;
  EXPECT_FALSE(p.GetDouble("stream", 0, 10, &d));
}

TEST(DeviceOptions, HostRequiredPortRangedParamsWellFormed) {
  std::string error;
  DeviceOptions o;
  {
    ArgParser p = RecordParser();
    ASSERT_TRUE(p.Parse({"--port", "80"}));
    EXPECT_FALSE(ReadDeviceOptions(p, &o, &error));
    EXPECT_NE(error.find("--host"), std::string::npos);
  }
  {
    ArgParser p = RecordParser();
    ASSERT_TRUE(p.Parse({"--host", "h", "--port", "65536"}));
    EXPECT_FALSE(ReadDeviceOptions(p, &o, &error));
  }
  for (const char* bad : {"7", "=1", "0=1", "x=1"}) {
    ArgParser p = RecordParser();
    ASSERT_TRUE(p.Parse({"--host", "h", "--param", bad}));
    EXPECT_FALSE(ReadDeviceOptions(p, &o, &error)) << bad;
  }
}

TEST(DeviceOptions, PasswordFromEnvironmentUnlessGiven) {
  ::setenv("VELTRANO_PASSWORD", "from-env", 1);
  DeviceOptions o;
  std::string error;
  ArgParser p = RecordParser();
  ASSERT_TRUE(p.Parse({"--host", "h"}));
  ASSERT_TRUE(ReadDeviceOptions(p, &o, &error));
  EXPECT_EQ(o.password, "from-env");
  ArgParser q = RecordParser();
  ASSERT_TRUE(q.Parse({"--host", "h", "--password", "given"}));
  ASSERT_TRUE(ReadDeviceOptions(q, &o, &error));
  EXPECT_EQ(o.password, "given");
  ::unsetenv("VELTRANO_PASSWORD");
}

}  // namespace
}  // namespace veltrano_cli
