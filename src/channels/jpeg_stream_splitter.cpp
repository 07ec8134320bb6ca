#include "channels/jpeg_stream_splitter.h"

#include <cstring>

namespace korvela {

namespace {

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kBaselineStartOfFrame = 0xC0;

// Baseline start-of-frame header, offsets from its 0xFF: FF C0, length (2),
// sample precision (1), height (2, big-endian), width (2, big-endian).
constexpr size_t kHeightOffset = 5;
constexpr size_t kWidthOffset = 7;
constexpr size_t kSizeHeaderBytes = 9;

// Index of the next 0xFF in chunk[from, end), or chunk.size() when none.
size_t FindMarkerPrefix(std::span<const uint8_t> chunk, size_t from) {
  if (from >= chunk.size()) return chunk.size();
  const void* hit = std::memchr(chunk.data() + from, kMarkerPrefix, chunk.size() - from);
  if (hit == nullptr) return chunk.size();
  return static_cast<size_t>(static_cast<const uint8_t*>(hit) - chunk.data());
}

}  // namespace

void JpegStreamSplitter::Feed(std::span<const uint8_t> chunk, Listener& listener) {
  size_t pos = 0;
  if (pending_ff_ && !chunk.empty()) {
    pending_ff_ = false;
    const uint8_t marker = chunk[0];
    if (marker == kStartOfImage) {
      // The picture starts with the 0xFF that ended the previous chunk.
      StartPicture();
      buffer_.push_back(kMarkerPrefix);
    } else if (in_frame_ && marker == kEndOfImage) {
      FinishPicture(chunk.first(1), listener);
      pos = 1;
    } else if (in_frame_ && marker == kBaselineStartOfFrame) {
      NoteSizeHeader(buffer_.size() - 1);
    }
  }
  while (pos < chunk.size()) {
    pos = in_frame_ ? ConsumePicture(chunk, pos, listener) : SkipToStart(chunk, pos);
  }
}

void JpegStreamSplitter::Reset() {
  in_frame_ = false;
  pending_ff_ = false;
  buffer_.clear();
  pending_size_header_.reset();
}

size_t JpegStreamSplitter::SkipToStart(std::span<const uint8_t> chunk, size_t pos) {
  const size_t n = chunk.size();
  for (size_t p = FindMarkerPrefix(chunk, pos); p < n; p = FindMarkerPrefix(chunk, p + 1)) {
    if (p + 1 == n) {
      pending_ff_ = true;
      return n;
    }
    if (chunk[p + 1] == kStartOfImage) {
      StartPicture();
      return p;
    }
  }
  return n;
}

size_t JpegStreamSplitter::ConsumePicture(std::span<const uint8_t> chunk, size_t pos,
                                          Listener& listener) {
  const size_t n = chunk.size();
  size_t start = pos;  // first byte of this chunk that belongs to the picture
  TryReadSizeHeader(chunk.subspan(start));
  for (size_t p = FindMarkerPrefix(chunk, pos); p < n; p = FindMarkerPrefix(chunk, p + 1)) {
    if (p + 1 == n) {
      pending_ff_ = true;  // appended below; the next chunk says which marker
      break;
    }
    const uint8_t marker = chunk[p + 1];
    if (marker == kStartOfImage) {
      // A new start-of-image abandons the picture under assembly.
      buffer_.clear();
      pending_size_header_.reset();
      start = p;
    } else if (marker == kEndOfImage) {
      FinishPicture(chunk.subspan(start, p + 2 - start), listener);
      return p + 2;
    } else if (marker == kBaselineStartOfFrame) {
      NoteSizeHeader(buffer_.size() + (p - start));
      TryReadSizeHeader(chunk.subspan(start));
    }
  }
  Append(chunk.subspan(start), listener);
  return n;
}

void JpegStreamSplitter::FinishPicture(std::span<const uint8_t> last_bytes, Listener& listener) {
  if (!Append(last_bytes, listener)) return;
  TryReadSizeHeader({});
  listener.OnPicture(buffer_, width_, height_);
  buffer_.clear();
  in_frame_ = false;
  pending_size_header_.reset();
}

bool JpegStreamSplitter::Append(std::span<const uint8_t> bytes, Listener& listener) {
  if (bytes.size() > kMaxFrameBytes - buffer_.size()) {
    // Release the memory too: a stream that never ends its pictures should
    // not keep 10 MiB per channel.
    std::vector<uint8_t>().swap(buffer_);
    in_frame_ = false;
    pending_size_header_.reset();
    listener.OnOverflow();
    return false;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return true;
}

void JpegStreamSplitter::StartPicture() {
  buffer_.clear();
  in_frame_ = true;
  pending_size_header_.reset();
}

void JpegStreamSplitter::NoteSizeHeader(size_t offset_in_picture) {
  pending_size_header_ = offset_in_picture;
}

void JpegStreamSplitter::TryReadSizeHeader(std::span<const uint8_t> tail) {
  if (!pending_size_header_) return;
  const size_t offset = *pending_size_header_;
  if (offset + kSizeHeaderBytes > buffer_.size() + tail.size()) return;
  auto at = [&](size_t i) -> uint32_t {
    return i < buffer_.size() ? buffer_[i] : tail[i - buffer_.size()];
  };
  height_ = at(offset + kHeightOffset) << 8 | at(offset + kHeightOffset + 1);
  width_ = at(offset + kWidthOffset) << 8 | at(offset + kWidthOffset + 1);
  pending_size_header_.reset();
}

}  // namespace korvela
