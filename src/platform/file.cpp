#include "platform/file.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvela::platform {

bool ReadOnlyFile::Open(const char* path) {
  Close();
  do {
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  return fd_ >= 0;
}

void ReadOnlyFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int64_t ReadOnlyFile::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

}  // namespace korvela::platform
