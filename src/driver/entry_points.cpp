// The ten exported functions that create and delete the driver object. Every
// create function makes the same object; every delete function destroys any
// of them (the pointer of each level is the same object, single inheritance).
#include <new>

#include "korvela/ipcapture.h"

#include "driver/ip_capture_driver.h"

namespace {

korvela::CQuarnoIPCaptureDriver* NewDriver() {
  return new (std::nothrow) korvela::CQuarnoIPCaptureDriver();
}

// The destructor closes the driver first, so an open driver may be deleted.
void DeleteDriver(korvela::ipcapture::IIPCaptureDriver* driver) { delete driver; }

}  // namespace

extern "C" {

KORVELA_EXPORT korvela::ipcapture::IIPCaptureDriver* CreateIPCapture(void) { return NewDriver(); }
KORVELA_EXPORT korvela::ipcapture::IIPCaptureDriverEx* CreateIPCaptureEx(void) {
  return NewDriver();
}
KORVELA_EXPORT korvela::ipcapture::IIPCaptureDriverEx2* CreateIPCaptureEx2(void) {
  return NewDriver();
}
KORVELA_EXPORT korvela::ipcapture::IIPCaptureDriverEx3* CreateIPCaptureEx3(void) {
  return NewDriver();
}
KORVELA_EXPORT korvela::ipcapture::IIPCaptureDriverEx4* CreateIPCaptureEx4(void) {
  return NewDriver();
}

KORVELA_EXPORT void DeleteIPCapture(korvela::ipcapture::IIPCaptureDriver* driver) {
  DeleteDriver(driver);
}
KORVELA_EXPORT void DeleteIPCaptureEx(korvela::ipcapture::IIPCaptureDriverEx* driver) {
  DeleteDriver(driver);
}
KORVELA_EXPORT void DeleteIPCaptureEx2(korvela::ipcapture::IIPCaptureDriverEx2* driver) {
  DeleteDriver(driver);
}
KORVELA_EXPORT void DeleteIPCaptureEx3(korvela::ipcapture::IIPCaptureDriverEx3* driver) {
  DeleteDriver(driver);
}
KORVELA_EXPORT void DeleteIPCaptureEx4(korvela::ipcapture::IIPCaptureDriverEx4* driver) {
  DeleteDriver(driver);
}

}  // extern "C"
