#include "appkit/x11/X11DisplayProbe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "foundation/FileDescriptor.h"

namespace appkit {
namespace {

using Clock = std::chrono::steady_clock;

// Where a display name says its server listens.
struct Place {
  std::string host;  // empty for the local socket
  int number = 0;
};

std::optional<Place> placeOf(const std::string& display) {
  std::size_t colon = display.rfind(':');
  if (colon == std::string::npos || colon + 1 >= display.size()) return std::nullopt;
  std::string host = display.substr(0, colon);
  // "host::n" is DECnet; "proto/host" names a transport.
  if (!host.empty() && host.back() == ':') return std::nullopt;
  if (std::size_t slash = host.find('/'); slash != std::string::npos) {
    std::string protocol = host.substr(0, slash);
    host = host.substr(slash + 1);
    if (protocol == "unix" || protocol == "local") {
      host.clear();
    } else if (protocol != "tcp" && protocol != "inet" && protocol != "inet6") {
      return std::nullopt;
    }
  }
  if (host == "unix") host.clear();
  int number = 0;
  std::size_t at = colon + 1;
  for (; at < display.size() && display[at] >= '0' && display[at] <= '9'; ++at) {
    number = number * 10 + (display[at] - '0');
    if (number > 65535 - 6000) return std::nullopt;
  }
  if (at == colon + 1 || (at < display.size() && display[at] != '.')) return std::nullopt;
  return Place{host, number};
}

int remainingMilliseconds(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? int(left.count()) : 0;
}

// Waits until `fd` has `events`; false on time-out.
bool await(int fd, short events, Clock::time_point deadline) {
  while (true) {
    pollfd entry{fd, events, 0};
    int ready = ::poll(&entry, 1, remainingMilliseconds(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

// Connects without blocking; the descriptor once connected, or an error.
foundation::Result<int> connectWithin(int family, const sockaddr* address, socklen_t length,
                                      Clock::time_point deadline, const std::string& where) {
  foundation::FileDescriptor fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return foundation::Error{"no socket: " + std::string(std::strerror(errno))};
  if (::connect(fd.get(), address, length) != 0) {
    // A local server that stopped taking connections has a full queue of them.
    if (errno == EAGAIN)
      return foundation::Error{"the X server at " + where + " takes no connections"};
    if (errno != EINPROGRESS) {
      return foundation::Error{"nothing listens at " + where + " (" + std::strerror(errno) + ")"};
    }
    if (!await(fd.get(), POLLOUT, deadline))
      return foundation::Error{"the connection to " + where + " is not accepted in time"};
    int problem = 0;
    socklen_t size = sizeof problem;
    ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &problem, &size);
    if (problem != 0) {
      return foundation::Error{"nothing listens at " + where + " (" + std::strerror(problem) + ")"};
    }
  }
  return fd.release();
}

foundation::Result<int> connectLocal(int number, Clock::time_point deadline) {
  std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // The abstract name first, as Xlib tries it, then the file.
  std::memcpy(address.sun_path + 1, path.data(), path.size());
  socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size());
  auto abstract =
      connectWithin(AF_UNIX, reinterpret_cast<sockaddr*>(&address), length, deadline, "@" + path);
  if (abstract) return abstract;
  std::memset(address.sun_path, 0, sizeof address.sun_path);
  std::memcpy(address.sun_path, path.data(), path.size());
  return connectWithin(AF_UNIX, reinterpret_cast<sockaddr*>(&address), sizeof address, deadline,
                       path);
}

foundation::Result<int> connectRemote(const Place& place, Clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string port = std::to_string(6000 + place.number);
  if (::getaddrinfo(place.host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
    return foundation::Error{"the host " + place.host + " is not found"};
  foundation::Result<int> connected = foundation::Error{"no address of " + place.host};
  for (addrinfo* entry = found; entry; entry = entry->ai_next) {
    connected = connectWithin(entry->ai_family, entry->ai_addr, entry->ai_addrlen, deadline,
                              place.host + ":" + port);
    if (connected) break;
  }
  ::freeaddrinfo(found);
  return connected;
}

}  // namespace

foundation::Result<void> X11DisplayProbe::check(const std::string& display,
                                                foundation::TimeInterval limit) {
  std::optional<Place> place = placeOf(display);
  if (!place) return {};
  Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(limit.inSeconds()));
  foundation::Result<int> connected =
      place->host.empty() ? connectLocal(place->number, deadline) : connectRemote(*place, deadline);
  if (!connected) return connected.error();
  foundation::FileDescriptor fd(connected.value());
  // The connection set-up of protocol 11.0 with no authorization: byte order, pad, major, minor,
  // the two lengths and a pad. Any server answers it (if only to refuse).
  const unsigned char setup[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  if (::send(fd.get(), setup, sizeof setup, MSG_NOSIGNAL) != ssize_t(sizeof setup))
    return foundation::Error{"the X server of " + display + " closed the connection"};
  if (!await(fd.get(), POLLIN, deadline)) {
    return foundation::Error{"the X server of " + display + " does not answer within " +
                             std::to_string(int(limit.inSeconds() * 1000)) + " ms"};
  }
  unsigned char first = 0;
  if (::recv(fd.get(), &first, 1, MSG_DONTWAIT) != 1)
    return foundation::Error{"the X server of " + display + " closed the connection"};
  return {};
}

}  // namespace appkit
