// CXMLSettingsAPI: reads the driver's optional settings file "IQEye.xml".
//
// The file lies in the folder of the executable, or in a settings folder set
// beforehand. A value is addressed by an element path relative to the
// document ("root/CCFIA", names separated by "/") and read from the element's
// "value" attribute. A missing, empty or malformed file makes Open fail with
// kResultFail, and every read then yields the empty text.
//
// Threading: lock_ guards the open count and the document, so Open, Close and
// GetValue may be called from several threads; in practice one thread uses a
// stack object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/sync_lock.h"
#include "util/str_format.h"
#include "util/thread_annotations.h"

namespace korvela {

class CXMLSettingsAPI {
 public:
  static constexpr int32_t kResultOk = 0;
  static constexpr int32_t kResultFail = static_cast<int32_t>(0x80004005);
  static constexpr const char* kFileName = "IQEye.xml";
  // Longest element path GetValue formats; longer ones are cut.
  static constexpr size_t kMaxPathLength = 1023;

  CXMLSettingsAPI();
  // Closes once, as a matching Close for one Open.
  virtual ~CXMLSettingsAPI();
  CXMLSettingsAPI(const CXMLSettingsAPI&) = delete;
  CXMLSettingsAPI& operator=(const CXMLSettingsAPI&) = delete;

  // Where to look instead of the executable's folder; empty restores that.
  void SetSettingsFolder(const std::string& folder);

  // Loads the file on the first call; later calls only count. kResultOk or
  // kResultFail (missing, empty or malformed file).
  int32_t Open();
  // The "value" attribute of the first element that the printf-style path
  // selects; empty when not open, nothing matches or the attribute is absent.
  // Returns whether a value attribute was found.
  bool GetValue(std::string& value, const char* path_format, ...) KORVELA_PRINTF_FORMAT(3, 4);
  // Undoes one Open (the count does not go below 0); at 0 the document is
  // released. Returns the new count.
  uint32_t Close();

  uint32_t GetOpenCount() const;
  // Full path of the loaded file (empty before the first successful check).
  std::string GetFilePath() const;

 private:
  struct Document;

  std::string SettingsFilePath() const REQUIRES(lock_);

  mutable CSyncLock lock_;
  uint32_t open_count_ GUARDED_BY(lock_) = 0;
  std::unique_ptr<Document> document_ GUARDED_BY(lock_);
  std::string file_path_ GUARDED_BY(lock_);
  std::string settings_folder_ GUARDED_BY(lock_);
};

}  // namespace korvela
