#include "host/windows/net/WinsockStream.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kadroo::windows::net {
namespace {

using namespace std::chrono;

// select's wait until the deadline; false when it has passed.
bool Remaining(Deadline deadline, timeval& tv) {
  const auto us = duration_cast<microseconds>(deadline - Clock::now()).count();
  if (us <= 0) return false;
  const long long capped = std::min<long long>(us, 1000LL * 1000 * 1000);
  tv.tv_sec = static_cast<long>(capped / 1'000'000);
  tv.tv_usec = static_cast<long>(capped % 1'000'000);
  return true;
}

// Waits until `s` can be read (or written); 1 ready, 0 timed out, -1 failed.
int WaitFor(SOCKET s, bool write, Deadline deadline) {
  timeval tv{};
  if (!Remaining(deadline, tv)) tv = timeval{0, 0};
  fd_set set, errors;
  FD_ZERO(&set);
  FD_ZERO(&errors);
  FD_SET(s, &set);
  FD_SET(s, &errors);
  const int r = ::select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, &tv);
  if (r < 0) return -1;
  if (r == 0) return 0;
  return 1;
}

bool SetNonBlocking(SOCKET s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

int LengthOf(const sockaddr_storage& a) {
  return a.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

// The address of an endpoint, port 0; false when it is no address.
bool AddressOf(const Endpoint& endpoint, sockaddr_storage& out) {
  out = sockaddr_storage{};
  if (endpoint.ipv6) {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(out);
    in6.sin6_family = AF_INET6;
    return ::inet_pton(AF_INET6, endpoint.address.c_str(), &in6.sin6_addr) == 1;
  }
  auto& in = reinterpret_cast<sockaddr_in&>(out);
  in.sin_family = AF_INET;
  return ::inet_pton(AF_INET, endpoint.address.c_str(), &in.sin_addr) == 1;
}

}  // namespace

int32_t StartWinsock() {
  static int32_t started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0 ? 0 : int32_t{ERROR_INTERNET_INTERNAL_ERROR};
  }();
  return started;
}

int32_t ErrorFromWinsock(int err) {
  switch (err) {
    case WSAECONNRESET: return ERROR_INTERNET_CONNECTION_RESET;
    case WSAETIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case WSAECONNREFUSED: case WSAENETUNREACH: case WSAEHOSTUNREACH: case WSAEADDRNOTAVAIL:
      return ERROR_INTERNET_CANNOT_CONNECT;
    default: return ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

Endpoint EndpointOf(const sockaddr_storage& a) {
  Endpoint endpoint;
  char text[INET6_ADDRSTRLEN] = {};
  endpoint.ipv6 = a.ss_family == AF_INET6;
  if (endpoint.ipv6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
    ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    endpoint.port = ntohs(in6.sin6_port);
  } else {
    const auto& in = reinterpret_cast<const sockaddr_in&>(a);
    ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    endpoint.port = ntohs(in.sin_port);
  }
  endpoint.address = text;
  return endpoint;
}

int32_t WinsockStream::Connect(const std::string& host, uint16_t port, Deadline deadline,
                               std::unique_ptr<WinsockStream>& out) {
  if (int32_t err = StartWinsock()) return err;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port == 0 ? INTERNET_DEFAULT_FTP_PORT : port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  }
  int32_t err = ERROR_INTERNET_CANNOT_CONNECT;
  for (addrinfo* a = found; a && err != ERROR_INTERNET_TIMEOUT; a = a->ai_next) {
    sockaddr_storage address{};
    std::memcpy(&address, a->ai_addr, std::min(sizeof address, static_cast<size_t>(a->ai_addrlen)));
    err = ConnectTo(address, deadline, out);
    if (err == 0) break;
  }
  ::freeaddrinfo(found);
  return err;
}

int32_t WinsockStream::ConnectTo(const sockaddr_storage& address, Deadline deadline,
                                 std::unique_ptr<WinsockStream>& out) {
  if (int32_t err = StartWinsock()) return err;
  Socket s(::WSASocketW(address.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
  if (!s || !SetNonBlocking(s.get())) return ERROR_INTERNET_CANNOT_CONNECT;
  if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&address), LengthOf(address)) != 0) {
    if (::WSAGetLastError() != WSAEWOULDBLOCK) return ERROR_INTERNET_CANNOT_CONNECT;
    const int ready = WaitFor(s.get(), true, deadline);
    if (ready == 0) return ERROR_INTERNET_TIMEOUT;
    int err = 0;
    int len = sizeof err;
    if (ready < 0 || ::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0 ||
        err != 0) {
      return err == WSAETIMEDOUT ? ERROR_INTERNET_TIMEOUT : ERROR_INTERNET_CANNOT_CONNECT;
    }
  }
  out = std::make_unique<WinsockStream>(std::move(s));
  return 0;
}

WinsockStream::WinsockStream(Socket socket) : socket_(std::move(socket)) {
  SetNonBlocking(socket_.get());
  const BOOL one = TRUE;
  ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  int length = sizeof peer_;
  ::getpeername(socket_.get(), reinterpret_cast<sockaddr*>(&peer_), &length);
  length = sizeof local_;
  ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local_), &length);
}

int32_t WinsockStream::Read(char* data, size_t size, Deadline deadline, size_t& got) {
  got = 0;
  const int want = static_cast<int>(std::min<size_t>(size, INT_MAX));
  for (;;) {
    const int n = ::recv(socket_.get(), data, want, 0);
    if (n >= 0) {
      got = static_cast<size_t>(n);
      return 0;
    }
    const int err = ::WSAGetLastError();
    if (err != WSAEWOULDBLOCK) return ErrorFromWinsock(err);
    const int ready = WaitFor(socket_.get(), false, deadline);
    if (ready == 0) return ERROR_INTERNET_TIMEOUT;
    if (ready < 0) return ErrorFromWinsock(::WSAGetLastError());
  }
}

int32_t WinsockStream::Write(const char* data, size_t size, Deadline deadline) {
  while (size > 0) {
    const int n = ::send(socket_.get(), data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    const int err = ::WSAGetLastError();
    if (n == 0 || err != WSAEWOULDBLOCK) return ErrorFromWinsock(err);
    const int ready = WaitFor(socket_.get(), true, deadline);
    if (ready == 0) return ERROR_INTERNET_TIMEOUT;
    if (ready < 0) return ErrorFromWinsock(::WSAGetLastError());
  }
  return 0;
}

int32_t WinsockStream::Shutdown(Deadline) {
  return ::shutdown(socket_.get(), SD_SEND) == 0 ? 0 : ErrorFromWinsock(::WSAGetLastError());
}

bool WinsockStream::Readable() { return WaitFor(socket_.get(), false, Clock::now()) > 0; }

int32_t WinsockListener::Open(const Endpoint& local) {
  if (int32_t err = StartWinsock()) return err;
  if (!AddressOf(local, address_)) return ERROR_INTERNET_CANNOT_CONNECT;
  socket_.reset(::WSASocketW(address_.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
  int length = sizeof address_;
  if (!socket_ || ::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address_), LengthOf(address_)) != 0 ||
      ::listen(socket_.get(), 1) != 0 ||
      ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address_), &length) != 0 ||
      !SetNonBlocking(socket_.get())) {
    socket_.reset();
    return ERROR_INTERNET_CANNOT_CONNECT;
  }
  return 0;
}

int32_t WinsockListener::Accept(ftp::Stream& control, Deadline deadline, std::unique_ptr<ftp::Stream>& out) {
  sockaddr_storage server{};
  if (!AddressOf(control.Peer(), server)) return ERROR_INTERNET_CANNOT_CONNECT;
  auto* pollable = dynamic_cast<Pollable*>(&control);
  // The control connection may be TLS, whose readiness is not the socket's alone: look at it between short waits.
  constexpr milliseconds kSlice{50};
  for (;;) {
    if (pollable && pollable->Readable()) return 0;
    const Deadline now = Clock::now();
    if (now >= deadline) return ERROR_INTERNET_TIMEOUT;
    const int ready = WaitFor(socket_.get(), false, std::min<Deadline>(deadline, now + kSlice));
    if (ready < 0) return ErrorFromWinsock(::WSAGetLastError());
    if (ready == 0) continue;
    sockaddr_storage from{};
    int length = sizeof from;
    Socket s(::accept(socket_.get(), reinterpret_cast<sockaddr*>(&from), &length));
    if (!s || !ftp::SameHost(EndpointOf(from), control.Peer())) continue;
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s.get()), HANDLE_FLAG_INHERIT, 0);
    out = std::make_unique<WinsockStream>(std::move(s));
    socket_.reset();
    return 0;
  }
}

}  // namespace kadroo::windows::net
