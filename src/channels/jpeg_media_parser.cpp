#include "channels/jpeg_media_parser.h"

#include <utility>

namespace korvela {

CJpegMediaParser::CJpegMediaParser(IDriver* driver, std::string name)
    : CHttpMediaParser(driver, std::move(name)) {}

void CJpegMediaParser::ProcessData(std::span<const uint8_t> chunk) { splitter_.Feed(chunk, *this); }

std::span<uint8_t> CJpegMediaParser::ReceiveArea() { return splitter_.ReceiveArea(); }

void CJpegMediaParser::Received(size_t n) { splitter_.Commit(n, *this); }

void CJpegMediaParser::Reset() { splitter_.Reset(); }

void CJpegMediaParser::OnPicture(std::span<const uint8_t> picture, uint32_t width,
                                 uint32_t height) {
  DeliverPicture(ipcapture::kCompressionJpeg, picture, width, height);
}

void CJpegMediaParser::OnOverflow() { ReportBufferOverflow(); }

}  // namespace korvela
