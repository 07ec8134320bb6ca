// CIPVideoCapture: the recorder's handle on the device's video inputs, one
// channel per input.
//
// Threading: the recorder calls every operation from any of its threads.
// lock_ guards the table. A channel found under the lock is held by a
// std::shared_ptr copy for the duration of the call, so a concurrent
// StopChannel of the same input cannot delete it under the caller; the last
// holder deletes it. Stop() of a channel (which waits for its worker) always
// runs outside the lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "korvela/ipcapture.h"

#include "base/sync_lock.h"
#include "core/camera_channel_iface.h"
#include "util/thread_annotations.h"

namespace korvela {

class IDriver;

class CIPVideoCapture final : public ipcapture::IIPVideoCapture {
 public:
  CIPVideoCapture(uint32_t channel_count, IDriver* driver);
  ~CIPVideoCapture() override;
  CIPVideoCapture(const CIPVideoCapture&) = delete;
  CIPVideoCapture& operator=(const CIPVideoCapture&) = delete;

  uint32_t GetChannelCount() override;
  bool StartChannel(uint32_t input, ipcapture::IFrameReceiver* receiver,
                    ipcapture::IVideoParams* params) override;
  bool StopChannel(uint32_t input) override;
  bool ChangeChannel(uint32_t input, ipcapture::IPictureSize* size, uint32_t fps) override;
  uint32_t Reserved5() override { return 0; }
  bool GetChannelState(uint32_t input, uint32_t* status, uint32_t* error_code, char* text,
                       uint32_t text_size) override;
  bool Reserved7(uint32_t, void*, void*) override { return false; }
  bool Reserved8(uint32_t, void*, void*) override { return false; }

  // The stream settings StartChannel derives from the recorder's parameters:
  // each value in its low 16 bits; missing objects give 0.
  static StreamSettings SettingsFrom(ipcapture::IVideoParams* params);

 private:
  using ChannelPtr = std::shared_ptr<ICameraChannel>;
  ChannelPtr Find(uint32_t input);
  static void StopAndRelease(ChannelPtr channel);

  IDriver* const driver_;
  CSyncLock lock_;
  std::vector<ChannelPtr> table_ GUARDED_BY(lock_);  // length fixed at construction
};

}  // namespace korvela
