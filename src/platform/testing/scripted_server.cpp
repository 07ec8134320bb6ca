#include "platform/testing/scripted_server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvela::testing {
namespace {

// Returns the value of header `name` (case-insensitive) or an empty string.
std::string HeaderValue(const std::string& head, const char* name) {
  const size_t name_len = std::strlen(name);
  size_t pos = head.find("\r\n");
  while (pos != std::string::npos && pos + 2 < head.size()) {
    const size_t start = pos + 2;
    const size_t end = head.find("\r\n", start);
    if (end == std::string::npos) break;
    if (end - start > name_len && head[start + name_len] == ':' &&
        strncasecmp(head.data() + start, name, name_len) == 0) {
      size_t v = start + name_len + 1;
      while (v < end && (head[v] == ' ' || head[v] == '\t')) ++v;
      return head.substr(v, end - v);
    }
    pos = end;
  }
  return {};
}

}  // namespace

std::string HttpResponse(const std::string& body, const std::string& status) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

std::string OidResponse(const std::string& value) {
  return HttpResponse("<html><body><xmp>" + value + "</xmp></body></html>\r\n");
}

ScriptStep HttpReply(std::string reply) {
  ScriptStep step;
  step.reply = std::move(reply);
  return step;
}

ScriptStep HttpReplySplit(std::string reply, std::vector<size_t> split_at,
                          uint32_t piece_delay_ms) {
  ScriptStep step = HttpReply(std::move(reply));
  step.split_at = std::move(split_at);
  step.piece_delay_ms = piece_delay_ms;
  return step;
}

ScriptStep HttpReplyThenClose(std::string reply) {
  ScriptStep step = HttpReply(std::move(reply));
  step.close_after = true;
  return step;
}

ScriptStep HangAfterRequest() {
  ScriptStep step;
  step.hang = true;
  return step;
}

ScriptStep CloseAfterRequest() { return HttpReplyThenClose(""); }

ScriptStep Trickle(std::string reply, uint32_t byte_delay_ms) {
  std::vector<size_t> every;
  for (size_t i = 1; i < reply.size(); ++i) every.push_back(i);
  return HttpReplySplit(std::move(reply), std::move(every), byte_delay_ms);
}

std::string ReceivedRequest::RequestLine() const { return head.substr(0, head.find("\r\n")); }

std::string ReceivedRequest::Header(const char* name) const { return HeaderValue(head, name); }

struct ScriptedServer::Connection {
  size_t index = 0;
  int fd = -1;
  std::thread thread;
  std::string pending;   // received, not yet consumed by the script (serve thread only)
  std::string received;  // everything received (guarded by the server's mu_)
};

ScriptedServer::ScriptedServer() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return;
  }
  listen_fd_ = fd;
  port_ = ntohs(addr.sin_port);
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  Stop();
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

void ScriptedServer::Stop() {
  stop_.Set();
  if (accept_thread_.joinable()) accept_thread_.join();
  std::vector<Connection*> conns;
  {
    std::lock_guard lock(mu_);
    for (auto& c : connections_) conns.push_back(c.get());
  }
  // Connections are only added by the (now finished) accept thread.
  for (Connection* c : conns) {
    if (c->thread.joinable()) c->thread.join();
  }
}

void ScriptedServer::AddConnection(std::vector<ScriptStep> steps) {
  std::lock_guard lock(mu_);
  scripts_.push_back(std::move(steps));
}

void ScriptedServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
    int rc = ::poll(fds, 2, -1);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0 || (fds[1].revents & POLLIN)) return;
    if (!(fds[0].revents & POLLIN)) continue;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard lock(mu_);
    auto conn = std::make_unique<Connection>();
    conn->index = connections_.size();
    conn->fd = fd;
    std::vector<ScriptStep> steps;
    bool scripted = next_script_ < scripts_.size();
    if (scripted) steps = scripts_[next_script_++];
    Connection* raw = conn.get();
    connections_.push_back(std::move(conn));
    raw->thread = std::thread([this, raw, steps = std::move(steps), scripted]() mutable {
      if (scripted) {
        Serve(raw, std::move(steps));
      } else {
        // Unscripted: record what is already there and close.
        pollfd p{raw->fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) ReadMore(raw);
      }
      ::close(raw->fd);
      std::lock_guard lock(mu_);
      ++closed_connections_;
      changed_.notify_all();
    });
  }
}

bool ScriptedServer::ReadMore(Connection* conn) {
  for (;;) {
    pollfd fds[2] = {{conn->fd, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
    int rc = ::poll(fds, 2, -1);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0 || (fds[1].revents & POLLIN)) return false;
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buf[16384];
    ssize_t n = ::recv(conn->fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    conn->pending.append(buf, static_cast<size_t>(n));
    std::lock_guard lock(mu_);
    conn->received.append(buf, static_cast<size_t>(n));
    changed_.notify_all();
    return true;
  }
}

bool ScriptedServer::ReadHttpHead(Connection* conn, std::string* head) {
  for (;;) {
    size_t end = conn->pending.find("\r\n\r\n");
    if (end != std::string::npos) {
      *head = conn->pending.substr(0, end + 4);
      conn->pending.erase(0, end + 4);
      return true;
    }
    if (!ReadMore(conn)) return false;
  }
}

bool ScriptedServer::ReadHttpBody(Connection* conn, const std::string& head, std::string* body) {
  const std::string length = HeaderValue(head, "Content-Length");
  if (!length.empty()) {
    const size_t want = std::strtoull(length.c_str(), nullptr, 10);
    while (conn->pending.size() < want) {
      if (!ReadMore(conn)) return false;
    }
    *body = conn->pending.substr(0, want);
    conn->pending.erase(0, want);
    return true;
  }
  if (strcasecmp(HeaderValue(head, "Transfer-Encoding").c_str(), "chunked") != 0) return true;
  // Chunked: walk the size lines; the raw framing is kept in `body`.
  size_t pos = 0;
  for (;;) {
    size_t eol;
    while ((eol = conn->pending.find("\r\n", pos)) == std::string::npos) {
      if (!ReadMore(conn)) return false;
    }
    const size_t size = std::strtoull(conn->pending.c_str() + pos, nullptr, 16);
    pos = eol + 2;
    if (size == 0) {
      // Trailer section ends with an empty line.
      for (;;) {
        while ((eol = conn->pending.find("\r\n", pos)) == std::string::npos) {
          if (!ReadMore(conn)) return false;
        }
        const bool empty = eol == pos;
        pos = eol + 2;
        if (empty) break;
      }
      *body = conn->pending.substr(0, pos);
      conn->pending.erase(0, pos);
      return true;
    }
    while (conn->pending.size() < pos + size + 2) {
      if (!ReadMore(conn)) return false;
    }
    pos += size + 2;
  }
}

bool ScriptedServer::SendBytes(Connection* conn, std::string_view bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    // Wait for room with the stop event in the set, so a client that never
    // reads cannot hold the server's shutdown.
    pollfd fds[2] = {{conn->fd, POLLOUT, 0}, {stop_.fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents & POLLIN) return false;
    ssize_t n =
        ::send(conn->fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool ScriptedServer::SendReply(Connection* conn, const ScriptStep& step) {
  const std::string_view reply = step.reply;
  for (uint64_t round = 0; round < step.repeat; ++round) {
    size_t start = 0;
    std::vector<size_t> cuts = step.split_at;
    cuts.push_back(reply.size());
    for (size_t i = 0; i < cuts.size(); ++i) {
      const size_t end = std::min(cuts[i], reply.size());
      if (end <= start && i + 1 < cuts.size()) continue;
      if (i > 0 && step.piece_delay_ms > 0 && stop_.Wait(step.piece_delay_ms)) return false;
      if (!SendBytes(conn, reply.substr(start, end - start))) return false;
      start = end;
    }
  }
  const std::string filler(64 * 1024, 'x');
  for (uint64_t left = step.filler_bytes; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, filler.size()));
    if (!SendBytes(conn, std::string_view(filler).substr(0, n))) return false;
    if (left != kForever) left -= n;
  }
  return true;
}

void ScriptedServer::DrainUntilClosed(Connection* conn) {
  while (ReadMore(conn)) conn->pending.clear();
}

void ScriptedServer::RecordRequest(size_t connection, std::string head, std::string body) {
  std::lock_guard lock(mu_);
  requests_.push_back({connection, std::move(head), std::move(body)});
  changed_.notify_all();
}

void ScriptedServer::Serve(Connection* conn, std::vector<ScriptStep> steps) {
  for (const ScriptStep& step : steps) {
    switch (step.expect) {
      case ScriptStep::Expect::kHttpRequest:
      case ScriptStep::Expect::kHttpHead: {
        std::string head, body;
        if (!ReadHttpHead(conn, &head)) return;
        if (step.expect == ScriptStep::Expect::kHttpRequest && !ReadHttpBody(conn, head, &body)) {
          RecordRequest(conn->index, std::move(head), std::move(conn->pending));
          return;
        }
        RecordRequest(conn->index, std::move(head), std::move(body));
        break;
      }
      case ScriptStep::Expect::kNothing:
        break;
    }
    if (step.hang) {
      DrainUntilClosed(conn);
      return;
    }
    if (!SendReply(conn, step)) return;
    if (step.close_after) return;
    if (step.stall) {
      stop_.Wait(platform::kInfinite);
      return;
    }
  }
  DrainUntilClosed(conn);
}

bool ScriptedServer::WaitForRequests(size_t count, uint32_t timeout_ms) {
  std::unique_lock lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return requests_.size() >= count; });
}

bool ScriptedServer::WaitForReceivedBytes(size_t connection, size_t count, uint32_t timeout_ms) {
  std::unique_lock lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return connection < connections_.size() && connections_[connection]->received.size() >= count;
  });
}

bool ScriptedServer::WaitForClosedConnections(size_t count, uint32_t timeout_ms) {
  std::unique_lock lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return closed_connections_ >= count; });
}

std::vector<ReceivedRequest> ScriptedServer::Requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

std::vector<std::string> ScriptedServer::Targets() const {
  std::vector<std::string> targets;
  for (const ReceivedRequest& r : Requests()) {
    const size_t start = r.head.find(' ') + 1;
    targets.push_back(r.head.substr(start, r.head.find(' ', start) - start));
  }
  return targets;
}

std::string ScriptedServer::Received(size_t connection) const {
  std::lock_guard lock(mu_);
  return connection < connections_.size() ? connections_[connection]->received : std::string();
}

size_t ScriptedServer::AcceptedConnections() const {
  std::lock_guard lock(mu_);
  return connections_.size();
}

}  // namespace korvela::testing
