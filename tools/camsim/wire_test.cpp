#include "wire.h"

#include <thread>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net.h"

namespace camsim {
namespace {

// Well-formed heads are what every simulator test, curl and ffprobe send.
TEST(RequestHeadTest, RejectsMalformedHeads) {
  for (const char* bad : {"GET /\r\n", "GET  / HTTP/1.1", "GET / FTP/1.0", "G\x01T / HTTP/1.1",
                          "GET / HTTP/1.1\r\nNoColon\r\n", "GET / HTTP/1.1\r\nA: b\r\n folded\r\n",
                          "GET / HTTP/1.1\r\nBad Name: x\r\n", ""}) {
    EXPECT_FALSE(ParseRequestHead(bad)) << bad;
  }
  std::string at_limit = "GET / HTTP/1.1";
  for (size_t i = 0; i < kMaxHeaders; ++i) at_limit += "\r\nH" + std::to_string(i) + ": v";
  EXPECT_TRUE(ParseRequestHead(at_limit));
  EXPECT_FALSE(ParseRequestHead(at_limit + "\r\nOne: more"));
}

// A socket pair: a writer thread feeds one end (in order, so writes larger
// than the socket buffer work), the reader reads the other.
struct Pipe {
  Pipe() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    reader_end.reset(fds[0]);
    writer_end.reset(fds[1]);
  }
  ~Pipe() { Finish(); }
  void Write(std::string data, bool close_after = false) {
    Finish();
    writer = std::thread([this, close_after, d = std::move(data)] {
      EXPECT_TRUE(SendAll(writer_end.get(), d));
      if (close_after) writer_end.reset();
    });
  }
  void Finish() {
    if (writer.joinable()) writer.join();
  }
  void CloseWriter() {
    Finish();
    writer_end.reset();
  }
  UniqueFd reader_end;
  UniqueFd writer_end;
  std::thread writer;
};

TEST(StreamReaderTest, ReadsPipelinedHeadsAndBodiesWhateverTheSplit) {
  const std::string wire =
      "\r\nPOST /a HTTP/1.1\r\nContent-Length: 5\r\n\r\nhelloGET /b HTTP/1.1\n\nPOST /c "
      "HTTP/1.1\r\n"
      "Transfer-Encoding: chunked\r\n\r\n3;ext=1\r\nabc\r\nA\r\n0123456789\r\n0\r\nTrailer: "
      "x\r\n\r\n";
  for (size_t split = 0; split <= wire.size(); ++split) {
    Pipe pipe;
    pipe.Write(wire.substr(0, split));
    pipe.Write(wire.substr(split));
    StreamReader reader(pipe.reader_end.get());
    std::string head, body;
    ASSERT_EQ(reader.ReadHead(&head, 1000), StreamReader::Status::kOk) << split;
    EXPECT_EQ(head, "POST /a HTTP/1.1\r\nContent-Length: 5");
    ASSERT_EQ(reader.ReadExact(5, 1000, [&](std::string_view d) { body += d; }),
              StreamReader::Status::kOk);
    EXPECT_EQ(body, "hello");
    ASSERT_EQ(reader.ReadHead(&head, 1000), StreamReader::Status::kOk);
    EXPECT_EQ(head, "GET /b HTTP/1.1");
    ASSERT_EQ(reader.ReadHead(&head, 1000), StreamReader::Status::kOk);
    body.clear();
    ASSERT_EQ(reader.ReadChunked(1000, [&](std::string_view d) { body += d; }),
              StreamReader::Status::kOk)
        << split;
    EXPECT_EQ(body, "abc0123456789");
    EXPECT_FALSE(reader.has_buffered());
  }
}

TEST(StreamReaderTest, LimitsAndEndOfStream) {
  {
    Pipe pipe;
    pipe.Write("GET / HTTP/1.1\r\nX: " + std::string(kMaxHeadBytes, 'a') + "\r\n\r\n");
    StreamReader reader(pipe.reader_end.get());
    std::string head;
    EXPECT_EQ(reader.ReadHead(&head, 1000), StreamReader::Status::kTooLong);
  }
  {
    // A head of exactly the limit still passes.
    Pipe pipe;
    std::string head_text = "GET / HTTP/1.1\r\nX: ";
    head_text += std::string(kMaxHeadBytes - head_text.size(), 'a');
    ASSERT_EQ(head_text.size(), kMaxHeadBytes);
    pipe.Write(head_text + "\r\n\r\n");
    StreamReader reader(pipe.reader_end.get());
    std::string head;
    EXPECT_EQ(reader.ReadHead(&head, 1000), StreamReader::Status::kOk);
    EXPECT_EQ(head.size(), kMaxHeadBytes);
  }
  auto chunked = [](const std::string& wire) {
    Pipe pipe;
    pipe.Write(wire, /*close_after=*/true);
    StreamReader reader(pipe.reader_end.get());
    size_t total = 0;
    const auto status = reader.ReadChunked(1000, [&](std::string_view d) { total += d.size(); });
    if (status == StreamReader::Status::kOk) {
      EXPECT_EQ(total, wire.size() > 100 ? kMaxChunkSize : 0u);
    }
    return status;
  };
  char size_line[32];
  std::snprintf(size_line, sizeof(size_line), "%zx\r\n", kMaxChunkSize + 1);
  EXPECT_EQ(chunked(size_line), StreamReader::Status::kTooLong);
  std::snprintf(size_line, sizeof(size_line), "%zx\r\n", kMaxChunkSize);
  EXPECT_EQ(chunked(std::string(size_line) + std::string(kMaxChunkSize, 'x') + "\r\n0\r\n\r\n"),
            StreamReader::Status::kOk);
  EXPECT_EQ(chunked("zz\r\n"), StreamReader::Status::kBad);
  EXPECT_EQ(chunked("3\r\nabcdef\r\n"), StreamReader::Status::kBad);  // more data than announced
  EXPECT_EQ(chunked("5\r\nab"), StreamReader::Status::kClosed);
  {
    Pipe pipe;
    StreamReader reader(pipe.reader_end.get());
    std::string head;
    EXPECT_EQ(reader.ReadHead(&head, 10), StreamReader::Status::kTimeout);
    pipe.CloseWriter();
    EXPECT_EQ(reader.ReadHead(&head, 1000), StreamReader::Status::kClosed);
  }
}

}  // namespace
}  // namespace camsim
