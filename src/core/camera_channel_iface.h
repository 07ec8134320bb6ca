// ICameraChannel: what the video capture object sees of a video channel.
//
// Threading: the recorder's threads call Start, Stop, ChangeSettings and
// GetState (the video capture object never calls them under its table lock,
// except GetState/ChangeSettings on a channel it keeps alive for the call).
#pragma once

#include <cstdint>

#include "korvela/ipcapture.h"

namespace korvela {

// Stream settings of one video channel, in this order.
struct StreamSettings {
  uint32_t frame_rate = 0;  // frames per second
  uint32_t quality = 0;     // per cent
  uint32_t width = 0;       // pixels
  uint32_t height = 0;      // pixels

  friend bool operator==(const StreamSettings&, const StreamSettings&) = default;
};

// GetState gives the recorder's channel status values.
using ipcapture::ChannelStatus;
using ipcapture::kChannelReceiving;
using ipcapture::kChannelSignalLost;
using ipcapture::kChannelStopped;

class ICameraChannel {
 public:
  virtual ~ICameraChannel() = default;                              // 0
  virtual bool Start(const StreamSettings& settings) = 0;           // 1
  virtual void Stop() = 0;                                          // 2
  virtual bool ChangeSettings(const StreamSettings& settings) = 0;  // 3
  virtual uint32_t GetState() = 0;                                  // 4
};

}  // namespace korvela
