// CFaloFileBase: a file opened read-only, used to check that the settings
// file exists and is not empty before it is parsed.
//
// Threading: one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace korvela {

class CFaloFileBase {
 public:
  CFaloFileBase() = default;
  virtual ~CFaloFileBase();
  CFaloFileBase(const CFaloFileBase&) = delete;
  CFaloFileBase& operator=(const CFaloFileBase&) = delete;

  // Opens an existing file for reading. False for a null or empty path or
  // when the file cannot be opened; a file already open is closed first.
  bool Open(const char* path);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }
  // Whether an open was attempted (with a usable path).
  bool WasOpened() const { return opened_; }
  const std::string& GetPath() const { return path_; }
  // Size in bytes of the open file; -1 when closed or not a regular file.
  int64_t GetSize() const;

 private:
  std::string path_;
  platform::ReadOnlyFile file_;
  bool opened_ = false;
};

}  // namespace korvela
