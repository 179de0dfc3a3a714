#include "host/posix/ftp/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "ftp/FtpClient.h"
#include "host/ftp/Transfer.h"
#include "host/posix/LocalPath.h"
#include "host/posix/ftp/PosixFiles.h"

namespace kadroo::posix {
namespace {

using namespace std::chrono;
using ftp::Endpoint;
using ftp::Flow;

constexpr size_t kSpliceChunk = 1 << 20;  // one pipe's worth

int RemainingMs(Deadline deadline) {
  const auto ms = duration_cast<milliseconds>(deadline - Clock::now()).count();
  return ms <= 0 ? 0 : ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

Endpoint EndpointOf(const sockaddr_storage& a) {
  char text[INET6_ADDRSTRLEN] = {};
  Endpoint e;
  e.ipv6 = a.ss_family == AF_INET6;
  if (e.ipv6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
    ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    e.port = ntohs(in6.sin6_port);
  } else {
    const auto& in = reinterpret_cast<const sockaddr_in&>(a);
    ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    e.port = ntohs(in.sin_port);
  }
  e.address = text;
  return e;
}

bool Resolve(const std::string& host, uint16_t port, bool numeric, addrinfo*& found) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (numeric ? AI_NUMERICHOST : 0);
  found = nullptr;
  return ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) == 0 && found;
}

void SetNoDelay(int socket) {
  const int one = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Acknowledges what was just read at once. A server that writes a reply in two pieces with Nagle's algorithm on
// holds the second piece until the first is acknowledged, and a delayed acknowledgement would cost ~40 ms there.
// Linux drops out of quick-ack mode by itself, hence after every read.
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

// A connected blocking socket, or the error: 12002 when the deadline passed, 12029 otherwise.
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

class SocketListener : public ftp::Listener {
 public:
  SocketListener(Fd socket, Endpoint bound) : socket_(std::move(socket)), bound_(std::move(bound)) {}
  Endpoint Bound() const override { return bound_; }

  int32_t Accept(ftp::Stream& control, Deadline deadline, std::unique_ptr<ftp::Stream>& out) override {
    const int controlFd = DescriptorOf(control);
    const Endpoint server = control.Peer();
    for (;;) {
      pollfd p[2] = {{socket_.get(), POLLIN, 0}, {controlFd, POLLIN, 0}};
      if (PollUntil(p, 2, deadline) == 0) return ERROR_INTERNET_TIMEOUT;
      if (!(p[0].revents & POLLIN)) return 0;
      sockaddr_storage from{};
      socklen_t length = sizeof from;
      Fd s(::accept4(socket_.get(), reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC));
      if (!s) {
        if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
        return ERROR_INTERNET_CANNOT_CONNECT;
      }
      if (!ftp::SameHost(EndpointOf(from), server)) continue;
      out = std::make_unique<SocketStream>(std::move(s), false);
      return 0;
    }
  }

 private:
  Fd socket_;
  Endpoint bound_;
};

void CopyRest(SocketStream& stream, ftp::LocalFile& file, milliseconds idle, Flow& flow) {
  auto buffer = std::make_unique<char[]>(ftp::kReceiveBuffer);
  for (;;) {
    size_t got = 0;
    if (int32_t err = stream.Read(buffer.get(), ftp::kReceiveBuffer, Clock::now() + idle, got)) {
      return flow.Fail(Flow::Failed::Network, err);
    }
    if (got == 0) return;
    if (int32_t err = file.Write(buffer.get(), got)) return flow.Fail(Flow::Failed::Local, err);
    flow.Moved(got);
  }
}

}  // namespace

int PollUntil(pollfd* fds, nfds_t count, Deadline deadline) {
  for (;;) {
    const int r = ::poll(fds, count, RemainingMs(deadline));
    if (r >= 0 || errno != EINTR) return r;
  }
}

int32_t WaitFor(int fd, short events, Deadline deadline) {
  pollfd p{fd, events, 0};
  return PollUntil(&p, 1, deadline) == 0 ? ERROR_INTERNET_TIMEOUT : 0;
}

int32_t ErrorFromSocket(int err) {
  switch (err) {
    case ECONNRESET: return ERROR_INTERNET_CONNECTION_RESET;
    case EAGAIN: case ETIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case ECONNREFUSED: case ENETUNREACH: case EHOSTUNREACH: case EADDRNOTAVAIL: return ERROR_INTERNET_CANNOT_CONNECT;
    default: return ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

SocketStream::SocketStream(Fd socket, bool quickAck) : socket_(std::move(socket)), quickAck_(quickAck) {
  sockaddr_storage a{};
  socklen_t length = sizeof a;
  ::getpeername(socket_.get(), reinterpret_cast<sockaddr*>(&a), &length);
  peer_ = EndpointOf(a);
  length = sizeof a;
  ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&a), &length);
  local_ = EndpointOf(a);
  // Each piece goes out as it is written: with Nagle's algorithm a command, or a piece of an upload smaller than
  // a segment, would wait for the acknowledgement of the one before.
  SetNoDelay(socket_.get());
}

int32_t SocketStream::Read(char* data, size_t size, Deadline deadline, size_t& got) {
  got = 0;
  for (;;) {
    const ssize_t n = ::recv(socket_.get(), data, size, MSG_DONTWAIT);
    if (n >= 0) {
      if (quickAck_) AcknowledgeNow(socket_.get());
      got = static_cast<size_t>(n);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return ErrorFromSocket(errno);
    if (int32_t err = WaitFor(socket_.get(), POLLIN, deadline)) return err;
  }
}

int32_t SocketStream::Write(const char* data, size_t size, Deadline deadline) {
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::send(socket_.get(), data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return ErrorFromSocket(errno);
    if (int32_t err = WaitFor(socket_.get(), POLLOUT, deadline)) return err;
  }
  return 0;
}

int32_t SocketStream::Shutdown(Deadline) {
  if (::shutdown(socket_.get(), SHUT_WR) != 0 && errno != ENOTCONN) return ErrorFromSocket(errno);
  return 0;
}

// socket -> pipe -> file: the data never enters user space. Falls back to recv/write where the file system or the
// socket does not splice.
bool SocketStream::ReceiveInto(ftp::LocalFile& local, milliseconds idle, Flow& flow) {
  const int file = DescriptorOf(local);
  int fds[2];
  if (file < 0 || ::pipe2(fds, O_CLOEXEC) != 0) return false;
  Fd readEnd(fds[0]), writeEnd(fds[1]);
  ::fcntl(writeEnd.get(), F_SETPIPE_SZ, static_cast<int>(kSpliceChunk));
  SetIoTimeouts(socket_.get(), idle);
  const int socket = socket_.get();
  for (;;) {
    const ssize_t n = ::splice(socket, nullptr, writeEnd.get(), nullptr, kSpliceChunk, SPLICE_F_MOVE | SPLICE_F_MORE);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      if ((errno == EINVAL || errno == ENOSYS) && flow.bytes == 0) return false;
      flow.Fail(Flow::Failed::Network, ErrorFromSocket(errno));
      return true;
    }
    size_t left = static_cast<size_t>(n);
    while (left > 0) {
      const ssize_t m = ::splice(readEnd.get(), nullptr, file, nullptr, left, SPLICE_F_MOVE | SPLICE_F_MORE);
      if (m > 0) {
        left -= static_cast<size_t>(m);
        flow.Moved(static_cast<size_t>(m));
        continue;
      }
      if (m < 0 && errno == EINTR) continue;
      if (m < 0 && (errno == EINVAL || errno == ENOSYS)) {
        // The file will not take spliced pages: empty the pipe by hand and copy from now on.
        auto buffer = std::make_unique<char[]>(ftp::kReceiveBuffer);
        while (left > 0) {
          const ssize_t r = ::read(readEnd.get(), buffer.get(), std::min(left, ftp::kReceiveBuffer));
          if (r <= 0) {
            flow.Fail(Flow::Failed::Local, ErrorFromErrno(r < 0 ? errno : EIO));
            return true;
          }
          if (int32_t err = local.Write(buffer.get(), static_cast<size_t>(r))) {
            flow.Fail(Flow::Failed::Local, err);
            return true;
          }
          left -= static_cast<size_t>(r);
          flow.Moved(static_cast<size_t>(r));
        }
        CopyRest(*this, local, idle, flow);
        return true;
      }
      flow.Fail(Flow::Failed::Local, ErrorFromErrno(m < 0 ? errno : EIO));
      return true;
    }
  }
}

int32_t PosixNetwork::Connect(const std::string& host, uint16_t port, Deadline deadline, Role role,
                              std::unique_ptr<ftp::Stream>& out) {
  addrinfo* found = nullptr;
  if (!Resolve(host, port, role == Role::Data, found)) return ERROR_INTERNET_NAME_NOT_RESOLVED;
  int32_t err = ERROR_INTERNET_CANNOT_CONNECT;
  Fd socket;
  for (addrinfo* a = found; a; a = a->ai_next) {
    err = ConnectTo(a->ai_addr, a->ai_addrlen, deadline, socket);
    if (err == 0 || err == ERROR_INTERNET_TIMEOUT) break;
  }
  ::freeaddrinfo(found);
  if (err) return err;
  out = std::make_unique<SocketStream>(std::move(socket), role == Role::Control);
  return 0;
}

int32_t PosixNetwork::Listen(const Endpoint& local, std::unique_ptr<ftp::Listener>& out) {
  addrinfo* found = nullptr;
  if (!Resolve(local.address, 0, true, found)) return ERROR_INTERNET_CANNOT_CONNECT;
  sockaddr_storage bound{};
  std::copy_n(reinterpret_cast<const char*>(found->ai_addr), found->ai_addrlen, reinterpret_cast<char*>(&bound));
  const socklen_t boundLength = found->ai_addrlen;
  ::freeaddrinfo(found);
  Fd s(::socket(bound.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  socklen_t length = sizeof bound;
  if (!s || ::bind(s.get(), reinterpret_cast<sockaddr*>(&bound), boundLength) || ::listen(s.get(), 1) ||
      ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&bound), &length)) {
    return ERROR_INTERNET_CANNOT_CONNECT;
  }
  out = std::make_unique<SocketListener>(std::move(s), EndpointOf(bound));
  return 0;
}

int DescriptorOf(const ftp::Stream& stream) {
  if (auto* s = dynamic_cast<const PosixStream*>(&stream)) return s->fd();
  return -1;
}

}  // namespace kadroo::posix
