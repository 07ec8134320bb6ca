// libveltrano.so as a recorder sees it: loaded with dlopen, exactly the
// sixteen exports, every create/delete pairing, and an Open whose log line
// reaches the recorder's sink at the level its core version asks for.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <elf.h>
#include <gtest/gtest.h>

#include "cli/host.h"
#include "recorder/core_version.h"
#include "recorder/debug_sink.h"
#include "recorder/device_setup.h"
#include "recorder/driver_library.h"
#include "recorder/frame_allocator.h"
#include "recorder/video_params.h"

namespace korvela::recorder {
namespace {

using namespace std::chrono_literals;

// The defined global symbols of a shared object's dynamic symbol table (what
// `nm -D --defined-only` lists), read straight from the ELF64 file.
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (file.size() < sizeof(Elf64_Ehdr)) return names;
  Elf64_Ehdr eh;
  std::memcpy(&eh, file.data(), sizeof eh);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64)
    return names;
  auto section = [&](size_t i) {
    Elf64_Shdr sh{};
    const size_t off = eh.e_shoff + i * eh.e_shentsize;
    if (off + sizeof sh <= file.size()) std::memcpy(&sh, file.data() + off, sizeof sh);
    return sh;
  };
  for (size_t i = 0; i < eh.e_shnum; ++i) {
    const Elf64_Shdr dynsym = section(i);
    if (dynsym.sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr strtab = section(dynsym.sh_link);
    for (size_t off = dynsym.sh_offset;
         off + sizeof(Elf64_Sym) <= dynsym.sh_offset + dynsym.sh_size; off += sizeof(Elf64_Sym)) {
      Elf64_Sym sym;
      std::memcpy(&sym, file.data() + off, sizeof sym);
      const int bind = ELF64_ST_BIND(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
      if (strtab.sh_offset + sym.st_name >= file.size()) continue;
      names.insert(file.data() + strtab.sh_offset + sym.st_name);
    }
  }
  return names;
}

class DriverLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.Load()) << library_.error();
    SetRecorderCoreVersion(kReferenceCoreVersion);
  }
  void TearDown() override { SetRecorderCoreVersion(kReferenceCoreVersion); }

  DriverLibrary library_;
};

TEST_F(DriverLibraryTest, ExportsExactlyTheSixteenFunctions) {
  const auto& names = DriverLibrary::ExportNames();
  for (const auto& name : names) EXPECT_NE(library_.Symbol(name.c_str()), nullptr) << name;
  const std::set<std::string> expected(names.begin(), names.end());
  EXPECT_EQ(DefinedDynamicSymbols(library_.path()), expected);
  // Nothing of the inside is reachable, e.g. the driver class's vtable.
  EXPECT_EQ(library_.Symbol("_ZTVN7korvela22CQuarnoIPCaptureDriverE"), nullptr);
}

TEST_F(DriverLibraryTest, EveryCreateFunctionPairsWithEveryDeleteFunction) {
  for (int create = 0; create <= 4; ++create) {
    for (int destroy = 0; destroy <= 4; ++destroy) {
      DriverHandle driver(library_.exports(), create, destroy);
      ASSERT_TRUE(driver) << create;
      // A closed driver has nothing yet.
      EXPECT_EQ(driver->GetVideoCapture(), nullptr);
      EXPECT_EQ(driver->GetAudioCapture2(), nullptr);
    }
  }
  library_.exports().DeleteIPCapture(nullptr);  // ignored
  library_.exports().DeleteIPCaptureEx4(nullptr);
}

TEST_F(DriverLibraryTest, OpenReportsDriverIsOpenedToTheSink) {
  DebugSink sink;
  FrameAllocator allocator;
  DeviceSetup setup;
  setup.model = "IQ765";
  setup.address = "127.0.0.1";
  setup.port = 8080;
  setup.stream_type = 2;  // no channel class: StartChannel starts nothing
  DeviceSetup::FillReferenceParameters(setup.parameters);

  DriverHandle driver(library_.exports());
  ASSERT_TRUE(driver);
  ASSERT_TRUE(driver->Open(&sink, &allocator, &setup));
  ASSERT_TRUE(sink.WaitFor("DRIVER IS OPENED", 5s));  // its text is the driver's unit test's
  EXPECT_EQ(sink.LevelOf("DRIVER IS OPENED"), 100);

  ipcapture::IIPVideoCapture* video = driver->GetVideoCapture();
  ASSERT_NE(video, nullptr);
  VideoParams params(10, 50, 640, 480);
  EXPECT_TRUE(video->StartChannel(0, nullptr, &params));
  uint32_t status = 0;
  EXPECT_FALSE(video->GetChannelState(0, &status, nullptr, nullptr, 0));
  EXPECT_FALSE(video->StartChannel(1, nullptr, &params));  // one input only
  driver.Reset();                                          // deleting an open driver closes it
  EXPECT_EQ(allocator.live_video(), 0u);
}

TEST_F(DriverLibraryTest, TheHostsCoreVersionDecidesTheLevel) {
  SetRecorderCoreVersion({5, 11, 0, 0});
  DebugSink sink;
  FrameAllocator allocator;
  DeviceSetup setup;
  setup.model = "IQ040";
  DeviceSetup::FillReferenceParameters(setup.parameters);
  DriverHandle driver(library_.exports(), 0, 0);
  ASSERT_TRUE(driver->Open(&sink, &allocator, &setup));
  EXPECT_EQ(sink.LevelOf("DRIVER IS OPENED"), 2);
}

TEST(CliHost, OpensWithTheUsersParametersOverTheReferenceOnes) {
  veltrano_cli::CliHost host;
  veltrano_cli::DeviceOptions options;
  options.host = "127.0.0.1";
  options.port = 8081;
  options.params = {{4, "9.9"}};
  std::string error;
  ASSERT_TRUE(host.Open(options, 2, "IQ765", &error)) << error;
  EXPECT_TRUE(host.sink().Contains("FW: 9.9, address: 127.0.0.1:8081)"));
  EXPECT_EQ(host.setup().parameters.at(6), "1280x1024");  // reference value kept
  host.Close();
  EXPECT_EQ(host.driver(), nullptr);

  options.params = {{1, "x"}};
  EXPECT_FALSE(host.Open(options, 2, "IQ765", &error));
  EXPECT_NE(error.find("refused to open"), std::string::npos);
}

}  // namespace
}  // namespace korvela::recorder
