// Cuts a Motion-JPEG byte stream, read in chunks of any size, into whole JPEG
// pictures at their start-of-image (FF D8) and end-of-image (FF D9) markers.
//
// Whatever lies between pictures (multipart boundary lines, part headers) is
// skipped without being looked at. Before a picture's scan data begins, the
// payloads of its application, comment and quantisation-table segments are
// passed over by their length: an EXIF thumbnail carries its own FF D8 ...
// FF D9, and a quantisation table at low quality holds byte pairs such as
// FF D9, either of which would otherwise cut every picture short. Everything
// else is found by scanning for markers. The picture size comes from the last
// baseline start-of-frame header (FF C0) seen inside a picture whose bytes
// all arrived before the picture ended or restarted; it persists across
// pictures. A marker or a size header may straddle any number of chunk
// boundaries: the result does not depend on how the stream was cut.
//
// The stream is read straight into the splitter's buffer (ReceiveArea, then
// Commit), and a picture is handed on from where it was read: its bytes are
// not copied on their way. Only when the free room at the buffer's end runs
// short are the bytes of the picture under assembly moved to its front.
//
// Threading: none of its own. One thread feeds a splitter at a time; the
// listener is called synchronously on that thread from inside Feed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace korvela {

class JpegStreamSplitter {
 public:
  // Largest picture kept in memory: 10 MiB. A picture exactly this long is
  // still delivered; one byte more and it is dropped.
  static constexpr size_t kMaxFrameBytes = 10485760;
  // The receive area offered is at least this long: a read takes a whole
  // picture of a megapixel camera (about 50 KiB) at once.
  static constexpr size_t kMinReceiveBytes = 64 * 1024;
  // The buffer's size to begin with: a few reads fit before the picture under
  // assembly has to be moved to the front.
  static constexpr size_t kInitialBufferBytes = 4 * kMinReceiveBytes;
  // It never grows beyond the largest picture plus one receive area (and the
  // byte that may hold a split marker's 0xFF).
  static constexpr size_t kMaxBufferBytes = kMaxFrameBytes + kMinReceiveBytes + 1;

  class Listener {
   public:
    virtual ~Listener() = default;
    // A complete picture, FF D8 through FF D9. The bytes are valid only during
    // the call. Width and height are 0 while no baseline header was seen.
    virtual void OnPicture(std::span<const uint8_t> picture, uint32_t width, uint32_t height) = 0;
    // The picture under assembly would exceed kMaxFrameBytes and was dropped;
    // nothing is buffered until the next start-of-image.
    virtual void OnOverflow() = 0;
  };

  // Where the next bytes of the stream go: at least kMinReceiveBytes. Valid
  // until the next call of a non-const method.
  std::span<uint8_t> ReceiveArea();
  // The first `n` bytes of the receive area hold new bytes of the stream.
  void Commit(size_t n, Listener& listener);
  // Copies `chunk` into the buffer and commits it.
  void Feed(std::span<const uint8_t> chunk, Listener& listener);

  // Forgets a partial picture (a new connection starts a new stream). The
  // last known picture size is kept.
  void Reset();

  bool in_frame() const { return in_frame_; }
  size_t buffered() const { return in_frame_ ? end_ - begin_ : 0; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }

 private:
  // The seven bytes after FF C0 of a baseline start-of-frame header: segment
  // length (2), sample precision (1), height (2), width (2), big-endian.
  struct SizeHeader {
    std::array<uint8_t, 7> bytes{};
    size_t have = 0;
  };
  static constexpr size_t kHeightIndex = 3;
  static constexpr size_t kWidthIndex = 5;
  // FF C0 needs two bytes, so at most four headers can be waiting for their
  // seven bytes at once.
  static constexpr size_t kMaxPendingSizeHeaders = 4;

  // Splits the chunk of new bytes that lies in the buffer at chunk_at_.
  void Split(std::span<const uint8_t> chunk, Listener& listener);
  // Out of a picture: advances to the next start-of-image in `chunk` from
  // `pos`, or to the end of the chunk. Returns the new position.
  size_t SkipToStart(std::span<const uint8_t> chunk, size_t pos);
  // In a picture: consumes bytes from `pos` up to the end of the picture or
  // of the chunk; the size headers have seen the chunk up to `fed`. Returns
  // the new position.
  // Markers are looked for from `scan_from` on (an opened segment may still
  // want its length bytes from there).
  size_t ConsumePicture(std::span<const uint8_t> chunk, size_t pos, size_t fed, size_t scan_from,
                        Listener& listener);
  // A segment whose payload is passed over begins after the marker just seen.
  void OpenSegment();
  // Reads what is still missing of the open segment's length and passes over
  // its payload, from `pos` on. Returns the first position after it (or the
  // end of the chunk).
  size_t PassSegment(std::span<const uint8_t> chunk, size_t pos);
  // Appends the picture's last bytes and hands the picture to the listener.
  void FinishPicture(std::span<const uint8_t> last_bytes, Listener& listener);
  // Extends the picture over `bytes`, which follow it in the buffer, unless
  // that would exceed kMaxFrameBytes; then drops the picture, tells the
  // listener and returns false.
  bool Append(std::span<const uint8_t> bytes, Listener& listener);
  // A picture begins at `first` (inside the buffer).
  void StartPicture(const uint8_t* first);
  // Offset of `p` (inside the buffer or one past its end).
  size_t OffsetOf(const uint8_t* p) const { return static_cast<size_t>(p - buffer_.data()); }
  // A size header begins after the FF C0 just seen; it counts once its seven
  // bytes have arrived inside the same picture.
  void StartSizeHeader();
  // Picture bytes in stream order, to the headers still collecting.
  void FeedSizeHeaders(std::span<const uint8_t> bytes);

  bool in_frame_ = false;
  // The previous chunk ended with 0xFF: the first byte of this one completes
  // a marker. That 0xFF is in the buffer just before the receive area.
  bool held_ff_ = false;
  // The stream's bytes as read. In a picture, buffer_[begin_, end_) is the
  // picture so far, and new bytes are read right after it; out of a picture
  // they are read at offset 1 (offset 0 may hold a held 0xFF).
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  size_t chunk_at_ = 1;  // where the receive area begins
  // A picture overflowed: the buffer shrinks back at the next receive area.
  bool shrink_ = false;
  // The picture's scan data (after its start-of-scan) has not begun yet.
  bool in_header_ = false;
  // Length bytes of the open segment still to come (2 = none read yet).
  uint8_t segment_length_bytes_ = 0;
  uint16_t segment_length_ = 0;
  // Payload bytes of the open segment still to pass over.
  size_t segment_left_ = 0;
  std::array<SizeHeader, kMaxPendingSizeHeaders> size_headers_;
  size_t size_header_count_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
};

}  // namespace korvela
