// IMediaParserClient: where an RTP depacketiser hands each finished frame
// record (implemented by the RTP channels).
//
// The destructor is protected and not virtual: nobody deletes a channel
// through this interface, and DeliverFrame keeps slot 0.
//
// Threading: called on the thread that feeds the depacketiser (the RTP
// receiver's queue thread); the frame is valid only during the call.
#pragma once

#include <cstdint>

#include "korvela/frames.h"

namespace korvela {

class IMediaParserClient {
 public:
  // True when the recorder accepted the frame.
  virtual bool DeliverFrame(ipcapture::IVideoFrame* frame) = 0;  // 0
  // Width and height of the channel's stream settings.
  virtual void GetFrameSize(uint32_t* width, uint32_t* height) = 0;  // 1

 protected:
  ~IMediaParserClient() = default;
};

}  // namespace korvela
