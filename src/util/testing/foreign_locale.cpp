#include "util/testing/foreign_locale.h"

#include <cstdio>
#include <filesystem>
#include <mutex>

#include <stdlib.h>

namespace korvela::testing {
namespace {

constexpr const char* kInstalledNames[] = {"tr_TR.ISO-8859-9", "tr_TR.iso88599", "tr_TR.UTF-8",
                                           "tr_TR.utf8"};
constexpr const char* kBuiltName = "tr_TR.ISO-8859-9";

locale_t TryInstalled() {
  for (const char* name : kInstalledNames) {
    if (locale_t l = newlocale(LC_ALL_MASK, name, nullptr)) return l;
  }
  return nullptr;
}

// Compiles the locale into a fresh temporary folder; the folder, or "" on
// failure with `why` filled.
std::string BuildLocale(std::string& why) {
  char folder[] = "/tmp/korvela_locale_XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    why = "cannot make a temporary folder";
    return {};
  }
  const std::string command = std::string("localedef -i tr_TR -f ISO-8859-9 ") + folder + "/" +
                              kBuiltName + " >/dev/null 2>&1";
  const int rc = std::system(command.c_str());
  if (rc == -1 || !std::filesystem::exists(std::string(folder) + "/" + kBuiltName + "/LC_CTYPE")) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    why = "no tr_TR locale installed and localedef could not build one (" + command + ")";
    return {};
  }
  return folder;
}

locale_t LoadBuilt(std::string& why) {
  // Built once per process; the folder is removed at exit.
  static std::mutex mu;
  static std::string folder;
  static std::string build_error;
  static bool tried = false;
  std::lock_guard<std::mutex> lock(mu);
  if (!tried) {
    tried = true;
    folder = BuildLocale(build_error);
    if (!folder.empty()) {
      std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
      });
    }
  }
  if (folder.empty()) {
    why = build_error;
    return nullptr;
  }
  // newlocale reads LOCPATH while it loads; the locale stays valid after.
  const char* old = getenv("LOCPATH");
  const std::string saved = old != nullptr ? old : "";
  setenv("LOCPATH", folder.c_str(), 1);
  locale_t l = newlocale(LC_ALL_MASK, kBuiltName, nullptr);
  if (old != nullptr) {
    setenv("LOCPATH", saved.c_str(), 1);
  } else {
    unsetenv("LOCPATH");
  }
  if (l == nullptr) why = std::string("newlocale failed for ") + folder + "/" + kBuiltName;
  return l;
}

}  // namespace

ScopedForeignLocale::ScopedForeignLocale() {
  locale_ = TryInstalled();
  if (locale_ == nullptr) locale_ = LoadBuilt(why_not_);
  if (locale_ != nullptr) previous_ = uselocale(locale_);
}

ScopedForeignLocale::~ScopedForeignLocale() {
  if (locale_ == nullptr) return;
  uselocale(previous_);
  freelocale(locale_);
}

}  // namespace korvela::testing
