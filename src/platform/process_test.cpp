#include "platform/process.h"

#include <gtest/gtest.h>
#include <unistd.h>

// The test binary plays the host: it exports the version function (the target
// is linked with exported symbols).
extern "C" __attribute__((visibility("default"))) void korvela_recorder_core_version(
    uint16_t out[4]) {
  out[0] = 6;
  out[1] = 3;
  out[2] = 1234;
  out[3] = 7;
}

namespace korvela::platform {
namespace {

TEST(ProcessTest, ExecutableFolderIsTheFolderOfThisBinary) {
  std::string path = ExecutablePath();
  std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(path.rfind(folder, 0), 0u);
  EXPECT_EQ(path.substr(folder.size()), "korvela_platform_test");
  EXPECT_EQ(::access(path.c_str(), X_OK), 0);
}

TEST(ProcessTest, RecorderVersionComesFromTheHostExport) {
  uint16_t v[4] = {9, 9, 9, 9};
  ASSERT_TRUE(ReadRecorderCoreVersion(v));
  EXPECT_EQ(v[0], 6);
  EXPECT_EQ(v[1], 3);
  EXPECT_EQ(v[2], 1234);
  EXPECT_EQ(v[3], 7);
}

TEST(ProcessTest, MissingVersionExportIsUnreadableAndZeroes) {
  uint16_t v[4] = {9, 9, 9, 9};
  EXPECT_FALSE(ReadVersionFromSymbol("korvela_no_such_version_function", v));
  EXPECT_EQ(v[0] | v[1] | v[2] | v[3], 0);
  EXPECT_FALSE(ReadVersionFromSymbol(nullptr, v));
  EXPECT_GE(ProcessorCount(), 1u);
}

}  // namespace
}  // namespace korvela::platform
