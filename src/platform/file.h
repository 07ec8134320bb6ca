// ReadOnlyFile: a regular file opened for reading, close-on-exec (a recorder
// that starts other programs must not hand them our descriptors).
//
// Threading: one thread at a time.
#pragma once

#include <cstdint>

namespace korvela::platform {

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile() { Close(); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // False when the file cannot be opened; a file already open is closed first.
  bool Open(const char* path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  // Size in bytes; -1 when closed or not a regular file.
  int64_t Size() const;

 private:
  int fd_ = -1;
};

}  // namespace korvela::platform
