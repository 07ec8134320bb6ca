#include "base/falo_file_base.h"

namespace korvela {

CFaloFileBase::~CFaloFileBase() { Close(); }

bool CFaloFileBase::Open(const char* path) {
  if (path == nullptr || path[0] == '\0') return false;
  Close();
  path_ = path;
  opened_ = true;
  return file_.Open(path);
}

void CFaloFileBase::Close() { file_.Close(); }

int64_t CFaloFileBase::GetSize() const { return file_.Size(); }

}  // namespace korvela
