#include "base/xml_settings_api.h"

#include <cstdarg>
#include <cstdio>
#include <exception>

#include <pugixml.hpp>

#include "base/falo_file_base.h"
#include "platform/process.h"

namespace korvela {

struct CXMLSettingsAPI::Document {
  pugi::xml_document xml;
};

CXMLSettingsAPI::CXMLSettingsAPI() = default;

CXMLSettingsAPI::~CXMLSettingsAPI() { Close(); }

void CXMLSettingsAPI::SetSettingsFolder(const std::string& folder) {
  CSyncLockGuard guard(lock_);
  settings_folder_ = folder;
}

std::string CXMLSettingsAPI::SettingsFilePath() const {
  std::string folder;
  if (settings_folder_.empty()) {
    folder = platform::ExecutableFolder();  // ends with '/' (or is empty)
  } else {
    folder = settings_folder_;
    if (folder.back() != '/') folder += '/';
  }
  return folder + kFileName;
}

int32_t CXMLSettingsAPI::Open() {
  CSyncLockGuard guard(lock_);
  if (open_count_ > 0) {
    ++open_count_;
    return kResultOk;
  }
  const std::string path = SettingsFilePath();
  // Without a known folder the bare name would be looked up in the working
  // directory, which is not where the settings live.
  if (path == kFileName) return kResultFail;
  {
    // Only existence and a non-zero size are checked here.
    CFaloFileBase file;
    if (!file.Open(path.c_str()) || file.GetSize() <= 0) return kResultFail;
  }
  file_path_ = path;

  auto document = std::make_unique<Document>();
  const pugi::xml_parse_result parsed =
      document->xml.load_file(path.c_str(), pugi::parse_default | pugi::parse_ws_pcdata);
  if (!parsed) return kResultFail;
  document_ = std::move(document);
  ++open_count_;
  return kResultOk;
}

bool CXMLSettingsAPI::GetValue(std::string& value, const char* path_format, ...) {
  value.clear();
  if (path_format == nullptr) return false;
  char path[kMaxPathLength + 1];
  va_list args;
  va_start(args, path_format);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  // The analyzer misreads va_start here.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const int length = std::vsnprintf(path, sizeof path, path_format, args);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  va_end(args);
  if (length < 0) return false;

  CSyncLockGuard guard(lock_);
  if (open_count_ == 0 || !document_) return false;
  try {
    const pugi::xpath_node node = document_->xml.select_node(path);
    const pugi::xml_attribute attribute = node.node().attribute("value");
    if (!attribute) return false;
    value = attribute.value();
    return true;
  } catch (const std::exception&) {
    // An unusable path selects nothing.
    return false;
  }
}

uint32_t CXMLSettingsAPI::Close() {
  CSyncLockGuard guard(lock_);
  if (open_count_ > 0) --open_count_;
  if (open_count_ == 0) document_.reset();
  return open_count_;
}

uint32_t CXMLSettingsAPI::GetOpenCount() const {
  CSyncLockGuard guard(lock_);
  return open_count_;
}

std::string CXMLSettingsAPI::GetFilePath() const {
  CSyncLockGuard guard(lock_);
  return file_path_;
}

}  // namespace korvela
