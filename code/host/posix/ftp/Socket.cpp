#include "host/posix/ftp/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <cerrno>
#include <climits>

#include "ftp/FtpClient.h"

namespace kadroo::posix {
namespace {

using namespace std::chrono;

int RemainingMs(Deadline deadline) {
  const auto ms = duration_cast<milliseconds>(deadline - Clock::now()).count();
  return ms <= 0 ? 0 : ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// The address without its port, an IPv4-mapped IPv6 address as the IPv4 one.
std::string HostBytes(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&in6)) return std::string(reinterpret_cast<const char*>(in6.s6_addr) + 12, 4);
    return std::string(reinterpret_cast<const char*>(in6.s6_addr), 16);
  }
  if (a.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(a).sin_addr;
    return std::string(reinterpret_cast<const char*>(&in), 4);
  }
  return {};
}

}  // namespace

int PollUntil(pollfd* fds, nfds_t count, Deadline deadline) {
  for (;;) {
    const int r = ::poll(fds, count, RemainingMs(deadline));
    if (r >= 0 || errno != EINTR) return r;
  }
}

int32_t ErrorFromSocket(int err) {
  switch (err) {
    case ECONNRESET: return ERROR_INTERNET_CONNECTION_RESET;
    case EAGAIN: case ETIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case ECONNREFUSED: case ENETUNREACH: case EHOSTUNREACH: case EADDRNOTAVAIL: return ERROR_INTERNET_CANNOT_CONNECT;
    default: return ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

uint16_t PortOf(const sockaddr_storage& a) {
  return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(a).sin6_port
                                       : reinterpret_cast<const sockaddr_in&>(a).sin_port);
}

void SetPort(sockaddr_storage& a, uint16_t port) {
  if (a.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6&>(a).sin6_port = htons(port);
  } else {
    reinterpret_cast<sockaddr_in&>(a).sin_port = htons(port);
  }
}

bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
  const std::string x = HostBytes(a);
  return !x.empty() && x == HostBytes(b);
}

socklen_t LengthOf(const sockaddr_storage& a) {
  return a.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

std::string AddressText(const sockaddr_storage& a) {
  char text[INET6_ADDRSTRLEN] = {};
  if (a.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, text, sizeof text);
  } else {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a).sin_addr, text, sizeof text);
  }
  return text;
}

int32_t ConnectTo(const sockaddr* address, socklen_t length, Deadline deadline, Fd& out) {
  Fd s(::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!s) return ERROR_INTERNET_CANNOT_CONNECT;
  if (::connect(s.get(), address, length) != 0) {
    if (errno != EINPROGRESS) return ERROR_INTERNET_CANNOT_CONNECT;
    pollfd p{s.get(), POLLOUT, 0};
    const int ready = PollUntil(&p, 1, deadline);
    if (ready == 0) return ERROR_INTERNET_TIMEOUT;
    int err = 0;
    socklen_t len = sizeof err;
    if (ready < 0 || ::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      return err == ETIMEDOUT ? ERROR_INTERNET_TIMEOUT : ERROR_INTERNET_CANNOT_CONNECT;
    }
  }
  ::fcntl(s.get(), F_SETFL, ::fcntl(s.get(), F_GETFL) & ~O_NONBLOCK);
  out = std::move(s);
  return 0;
}

void SetNoDelay(int socket) {
  const int one = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void AcknowledgeNow(int socket) {
#ifdef TCP_QUICKACK
  const int one = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#else
  (void)socket;
#endif
}

void SetIoTimeouts(int socket, milliseconds timeout) {
  timeval tv{static_cast<time_t>(timeout.count() / 1000), static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
  ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace kadroo::posix
