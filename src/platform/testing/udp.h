// Sends a datagram as another loopback host would, for tests of receivers
// that take data only from their camera's address.
//
// Threading: any thread.
#pragma once

#include <cstdint>
#include <span>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvela::testing {

// One datagram from `from` (a 127.0.0.x address) to 127.0.0.1:`port`; false
// when it could not be sent.
inline bool SendDatagramFrom(const char* from, uint16_t port, std::span<const uint8_t> bytes) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &local.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool sent =
      fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0 &&
      ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) ==
          static_cast<ssize_t>(bytes.size());
  if (fd >= 0) ::close(fd);
  return sent;
}

}  // namespace korvela::testing
