#include "platform/process.h"

#include <array>

#include <dlfcn.h>
#include <unistd.h>

namespace korvela::platform {

std::string ExecutablePath() {
  // PATH_MAX-sized reads; a longer path is reported as a failure rather than
  // cut, since a cut path names another file.
  std::array<char, 4096> buffer{};
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
  return std::string(buffer.data(), static_cast<size_t>(n));
}

std::string ExecutableFolder() {
  std::string path = ExecutablePath();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

bool ReadVersionFromSymbol(const char* symbol, uint16_t out[4]) {
  if (out == nullptr) return false;
  out[0] = out[1] = out[2] = out[3] = 0;
  if (symbol == nullptr) return false;
  void* address = ::dlsym(RTLD_DEFAULT, symbol);
  if (address == nullptr) return false;
  auto fn = reinterpret_cast<ipcapture::RecorderCoreVersionFn>(address);
  uint16_t version[4] = {0, 0, 0, 0};
  fn(version);
  for (int i = 0; i < 4; ++i) out[i] = version[i];
  return true;
}

bool ReadRecorderCoreVersion(uint16_t out[4]) {
  return ReadVersionFromSymbol(ipcapture::kRecorderCoreVersionSymbol, out);
}

unsigned ProcessorCount() {
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<unsigned>(n) : 1U;
}

}  // namespace korvela::platform
