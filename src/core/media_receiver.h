// IMediaReceiver: where a media parser hands each finished frame record.
//
// Threading: called on the thread that feeds the parser (the channel's
// worker); the frame is valid only during the call.
#pragma once

#include "korvela/frames.h"

namespace korvela {

class IMediaReceiver {
 public:
  virtual ~IMediaReceiver() = default;  // 0
  // True when the recorder accepted the frame.
  virtual bool ReceiveFrame(ipcapture::IVideoFrame* frame) = 0;  // 1
};

}  // namespace korvela
