#include "base/xml_settings_api.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "base/falo_file_base.h"
#include "platform/process.h"

namespace korvela {
namespace {

namespace fs = std::filesystem;
constexpr int32_t kFail = static_cast<int32_t>(0x80004005);

struct TempFolder {
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "korvela_settings_XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    path = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  void Write(const std::string& content) const {
    std::ofstream(fs::path(path) / "IQEye.xml", std::ios::binary | std::ios::trunc) << content;
  }
  std::string path;
};

std::string Read(CXMLSettingsAPI& settings, const char* path) {
  std::string value = "stale";
  settings.GetValue(value, "%s", path);
  return value;
}

TEST(CXMLSettingsAPITest, UnusableFilesFailWithGenericFailureAndReadNothing) {
  const char* contents[] = {nullptr,                             // no file at all
                            "",                                  // zero bytes
                            "<root><CCFIA value=\"1\"></root>",  // not well-formed
                            "   \n",                             // no document element
                            "garbage"};
  for (const char* content : contents) {
    TempFolder folder;
    if (content != nullptr) folder.Write(content);
    CXMLSettingsAPI settings;
    settings.SetSettingsFolder(folder.path);
    SCOPED_TRACE(content ? content : "(missing)");
    EXPECT_EQ(settings.Open(), kFail);
    EXPECT_EQ(settings.GetOpenCount(), 0u);
    std::string value = "stale";
    EXPECT_FALSE(settings.GetValue(value, "root/CCFIA"));
    EXPECT_EQ(value, "");
  }
}

TEST(CXMLSettingsAPITest, ReadsTheValueAttributeByElementPath) {
  TempFolder folder;
  folder.Write(
      "<?xml version=\"1.0\"?>\n<root>\n  <CCFIA value=\"1\"/>\n  <Other/>\n"
      "  <Nested><Deep value=\" spaced \"/></Nested>\n</root>\n");
  CXMLSettingsAPI settings;
  settings.SetSettingsFolder(folder.path + "/");  // with and without the slash alike
  ASSERT_EQ(settings.Open(), CXMLSettingsAPI::kResultOk);
  EXPECT_EQ(settings.GetFilePath(), folder.path + "/IQEye.xml");
  EXPECT_EQ(Read(settings, "root/CCFIA"), "1");
  EXPECT_EQ(Read(settings, "root/Nested/Deep"), " spaced ");
  EXPECT_EQ(Read(settings, "root/Other"), "") << "element without a value attribute";
  EXPECT_EQ(Read(settings, "root/Missing"), "");
  EXPECT_EQ(Read(settings, "CCFIA"), "") << "paths start at the document";
  EXPECT_EQ(Read(settings, "root/[["), "") << "a broken path selects nothing";
  std::string value;
  EXPECT_TRUE(settings.GetValue(value, "root/%s", "CCFIA"));
  EXPECT_EQ(value, "1");
  // Longer than the path buffer: cut, not overrun.
  const std::string long_name(3000, 'a');
  EXPECT_FALSE(settings.GetValue(value, "root/%s", long_name.c_str()));
}

TEST(CXMLSettingsAPITest, NestedOpensLoadOnceAndTheLastCloseReleases) {
  TempFolder folder;
  folder.Write("<root><CCFIA value=\"1\"/></root>");
  CXMLSettingsAPI settings;
  settings.SetSettingsFolder(folder.path);
  ASSERT_EQ(settings.Open(), 0);
  folder.Write("<root><CCFIA value=\"2\"/></root>");
  ASSERT_EQ(settings.Open(), 0);
  EXPECT_EQ(settings.GetOpenCount(), 2u);
  EXPECT_EQ(Read(settings, "root/CCFIA"), "1") << "the file is read once per open";
  EXPECT_EQ(settings.Close(), 1u);
  EXPECT_EQ(Read(settings, "root/CCFIA"), "1");
  EXPECT_EQ(settings.Close(), 0u);
  EXPECT_EQ(Read(settings, "root/CCFIA"), "");
  EXPECT_EQ(settings.Close(), 0u) << "the count does not go below zero";
  ASSERT_EQ(settings.Open(), 0);
  EXPECT_EQ(Read(settings, "root/CCFIA"), "2");
}

TEST(CXMLSettingsAPITest, DefaultFolderIsTheExecutablesFolder) {
  const std::string folder = platform::ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  const std::string file = folder + "IQEye.xml";
  ASSERT_FALSE(fs::exists(file)) << "left over from another run";
  {
    CXMLSettingsAPI settings;
    EXPECT_EQ(settings.Open(), kFail);
  }
  std::ofstream(file) << "<root><CCFIA value=\"1\"/></root>";
  CXMLSettingsAPI settings;
  const int32_t result = settings.Open();
  const std::string value = Read(settings, "root/CCFIA");
  fs::remove(file);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(settings.GetFilePath(), file);
  EXPECT_EQ(value, "1");
}

TEST(CFaloFileBaseTest, OpensExistingRegularFilesOnly) {
  TempFolder folder;
  CFaloFileBase file;
  EXPECT_FALSE(file.Open(nullptr));
  EXPECT_FALSE(file.Open(""));
  EXPECT_FALSE(file.WasOpened());
  EXPECT_FALSE(file.Open((folder.path + "/none.xml").c_str()));
  EXPECT_TRUE(file.WasOpened());
  EXPECT_FALSE(fs::exists(folder.path + "/none.xml")) << "opening never creates";
  ASSERT_TRUE(file.Open(folder.path.c_str()));
  EXPECT_EQ(file.GetSize(), -1) << "a folder is no settings file";
  folder.Write("12345");
  ASSERT_TRUE(file.Open((folder.path + "/IQEye.xml").c_str()));
  EXPECT_EQ(file.GetSize(), 5);
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.GetSize(), -1);
}

}  // namespace
}  // namespace korvela
