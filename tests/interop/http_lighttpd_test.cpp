// The device HTTP client against a real HTTP server: lighttpd with Basic and
// Digest authentication (mod_auth, htdigest user file), a CGI that streams its
// answer (sent chunked to HTTP/1.1 clients) and a CGI that takes an upload.
// lighttpd is started on a free loopback port with a generated configuration;
// a machine without lighttpd fails these tests.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device/http_sender.h"
#include "platform/http_connection.h"
#include "platform/socket.h"
#include "util/md5.h"

namespace korvela {
namespace {

namespace fs = std::filesystem;

constexpr char kRealm[] = "cam";
constexpr char kUser[] = "admin";
constexpr char kPassword[] = "s3cret pass";
constexpr size_t kBigBodyBytes = 6 * 1024 * 1024 + 123;

std::string FindLighttpd() {
  for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/usr/local/sbin"}) {
    const std::string path = std::string(dir) + "/lighttpd";
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return {};
}

uint16_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = platform::Endpoint::Loopback(0).ToSockaddr();
  socklen_t len = sizeof addr;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return platform::Endpoint::FromSockaddr(addr).port;
}

bool Accepts(uint16_t port) {
  platform::TcpSocket client;
  return client.Connect(platform::Endpoint::Loopback(port), 1000) == platform::SocketError::kNone;
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Payload(size_t size) {
  std::string s;
  s.reserve(size);
  for (size_t i = 0; i < size; ++i) s.push_back(static_cast<char>('A' + (i * 7 + i / 13) % 26));
  return s;
}

class LighttpdServer {
 public:
  bool Start() {
    const std::string binary = FindLighttpd();
    if (binary.empty()) {
      error_ = "lighttpd is not installed (Debian package lighttpd)";
      return false;
    }
    char pattern[] = "/tmp/korvela_lighttpd_XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      error_ = "mkdtemp failed";
      return false;
    }
    dir_ = pattern;
    const fs::path www = dir_ / "www";
    fs::create_directories(www / "basic");
    fs::create_directories(www / "digest");
    fs::create_directories(www / "cgi");
    fs::create_directories(www / "both");
    WriteFile(www / "both" / "index.txt", "sha or md5\n");
    WriteFile(www / "basic" / "index.txt", "basic area\n");
    WriteFile(www / "digest" / "index.txt", Payload(20000));
    WriteFile(www / "basic" / "big.bin", Payload(kBigBodyBytes));  // many read pieces
    // Five lines with pauses and no length: lighttpd sends them chunked.
    WriteFile(www / "cgi" / "stream.cgi", R"sh(printf 'Content-Type: text/plain\r\n\r\n'
for i in 1 2 3 4 5; do printf 'line %s\n' $i; sleep 0.05; done
)sh");
    WriteFile(www / "cgi" / "stall.cgi", "exec sleep 10\n");  // beyond the client's time-out
    // Answers with the byte count and MD5 of the uploaded body.
    WriteFile(www / "cgi" / "upload.cgi", R"sh(head -c "$CONTENT_LENGTH" > "$UPLOAD_FILE"
printf 'Content-Type: text/plain\r\n\r\n'
printf '%s %s' "$(stat -c %s "$UPLOAD_FILE")" "$(md5sum < "$UPLOAD_FILE" | cut -d' ' -f1)"
)sh");
    // htdigest line: user:realm:MD5(user:realm:password).
    WriteFile(dir_ / "htdigest",
              std::string(kUser) + ":" + kRealm + ":" +
                  codec::Md5HexOf(std::string(kUser) + ":" + kRealm + ":" + kPassword) + "\n");
    // The plain backend can answer SHA-256 as well as MD5 Digest.
    WriteFile(dir_ / "plain", std::string(kUser) + ":" + kPassword + "\n");
    port_ = FreeLoopbackPort();
    const std::string conf =
        "var.dir = \"" + dir_.string() + "\"\nserver.port = " + std::to_string(port_) + R"conf(
server.modules = ("mod_auth", "mod_authn_file", "mod_cgi", "mod_setenv")
server.document-root = var.dir + "/www"
server.bind = "127.0.0.1"
server.errorlog = var.dir + "/error.log"
server.stream-response-body = 2
mimetype.assign = (".txt" => "text/plain")
cgi.assign = (".cgi" => "/bin/sh")
setenv.add-environment = ("UPLOAD_FILE" => var.dir + "/upload.bin")
auth.backend = "htdigest"
auth.backend.htdigest.userfile = var.dir + "/htdigest"
auth.require = (
  "/basic/" => ("method" => "basic", "realm" => "cam", "require" => "valid-user"),
  "/digest/" => ("method" => "digest", "realm" => "cam", "require" => "valid-user",
                 "algorithm" => "MD5"),
  "/both/" => ("method" => "digest", "realm" => "cam", "require" => "valid-user",
               "algorithm" => "SHA-256|MD5"))
$HTTP["url"] =~ "^/both/" {
  auth.backend = "plain"
  auth.backend.plain.userfile = var.dir + "/plain"
}
)conf";
    WriteFile(dir_ / "lighttpd.conf", conf);

    pid_ = ::fork();
    if (pid_ == 0) {
      // lighttpd logs to its error log; its CGIs (some sleep on after the
      // test) must not hold the test's output open.
      const int null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd >= 0) {
        ::dup2(null_fd, 0);
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
      }
      const std::string conf_path = (dir_ / "lighttpd.conf").string();
      ::execl(binary.c_str(), binary.c_str(), "-D", "-f", conf_path.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (pid_ < 0) {
      error_ = "fork failed";
      return false;
    }
    // Bounded wait for the listening socket.
    for (int i = 0; i < 250; ++i) {
      if (Accepts(port_)) return true;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream log(dir_ / "error.log");
    error_ = "lighttpd did not start: " +
             std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
    return false;
  }

  ~LighttpdServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (!dir_.empty()) {
      std::error_code ec;
      fs::remove_all(dir_, ec);
    }
  }

  uint16_t port() const { return port_; }
  const std::string& error() const { return error_; }
  fs::path dir() const { return dir_; }

 private:
  fs::path dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  std::string error_;
};

class LighttpdTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()) << server_.error(); }

  DEVICE_INFO Device(std::string user = kUser, std::string password = kPassword) const {
    DEVICE_INFO d;
    d.address = "127.0.0.1";
    d.port = server_.port();
    d.user_name = std::move(user);
    d.password = std::move(password);
    d.connect_timeout_ms = 5000;
    return d;
  }

  LighttpdServer server_;
};

std::string AsString(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// Each scheme learned from the challenge (or asked for from the start),
// answered and reused over one connection; wrong passwords get the 401.
TEST_F(LighttpdTest, CredentialsAreAcceptedReusedOrRefused) {
  const struct {
    const char* target;
    uint32_t auth_type;
    const char* password;
    uint32_t status;
    uint32_t scheme;
    std::string body;
  } cases[] = {
      {"/basic/index.txt", Web::kAuthTypeBasic, kPassword, 200, platform::kAuthSchemeBasic,
       "basic area\n"},
      {"/basic/index.txt", Web::kAuthTypeBasic, "wrong", 401, platform::kAuthSchemeBasic, ""},
      {"/digest/index.txt", Web::kAuthTypeBasic, kPassword, 200, platform::kAuthSchemeDigest,
       Payload(20000)},
      {"/digest/index.txt", Web::kAuthTypeDigest, kPassword, 200, platform::kAuthSchemeDigest,
       Payload(20000)},
      {"/digest/index.txt", Web::kAuthTypeDigest, "wrong", 401, platform::kAuthSchemeDigest, ""},
      // SHA-256 offered first: the MD5 challenge is chosen.
      {"/both/index.txt", Web::kAuthTypeBasic, kPassword, 200, platform::kAuthSchemeDigest,
       "sha or md5\n"},
  };
  for (const auto& c : cases) {
    Web::CHttpSender sender(Device(kUser, c.password));
    Web::HttpRequest request("GET", c.target);
    request.auth_type = c.auth_type;
    for (int i = 0; i < (c.status == 200 ? 2 : 1); ++i) {
      ASSERT_TRUE(sender.SendRequest(request)) << c.target;
      EXPECT_EQ(sender.GetStatusCode(), c.status) << c.target << " " << c.password;
      EXPECT_EQ(sender.GetAuthScheme(), c.scheme) << c.target;
      if (c.status != 200) continue;
      std::vector<uint8_t> body;
      EXPECT_EQ(sender.ReadAll(body), c.body.size());
      EXPECT_EQ(AsString(body), c.body) << c.target;
    }
    EXPECT_EQ(sender.GetConnectCount(), 1u) << c.target;
  }
}

TEST_F(LighttpdTest, StreamingResponseIsReadChunkByChunk) {
  // No length: lighttpd streams the CGI's output chunked to HTTP/1.1 clients.
  Web::CHttpSender sender(Device());
  sender.SetReadChunkSize(4);
  ASSERT_TRUE(sender.SendRequest(Web::HttpRequest("GET", "/cgi/stream.cgi")));
  EXPECT_EQ(sender.GetContentLength(), 0u);
  std::string got;
  std::vector<uint8_t> chunk;
  while (sender.ReadChunk(chunk) > 0) {
    EXPECT_LE(chunk.size(), 4u);
    got += AsString(chunk);
  }
  EXPECT_EQ(got, "line 1\nline 2\nline 3\nline 4\nline 5\n");
}

TEST_F(LighttpdTest, UploadWithAnnouncedLengthContinuedByWrites) {
  const std::string payload = Payload(100000);
  const std::vector<uint8_t> bytes(payload.begin(), payload.end());
  // The server's account of what arrived.
  platform::HttpConnection connection("127.0.0.1", server_.port(), {5000, 5000, 5000}, "test");
  platform::HttpRequestParams params;
  params.method = "POST";
  params.target = "/cgi/upload.cgi";
  params.body.assign(bytes.begin(), bytes.begin() + 10);
  params.total_length = bytes.size();
  ASSERT_TRUE(connection.Send(params));
  for (size_t pos = 10; pos < bytes.size(); pos += 8000) {
    ASSERT_TRUE(connection.Write(
        std::span(bytes).subspan(pos, std::min<size_t>(8000, bytes.size() - pos))));
  }
  ASSERT_TRUE(connection.ReceiveResponse());
  EXPECT_EQ(connection.response().status_code, 200);
  std::string answer;
  std::vector<uint8_t> buf(256);
  for (;;) {
    auto n = connection.Read(buf);
    ASSERT_TRUE(n.has_value());
    if (*n == 0) break;
    answer.append(reinterpret_cast<char*>(buf.data()), *n);
  }
  EXPECT_EQ(answer, std::to_string(bytes.size()) + " " + codec::Md5HexOf(payload));
}

TEST_F(LighttpdTest, LargeBodiesAreReadWholeOverOneKeptAliveConnection) {
  const std::string expected = Payload(kBigBodyBytes);
  Web::CHttpSender sender(Device());
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(sender.SendRequest(Web::HttpRequest("GET", "/basic/big.bin"))) << i;
    EXPECT_EQ(sender.GetStatusCode(), 200u);
    EXPECT_EQ(sender.GetContentLength(), kBigBodyBytes);
    std::vector<uint8_t> body;
    ASSERT_EQ(sender.ReadAll(body), kBigBodyBytes) << i;
    EXPECT_TRUE(AsString(body) == expected) << "body differs in round " << i;
  }
  EXPECT_EQ(sender.GetConnectCount(), 1u);
}

TEST_F(LighttpdTest, StalledServerEndsTheRequestAtTheTimeOut) {
  DEVICE_INFO device = Device();
  device.connect_timeout_ms = 300;
  Web::CHttpSender sender(device);
  EXPECT_FALSE(sender.SendRequest(Web::HttpRequest("GET", "/cgi/stall.cgi")));
  EXPECT_FALSE(sender.IsRequestOpen());
  // The sender stays usable after the time-out.
  ASSERT_TRUE(sender.SendRequest(Web::HttpRequest("GET", "/basic/index.txt")));
  std::vector<uint8_t> body;
  EXPECT_EQ(sender.ReadAll(body), 11u);
}

}  // namespace
}  // namespace korvela
