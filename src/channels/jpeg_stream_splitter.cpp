#include "channels/jpeg_stream_splitter.h"

#include <algorithm>
#include <cstring>

namespace korvela {

namespace {

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kBaselineStartOfFrame = 0xC0;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kQuantisationTable = 0xDB;
constexpr uint8_t kFirstApplication = 0xE0;  // APP0 .. APP15
constexpr uint8_t kLastApplication = 0xEF;
constexpr uint8_t kComment = 0xFE;

// Segments whose payload is free-form or may hold any byte pair: passed over
// by their length before the scan data. Other segments (frame and Huffman
// headers) are scanned as before, so a picture with a damaged length in one
// of them is still cut at its markers.
bool IsPassedOverSegment(uint8_t marker) {
  return (marker >= kFirstApplication && marker <= kLastApplication) || marker == kComment ||
         marker == kQuantisationTable;
}

// Index of the next 0xFF in chunk[from, end), or chunk.size() when none.
size_t FindMarkerPrefix(std::span<const uint8_t> chunk, size_t from) {
  if (from >= chunk.size()) return chunk.size();
  const void* hit = std::memchr(chunk.data() + from, kMarkerPrefix, chunk.size() - from);
  if (hit == nullptr) return chunk.size();
  return static_cast<size_t>(static_cast<const uint8_t*>(hit) - chunk.data());
}

}  // namespace

std::span<uint8_t> JpegStreamSplitter::ReceiveArea() {
  const size_t live_begin = in_frame_ ? begin_ : 0;
  const size_t live = in_frame_ ? end_ - begin_ : 0;
  const size_t wanted = std::max<size_t>(live, 1) + kMinReceiveBytes;
  if (shrink_ && live + kMinReceiveBytes < kInitialBufferBytes) {
    std::vector<uint8_t> smaller(kInitialBufferBytes);
    std::copy_n(buffer_.data() + live_begin, live, smaller.data());
    buffer_.swap(smaller);
    shrink_ = false;
  } else if (buffer_.size() < wanted) {
    // Geometric growth keeps the copies of a growing picture linear.
    std::vector<uint8_t> larger(
        std::min(kMaxBufferBytes, std::max({wanted, 2 * buffer_.size(), kInitialBufferBytes})));
    std::copy_n(buffer_.data() + live_begin, live, larger.data());
    buffer_.swap(larger);
  } else if (buffer_.size() - (live_begin + live) < kMinReceiveBytes) {
    std::memmove(buffer_.data(), buffer_.data() + live_begin, live);
  } else {
    chunk_at_ = in_frame_ ? end_ : 1;
    return std::span(buffer_).subspan(chunk_at_);
  }
  // The live bytes now begin at offset 0.
  if (in_frame_) {
    begin_ = 0;
    end_ = live;
  }
  chunk_at_ = in_frame_ ? end_ : 1;
  return std::span(buffer_).subspan(chunk_at_);
}

void JpegStreamSplitter::Commit(size_t n, Listener& listener) {
  if (n == 0) return;
  if (!in_frame_ && held_ff_) buffer_[chunk_at_ - 1] = kMarkerPrefix;
  Split(std::span<const uint8_t>(buffer_).subspan(chunk_at_, n), listener);
}

void JpegStreamSplitter::Feed(std::span<const uint8_t> chunk, Listener& listener) {
  while (!chunk.empty()) {
    const std::span<uint8_t> area = ReceiveArea();
    const size_t n = std::min(area.size(), chunk.size());
    std::copy_n(chunk.data(), n, area.data());
    Commit(n, listener);
    chunk = chunk.subspan(n);
  }
}

void JpegStreamSplitter::Split(std::span<const uint8_t> chunk, Listener& listener) {
  size_t pos = 0;
  size_t fed = 0;        // first byte of the chunk the size headers have not seen
  size_t scan_from = 0;  // first byte of the chunk still to look at for markers
  if (held_ff_) {
    held_ff_ = false;
    const uint8_t marker = chunk[0];
    static constexpr uint8_t kFf[] = {kMarkerPrefix};
    if (marker == kStartOfImage) {
      // The picture starts with the 0xFF that ended the previous chunk, which
      // lies just before this one.
      StartPicture(chunk.data() - 1);
      end_ = begin_ + 1;
    } else if (in_frame_) {
      FeedSizeHeaders(kFf);
      if (marker == kEndOfImage) {
        FeedSizeHeaders(chunk.first(1));
        FinishPicture(chunk.first(1), listener);
        pos = fed = 1;
      } else if (marker == kBaselineStartOfFrame) {
        FeedSizeHeaders(chunk.first(1));
        StartSizeHeader();
        fed = 1;
      } else if (marker == kStartOfScan) {
        in_header_ = false;
      } else if (in_header_ && IsPassedOverSegment(marker)) {
        OpenSegment();
        scan_from = 1;
      }
    }
  }
  while (pos < chunk.size()) {
    if (in_frame_) {
      pos = ConsumePicture(chunk, pos, std::max(pos, fed), std::max(pos, scan_from), listener);
    } else {
      pos = SkipToStart(chunk, pos);
    }
  }
}

void JpegStreamSplitter::Reset() {
  in_frame_ = false;
  held_ff_ = false;
  begin_ = end_ = 0;
  size_header_count_ = 0;
  in_header_ = false;
  segment_length_bytes_ = 0;
  segment_left_ = 0;
}

size_t JpegStreamSplitter::SkipToStart(std::span<const uint8_t> chunk, size_t pos) {
  const size_t n = chunk.size();
  for (size_t p = FindMarkerPrefix(chunk, pos); p < n; p = FindMarkerPrefix(chunk, p + 1)) {
    if (p + 1 == n) {
      held_ff_ = true;
      return n;
    }
    if (chunk[p + 1] == kStartOfImage) {
      StartPicture(chunk.data() + p);
      return p;
    }
  }
  return n;
}

size_t JpegStreamSplitter::ConsumePicture(std::span<const uint8_t> chunk, size_t pos, size_t fed,
                                          size_t scan_from, Listener& listener) {
  const size_t n = chunk.size();
  size_t start = pos;  // first byte of this chunk that belongs to the picture
  size_t next = PassSegment(chunk, scan_from);
  for (size_t p = FindMarkerPrefix(chunk, next); p < n; p = FindMarkerPrefix(chunk, next)) {
    next = p + 1;
    if (p + 1 == n) {
      // Appended below; the next chunk says which marker it starts.
      held_ff_ = true;
      break;
    }
    const uint8_t marker = chunk[p + 1];
    if (marker == kStartOfImage) {
      // A new start-of-image abandons the picture under assembly, and a size
      // header that had not arrived whole.
      FeedSizeHeaders(chunk.subspan(fed, p - fed));
      StartPicture(chunk.data() + p);
      start = fed = p;
    } else if (marker == kEndOfImage) {
      FeedSizeHeaders(chunk.subspan(fed, p + 2 - fed));
      FinishPicture(chunk.subspan(start, p + 2 - start), listener);
      return p + 2;
    } else if (marker == kBaselineStartOfFrame) {
      FeedSizeHeaders(chunk.subspan(fed, p + 2 - fed));
      StartSizeHeader();
      fed = p + 2;
    } else if (marker == kStartOfScan) {
      in_header_ = false;
    } else if (in_header_ && IsPassedOverSegment(marker)) {
      OpenSegment();
      next = PassSegment(chunk, p + 2);
    }
  }
  // A held 0xFF reaches the size headers only once it is known not to start
  // a start-of-image (which would have cut them off before it).
  const size_t fed_end = held_ff_ ? n - 1 : n;
  if (fed < fed_end) FeedSizeHeaders(chunk.subspan(fed, fed_end - fed));
  Append(chunk.subspan(start), listener);
  return n;
}

void JpegStreamSplitter::FinishPicture(std::span<const uint8_t> last_bytes, Listener& listener) {
  if (!Append(last_bytes, listener)) return;
  in_frame_ = false;
  size_header_count_ = 0;
  listener.OnPicture(std::span(buffer_).subspan(begin_, end_ - begin_), width_, height_);
}

bool JpegStreamSplitter::Append(std::span<const uint8_t> bytes, Listener& listener) {
  const size_t new_end = OffsetOf(bytes.data() + bytes.size());
  if (new_end - begin_ > kMaxFrameBytes) {
    // Release the memory too (at the next receive area: this chunk still
    // lies in it): a stream that never ends its pictures should not keep
    // 10 MiB per channel.
    shrink_ = true;
    in_frame_ = false;
    size_header_count_ = 0;
    listener.OnOverflow();
    return false;
  }
  end_ = new_end;
  return true;
}

void JpegStreamSplitter::StartPicture(const uint8_t* first) {
  begin_ = end_ = OffsetOf(first);
  in_frame_ = true;
  size_header_count_ = 0;
  in_header_ = true;
  segment_length_bytes_ = 0;
  segment_left_ = 0;
}

void JpegStreamSplitter::OpenSegment() {
  segment_length_bytes_ = 2;
  segment_length_ = 0;
  segment_left_ = 0;
}

size_t JpegStreamSplitter::PassSegment(std::span<const uint8_t> chunk, size_t pos) {
  const size_t n = chunk.size();
  while (segment_length_bytes_ > 0 && pos < n) {
    segment_length_ = static_cast<uint16_t>(segment_length_ << 8 | chunk[pos++]);
    if (--segment_length_bytes_ == 0) {
      // The length counts its own two bytes; a smaller one is damage, and
      // the bytes after it are scanned as usual.
      segment_left_ = segment_length_ >= 2 ? segment_length_ - 2u : 0;
    }
  }
  const size_t take = std::min(segment_left_, n - pos);
  segment_left_ -= take;
  return pos + take;
}

void JpegStreamSplitter::StartSizeHeader() {
  if (size_header_count_ == size_headers_.size()) {
    // Cannot happen (each header needs its own two marker bytes within the
    // seven of the oldest), but never write past the array.
    std::move(size_headers_.begin() + 1, size_headers_.end(), size_headers_.begin());
    --size_header_count_;
  }
  size_headers_[size_header_count_++] = SizeHeader{};
}

void JpegStreamSplitter::FeedSizeHeaders(std::span<const uint8_t> bytes) {
  if (size_header_count_ == 0 || bytes.empty()) return;
  size_t completed = 0;
  for (size_t i = 0; i < size_header_count_; ++i) {
    SizeHeader& h = size_headers_[i];
    const size_t take = std::min(bytes.size(), h.bytes.size() - h.have);
    std::copy_n(bytes.begin(), take, h.bytes.begin() + h.have);
    h.have += take;
    if (h.have == h.bytes.size()) {
      // Oldest first: a later header overrides an earlier one.
      height_ = uint32_t{h.bytes[kHeightIndex]} << 8 | h.bytes[kHeightIndex + 1];
      width_ = uint32_t{h.bytes[kWidthIndex]} << 8 | h.bytes[kWidthIndex + 1];
      ++completed;
    }
  }
  // Headers complete in the order they started.
  std::move(size_headers_.begin() + completed, size_headers_.begin() + size_header_count_,
            size_headers_.begin());
  size_header_count_ -= completed;
}

}  // namespace korvela
