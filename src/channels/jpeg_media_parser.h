// CJpegMediaParser: splits a Motion-JPEG server-push stream at the JPEG
// start-of-image and end-of-image markers and delivers every picture as a
// "JPEG" frame. Multipart boundaries and part headers are never looked at:
// whatever lies between pictures is skipped.
//
// Threading: as CHttpMediaParser, one thread (the channel's worker).
#pragma once

#include <span>
#include <string>

#include "channels/http_media_parser.h"
#include "channels/jpeg_stream_splitter.h"

namespace korvela {

class CJpegMediaParser : public CHttpMediaParser, private JpegStreamSplitter::Listener {
 public:
  // Largest picture assembled; a larger one is dropped with a log line.
  static constexpr size_t kMaxFrameBufferBytes = JpegStreamSplitter::kMaxFrameBytes;

  CJpegMediaParser(IDriver* driver, std::string name);

  void ProcessData(std::span<const uint8_t> chunk) override;
  // The splitter's own buffer: pictures are not copied before delivery.
  std::span<uint8_t> ReceiveArea() override;
  void Received(size_t n) override;
  void Reset() override;

  bool in_frame() const { return splitter_.in_frame(); }
  size_t buffered() const { return splitter_.buffered(); }

 private:
  void OnPicture(std::span<const uint8_t> picture, uint32_t width, uint32_t height) override;
  void OnOverflow() override;

  JpegStreamSplitter splitter_;
};

}  // namespace korvela
