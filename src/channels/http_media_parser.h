// CHttpMediaParser: base of the parsers that cut an HTTP media stream, read in
// chunks of any size, into pictures and deliver each as a recorder frame
// record to the channel's IMediaReceiver.
//
// Threading: a parser is used by one thread only, the channel's worker, which
// calls ReceiveArea, Received, ProcessData and Reset; delivery runs on that thread. The counters
// are atomics so that other threads may read them; the log throttle counter is the worker's alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/idriver.h"
#include "core/media_receiver.h"

namespace korvela {

// What a parser did with the pictures it found.
struct MediaParserCounters {
  uint64_t delivered = 0;  // handed to the receiver
  uint64_t accepted = 0;   // ... and accepted by it
  uint64_t dropped = 0;    // complete but not deliverable (no size, no allocator, no record)
  uint64_t overflows = 0;  // dropped for exceeding the frame buffer limit
};

class CHttpMediaParser {
 public:
  // A read takes what has arrived up to this much (a whole picture of a
  // megapixel camera at once).
  static constexpr size_t kMinReceiveBytes = 64 * 1024;

  // `driver` is not owned and must outlive the parser; `name` is the source
  // name handed to the frame allocator with each frame.
  CHttpMediaParser(IDriver* driver, std::string name);
  virtual ~CHttpMediaParser() = default;
  CHttpMediaParser(const CHttpMediaParser&) = delete;
  CHttpMediaParser& operator=(const CHttpMediaParser&) = delete;

  // Bytes freshly read from the response, any length.
  virtual void ProcessData(std::span<const uint8_t> chunk) = 0;
  // Where the channel reads the stream to: at least kMinReceiveBytes, valid
  // until the next call of a non-const method. This base hands a buffer of
  // its own to ProcessData; a parser that keeps what it reads may offer its
  // own buffer and save that copy.
  virtual std::span<uint8_t> ReceiveArea();
  // The first `n` bytes of the receive area were read.
  virtual void Received(size_t n);
  // A new connection begins: a partial picture of the old one is dropped.
  virtual void Reset() = 0;

  // Not owned; set by the channel right after creating the parser.
  void SetReceiver(IMediaReceiver* receiver) { receiver_ = receiver; }

  MediaParserCounters counters() const;

 protected:
  // Allocates a frame record, fills it (width, height, resolution class,
  // data length, compression, time now), copies the picture, hands it to the
  // receiver and releases it. Pictures without a size, or when the receiver,
  // the allocator or a record is missing, are dropped and counted.
  void DeliverPicture(uint32_t compression, std::span<const uint8_t> picture, uint32_t width,
                      uint32_t height);
  // Logs that a picture outgrew the frame buffer limit and was dropped.
  void ReportBufferOverflow();

 private:
  IMediaReceiver* receiver_ = nullptr;
  IDriver* const driver_;
  const std::string name_;
  std::atomic<uint64_t> delivered_{0};
  std::atomic<uint64_t> accepted_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> overflows_{0};
  uint32_t overflow_log_counter_ = 0;  // log throttle of the overflow line
  std::vector<uint8_t> receive_area_;  // made at the first read
};

}  // namespace korvela
