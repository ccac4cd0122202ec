#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace fc::testing {

// A Unix stream socket bound to `path`, listening when asked (a peer's connection is then taken
// but never served); -1 when it cannot be made. The caller closes it.
inline int BoundUnixSocket(const std::string& path, bool listening) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      (listening && ::listen(fd, 4) != 0)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace fc::testing
