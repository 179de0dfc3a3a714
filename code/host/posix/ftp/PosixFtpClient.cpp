#include "host/posix/ftp/PosixFtpClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "host/posix/LocalPath.h"
#include "host/posix/ftp/FtpProtocol.h"

namespace kadroo::posix {
namespace {

using namespace std::chrono;
using Clock = steady_clock;
using Deadline = Clock::time_point;
using ftp::Reply;

constexpr int32_t ERROR_FILE_EXISTS = 80;
constexpr int32_t ERROR_INTERNET_INCORRECT_USER_NAME = 12013;
constexpr int32_t ERROR_INTERNET_INCORRECT_PASSWORD = 12014;
constexpr size_t kMaxReplySize = 1 << 20;   // a server that talks more than this in one reply is broken
constexpr uint64_t kMaxListing = 4 << 20;   // a directory listing read to find one entry
constexpr size_t kSpliceChunk = 1 << 20;    // one pipe's worth
constexpr size_t kCopyBuffer = 256 << 10;   // downloads where splice is not offered
// Uploads: small enough to stay in the core's cache between read and send, large enough that the calls cost little
// (16 KiB took about three quarters more CPU per GiB).
constexpr size_t kSendBuffer = 64 << 10;
constexpr milliseconds kQuitWait{5'000};    // closing never hangs for a full reply timeout

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

int RemainingMs(Deadline deadline) {
  const auto ms = duration_cast<milliseconds>(deadline - Clock::now()).count();
  return ms <= 0 ? 0 : ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Polls until one of the descriptors is ready; the number ready, 0 on timeout.
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

int32_t ErrorForReply(int code) {
  switch (code) {
    case 421: return ERROR_FTP_DROPPED;
    case 425: return ERROR_INTERNET_CANNOT_CONNECT;
    case 426: return ERROR_INTERNET_CONNECTION_ABORTED;
    default: return ERROR_INTERNET_EXTENDED_ERROR;
  }
}

bool Refused(const Reply& reply) { return reply.code >= 500 && reply.code < 600; }

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

bool HasLineBreakOrNul(TextView text) {
  return text.find_first_of(TextView(u"\r\n\0", 3)) != TextView::npos;
}

// How a stream between a socket and a file ended.
struct Flow {
  enum class Failed { None, Network, Local };
  uint64_t bytes = 0;
  Failed failed = Failed::None;
  int err = 0;
  void Fail(Failed where, int e) {
    failed = where;
    err = e;
  }
};

bool WriteAll(int fd, const char* data, size_t size, Flow& flow) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      flow.Fail(Flow::Failed::Local, errno);
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void CopySocketToFile(int socket, int file, Flow& flow) {
  auto buffer = std::make_unique<char[]>(kCopyBuffer);
  for (;;) {
    const ssize_t n = ::recv(socket, buffer.get(), kCopyBuffer, 0);
    if (n == 0) return;
    if (n < 0) {
      if (errno == EINTR) continue;
      return flow.Fail(Flow::Failed::Network, errno);
    }
    if (!WriteAll(file, buffer.get(), static_cast<size_t>(n), flow)) return;
    flow.bytes += static_cast<uint64_t>(n);
  }
}

// socket -> pipe -> file: the data never enters user space. Falls back to recv/write where the file system or the
// socket does not splice.
void ReceiveToFile(int socket, int file, Flow& flow) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return CopySocketToFile(socket, file, flow);
  Fd readEnd(fds[0]), writeEnd(fds[1]);
  ::fcntl(writeEnd.get(), F_SETPIPE_SZ, static_cast<int>(kSpliceChunk));
  for (;;) {
    const ssize_t n = ::splice(socket, nullptr, writeEnd.get(), nullptr, kSpliceChunk, SPLICE_F_MOVE | SPLICE_F_MORE);
    if (n == 0) return;
    if (n < 0) {
      if (errno == EINTR) continue;
      if ((errno == EINVAL || errno == ENOSYS) && flow.bytes == 0) return CopySocketToFile(socket, file, flow);
      return flow.Fail(Flow::Failed::Network, errno);
    }
    size_t left = static_cast<size_t>(n);
    while (left > 0) {
      const ssize_t m = ::splice(readEnd.get(), nullptr, file, nullptr, left, SPLICE_F_MOVE | SPLICE_F_MORE);
      if (m > 0) {
        left -= static_cast<size_t>(m);
        flow.bytes += static_cast<uint64_t>(m);
        continue;
      }
      if (m < 0 && errno == EINTR) continue;
      if (m < 0 && (errno == EINVAL || errno == ENOSYS)) {
        // The file will not take spliced pages: empty the pipe by hand and copy from now on.
        auto buffer = std::make_unique<char[]>(kCopyBuffer);
        while (left > 0) {
          const ssize_t r = ::read(readEnd.get(), buffer.get(), std::min(left, kCopyBuffer));
          if (r <= 0) return flow.Fail(Flow::Failed::Local, r < 0 ? errno : EIO);
          if (!WriteAll(file, buffer.get(), static_cast<size_t>(r), flow)) return;
          left -= static_cast<size_t>(r);
          flow.bytes += static_cast<uint64_t>(r);
        }
        return CopySocketToFile(socket, file, flow);
      }
      return flow.Fail(Flow::Failed::Local, m < 0 ? errno : EIO);
    }
  }
}

// read and send rather than sendfile: into a server on the same machine, sendfile measured a third slower.
void CopyFileToSocket(int file, int socket, Flow& flow) {
  auto buffer = std::make_unique<char[]>(kSendBuffer);
  for (;;) {
    const ssize_t n = ::read(file, buffer.get(), kSendBuffer);
    if (n == 0) return;
    if (n < 0) {
      if (errno == EINTR) continue;
      return flow.Fail(Flow::Failed::Local, errno);
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t m = ::send(socket, buffer.get() + done, static_cast<size_t>(n - done), MSG_NOSIGNAL);
      if (m < 0) {
        if (errno == EINTR) continue;
        return flow.Fail(Flow::Failed::Network, errno);
      }
      done += m;
      flow.bytes += static_cast<uint64_t>(m);
    }
  }
}

int32_t FlowError(const Flow& flow) {
  if (flow.failed == Flow::Failed::Local) return ErrorFromErrno(flow.err);
  return ErrorFromSocket(flow.err);
}

ftp::Today TodayUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

// A file created in `dir` (ending in '/', or empty for the working directory), removed on destruction unless
// committed.
class TempFile {
 public:
  // `error` gets the errno when the file could not be created.
  TempFile(const std::string& dir, int& error) {
    std::random_device seed;
    std::mt19937_64 random(seed() ^ static_cast<uint64_t>(::getpid()) ^
                           static_cast<uint64_t>(Clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
      char name[40];
      std::snprintf(name, sizeof name, ".kadroo-%016llx.part", static_cast<unsigned long long>(random()));
      path_ = dir + name;
      fd_.reset(::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
      if (fd_) return;
      if (errno != EEXIST) break;
    }
    error = errno;
    path_.clear();
  }
  ~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  int fd() const { return fd_.get(); }
  // Closes the file and renames it over `target`, with the target's permissions; the platform code on failure.
  int32_t RenameOver(const std::string& target) {
    struct stat st;
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd_.get(), st.st_mode & 07777);
    if (::close(fd_.release()) != 0) return ErrorFromErrno(errno);
    if (::rename(path_.c_str(), target.c_str()) != 0) return ErrorFromErrno(errno);
    path_.clear();
    return 0;
  }
  // Writes the content into `target` itself, for a target whose directory we may not write.
  int32_t CopyInto(const std::string& target) {
    if (::lseek(fd_.get(), 0, SEEK_SET) != 0) return ErrorFromErrno(errno);
    Fd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out) return ErrorFromErrno(errno);
    auto buffer = std::make_unique<char[]>(kCopyBuffer);
    Flow flow;
    for (;;) {
      const ssize_t n = ::read(fd_.get(), buffer.get(), kCopyBuffer);
      if (n == 0) break;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return ErrorFromErrno(errno);
      if (!WriteAll(out.get(), buffer.get(), static_cast<size_t>(n), flow)) return ErrorFromErrno(flow.err);
    }
    if (::close(out.release()) != 0) return ErrorFromErrno(errno);
    return 0;
  }

 private:
  std::string path_;
  Fd fd_;
};

std::string TemporaryDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir && *dir ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

}  // namespace

// One logged-in control connection and what it learned of its server.
struct PosixFtpClient::Connection {
  Handle session = 0;
  uint32_t flags = 0;
  FtpTimeouts timeouts;
  Fd control;
  sockaddr_storage peer{};
  sockaddr_storage local{};
  std::string input;          // received and not yet parsed
  ftp::ReplyParser parser;
  bool dead = false;          // closed, reset, timed out or 421: every later operation gives 12111
  bool binary = false;        // TYPE I sent
  bool noEpsv = false, noEprt = false;
  std::optional<bool> mlst;   // FEAT asked, or known from an earlier connection
  std::string server;         // address, port and user, the key of what the client remembers of the server
  std::optional<std::string> home;
  Handle find = 0;

  void Kill() {
    dead = true;
    control.reset();
  }

  int32_t Send(std::string_view line) {
    if (dead) return ERROR_FTP_DROPPED;
    std::string out(line);
    out += "\r\n";
    const Deadline deadline = Clock::now() + timeouts.reply;
    for (size_t done = 0; done < out.size();) {
      pollfd p{control.get(), POLLOUT, 0};
      if (PollUntil(&p, 1, deadline) == 0) return Fail(ERROR_INTERNET_TIMEOUT);
      const ssize_t n = ::send(control.get(), out.data() + done, out.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return Fail(ErrorFromSocket(errno));
      }
      done += static_cast<size_t>(n);
    }
    return 0;
  }

  // Reads one whole reply. A 421 kills the connection and gives 12111.
  int32_t Read(Reply& reply, milliseconds timeout) { return ReadUntil(reply, Clock::now() + timeout); }

  // Reads replies until a final one; preliminary replies do not extend the wait, so a server that keeps sending
  // them cannot hold the command beyond its timeout.
  int32_t ReadFinal(Reply& reply, milliseconds timeout) {
    const Deadline deadline = Clock::now() + timeout;
    do {
      if (int32_t err = ReadUntil(reply, deadline)) return err;
    } while (reply.Preliminary());
    return 0;
  }

  int32_t ReadUntil(Reply& reply, Deadline deadline) {
    if (dead) return ERROR_FTP_DROPPED;
    size_t replySize = 0;
    for (;;) {
      size_t lf;
      while ((lf = input.find('\n')) != std::string::npos) {
        std::string_view line(input.data(), lf);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        auto done = parser.Feed(line);
        replySize += lf + 1;
        input.erase(0, lf + 1);
        if (done) {
          reply = std::move(*done);
          if (reply.code < 0) return Fail(ERROR_INTERNET_CONNECTION_ABORTED);
          if (reply.code == 421) return Fail(ERROR_FTP_DROPPED);
          return 0;
        }
      }
      if (replySize + input.size() > kMaxReplySize) return Fail(ERROR_INTERNET_CONNECTION_ABORTED);
      pollfd p{control.get(), POLLIN, 0};
      if (PollUntil(&p, 1, deadline) == 0) return Fail(ERROR_INTERNET_TIMEOUT);
      char buffer[4096];
      const ssize_t n = ::recv(control.get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (n == 0) return Fail(ERROR_INTERNET_CONNECTION_ABORTED);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return Fail(ErrorFromSocket(errno));
      }
      AcknowledgeNow(control.get());
      input.append(buffer, static_cast<size_t>(n));
    }
  }

  // Sends `line` and reads its final reply.
  int32_t Command(std::string_view line, Reply& reply) {
    if (int32_t err = Send(line)) return err;
    return ReadFinal(reply, timeouts.reply);
  }

  // Sends `line`; 0 when the reply is of the class of `expected` (2xx for 250), else the error it stands for.
  int32_t Expect(std::string_view line, int expected) {
    Reply reply;
    if (int32_t err = Command(line, reply)) return err;
    return reply.code / 100 == expected / 100 ? 0 : ErrorForReply(reply.code);
  }

  int32_t Fail(int32_t error) {
    Kill();
    return error;
  }

  int32_t EnsureBinary() {
    if (binary) return 0;
    if (int32_t err = Expect("TYPE I", 200)) return err;
    binary = true;
    return 0;
  }

  struct DataChannel {
    Fd listener;  // active mode until the server connected
    Fd socket;
  };

  int32_t OpenPassive(DataChannel& channel) {
    std::optional<uint16_t> port;
    Reply reply;
    if (!noEpsv) {
      if (int32_t err = Command("EPSV", reply)) return err;
      if (reply.code == 229) {
        auto address = ftp::ParseEpsvReply(reply.text);
        if (!address) return ERROR_INTERNET_EXTENDED_ERROR;
        port = address->port;
      } else if (Refused(reply)) {
        noEpsv = true;
      } else {
        return ErrorForReply(reply.code);
      }
    }
    if (!port) {
      if (peer.ss_family != AF_INET) return ERROR_INTERNET_EXTENDED_ERROR;  // PASV speaks IPv4 only
      if (int32_t err = Command("PASV", reply)) return err;
      if (reply.code != 227) return ErrorForReply(reply.code);
      auto address = ftp::ParsePasvReply(reply.text.substr(3));
      if (!address) return ERROR_INTERNET_EXTENDED_ERROR;
      port = address->port;
    }
    sockaddr_storage target = peer;
    SetPort(target, *port);
    const int32_t err = ConnectTo(reinterpret_cast<const sockaddr*>(&target), LengthOf(target),
                                  Clock::now() + timeouts.connect, channel.socket);
    return err == ERROR_INTERNET_TIMEOUT ? err : err ? ERROR_INTERNET_CANNOT_CONNECT : 0;
  }

  int32_t OpenActive(DataChannel& channel) {
    sockaddr_storage bound = local;
    SetPort(bound, 0);
    channel.listener.reset(::socket(bound.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    socklen_t length = sizeof bound;
    if (!channel.listener || ::bind(channel.listener.get(), reinterpret_cast<sockaddr*>(&bound), LengthOf(bound)) ||
        ::listen(channel.listener.get(), 1) ||
        ::getsockname(channel.listener.get(), reinterpret_cast<sockaddr*>(&bound), &length)) {
      return ERROR_INTERNET_CANNOT_CONNECT;
    }
    const std::string address = AddressText(bound);
    const uint16_t port = PortOf(bound);
    Reply reply;
    if (!noEprt) {
      const int family = bound.ss_family == AF_INET6 ? 2 : 1;
      if (int32_t err = Command("EPRT " + ftp::FormatEprtArgument(family, address, port), reply)) return err;
      if (reply.code == 200) return 0;
      if (!Refused(reply)) return ErrorForReply(reply.code);
      noEprt = true;
    }
    auto argument = ftp::FormatPortArgument(address, port);
    if (!argument) return ERROR_INTERNET_EXTENDED_ERROR;
    return Expect("PORT " + *argument, 200);
  }

  // Waits for the server to connect in active mode; a reply on the control connection meanwhile ends the wait.
  // Only the server's own address may connect: anyone else who finds the port is turned away, and the wait goes
  // on until the timeout.
  int32_t AcceptData(DataChannel& channel) {
    if (channel.socket) return 0;
    const Deadline deadline = Clock::now() + timeouts.connect;
    for (;;) {
      pollfd p[2] = {{channel.listener.get(), POLLIN, 0}, {control.get(), POLLIN, 0}};
      if (PollUntil(p, 2, deadline) == 0) return ERROR_INTERNET_TIMEOUT;
      if (!(p[0].revents & POLLIN)) {
        Reply reply;
        if (int32_t err = Read(reply, timeouts.reply)) return err;
        return ErrorForReply(reply.code);
      }
      sockaddr_storage from{};
      socklen_t length = sizeof from;
      Fd s(::accept4(channel.listener.get(), reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC));
      if (!s) {
        if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
        return ERROR_INTERNET_CANNOT_CONNECT;
      }
      if (!SameHost(from, peer)) continue;
      channel.socket = std::move(s);
      channel.listener.reset();
      return 0;
    }
  }

  // Sends TYPE I, opens the data connection and sends `command`; on 0 the server is transferring and `started`
  // holds its preliminary reply.
  int32_t StartTransfer(std::string_view command, DataChannel& channel, Reply& started) {
    if (int32_t err = EnsureBinary()) return err;
    if (int32_t err = (flags & INTERNET_FLAG_PASSIVE) ? OpenPassive(channel) : OpenActive(channel)) return err;
    if (int32_t err = Send(command)) return err;
    if (int32_t err = Read(started, timeouts.reply)) return err;
    if (!started.Preliminary()) return ErrorForReply(started.code);
    if (int32_t err = AcceptData(channel)) return err;
    SetIoTimeouts(channel.socket.get(), timeouts.data);
    // Each piece of an upload goes out as it is written: with Nagle's algorithm a piece smaller than a segment
    // would wait for the acknowledgement of the one before.
    SetNoDelay(channel.socket.get());
    return 0;
  }

  // Reads the reply that ends a transfer: 226 or 250 is success.
  int32_t FinishTransfer() {
    Reply reply;
    if (int32_t err = Read(reply, timeouts.reply)) return err;
    if (reply.code == 226 || reply.code == 250) return 0;
    return ErrorForReply(reply.code);
  }

  // Ends a transfer whose data stream failed: an idle data connection kills the session (the server may be gone);
  // otherwise the server's final reply is read and the stream's own error reported.
  int32_t AbandonTransfer(DataChannel& channel, const Flow& flow) {
    channel.socket.reset();
    if (flow.failed == Flow::Failed::Network && (flow.err == EAGAIN || flow.err == ETIMEDOUT)) {
      return Fail(ERROR_INTERNET_TIMEOUT);
    }
    Reply reply;
    if (int32_t err = Read(reply, timeouts.reply)) return err;
    // The server's word on a broken connection is steadier than which of EPIPE or ECONNRESET the race gave us.
    if (flow.failed == Flow::Failed::Network && !reply.Positive()) return ErrorForReply(reply.code);
    return FlowError(flow);
  }

  // LISTs `dir` and keeps the first entry that `match` accepts.
  int32_t ListMatch(std::string_view dir, const std::function<bool(const ftp::Entry&)>& match,
                    std::optional<ftp::Entry>& found) {
    DataChannel channel;
    Reply started;
    const std::string command = dir.empty() ? std::string("LIST") : "LIST " + std::string(dir);
    if (int32_t err = StartTransfer(command, channel, started)) return err;
    const ftp::Today today = TodayUtc();
    std::string pending;
    char buffer[16384];
    Flow flow;
    // A find needs one entry: a listing that goes on past a few MiB or past the timeout is not worth waiting for.
    const Deadline deadline = Clock::now() + timeouts.reply;
    uint64_t total = 0;
    auto giveUp = [&] {
      channel.socket.reset();
      Kill();  // the server is still sending; its late replies must not be taken for answers to what follows
      return ERROR_INTERNET_EXTENDED_ERROR;
    };
    for (;;) {
      pollfd p{channel.socket.get(), POLLIN, 0};
      if (Clock::now() >= deadline || PollUntil(&p, 1, deadline) == 0) return giveUp();
      const ssize_t n = ::recv(channel.socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n > 0 && (total += static_cast<uint64_t>(n)) > kMaxListing) return giveUp();
      if (n < 0) {
        flow.Fail(Flow::Failed::Network, errno);
        return AbandonTransfer(channel, flow);
      }
      if (n > 0) pending.append(buffer, static_cast<size_t>(n));
      size_t start = 0, lf;
      while ((lf = pending.find('\n', start)) != std::string::npos || (n == 0 && start < pending.size())) {
        if (lf == std::string::npos) lf = pending.size();
        if (!found) {
          auto entry = ftp::ParseListLine(std::string_view(pending).substr(start, lf - start), today);
          if (entry && match(*entry)) found = std::move(entry);
        }
        start = lf + 1;
      }
      pending.erase(0, std::min(start, pending.size()));
      if (pending.size() > 65536) pending.clear();  // no listing line is that long
      if (n == 0) break;
    }
    channel.socket.reset();
    return FinishTransfer();
  }

  // True (on 0) when `path` is a directory: CWD into it and back to where the session started.
  int32_t ProbeDirectory(std::string_view path, bool& isDirectory) {
    isDirectory = false;
    Reply reply;
    if (!home) {
      if (int32_t err = Command("PWD", reply)) return err;
      if (reply.code != 257) return 0;
      home = ftp::ParsePwdReply(reply.text);
      if (!home) return 0;
    }
    if (int32_t err = Command("CWD " + std::string(path), reply)) return err;
    if (reply.code != 250) return 0;
    isDirectory = true;
    return Command("CWD " + *home, reply);
  }
};

struct PosixFtpClient::Object {
  enum class Kind { Session, Connection, Find } kind;
  Handle parent = 0;  // the session of a connection, the connection of a find
  std::unique_ptr<Connection> connection;
};

FtpTimeouts FtpTimeouts::FromEnvironment() {
  FtpTimeouts timeouts;
  if (const char* value = std::getenv("KADROOA_FTP_TIMEOUT_MS")) {
    constexpr long long kDay = 24LL * 60 * 60 * 1000;
    char* end = nullptr;
    errno = 0;
    const long long ms = std::strtoll(value, &end, 10);
    if (end != value && *end == '\0' && errno == 0 && ms > 0 && ms <= kDay) {
      timeouts.connect = timeouts.reply = timeouts.data = milliseconds(ms);
    } else {
      std::fprintf(stderr,
                   "kadrooa: KADROOA_FTP_TIMEOUT_MS=%s ignored: it must be a number of milliseconds from 1 to %lld; "
                   "the default of %lld ms applies\n",
                   value, kDay, static_cast<long long>(timeouts.reply.count()));
    }
  }
  return timeouts;
}

PosixFtpClient::PosixFtpClient(LastError& lastError, CodePage& codePage, FtpTimeouts timeouts)
    : lastError_(lastError), codePage_(codePage), timeouts_(timeouts) {
  // A file-size limit must end a download with an error the control can report, not end the process.
  ::signal(SIGXFSZ, SIG_IGN);
}

PosixFtpClient::~PosixFtpClient() {
  while (!handles_.empty()) Close(handles_.begin()->first);
}

template <typename T>
T PosixFtpClient::Finish(int32_t error, T result) {
  lastError_.code = error;
  return error ? T{} : result;
}

Handle PosixFtpClient::Add(std::unique_ptr<Object> object) {
  while (handles_.count(next_)) next_ = next_ == INT32_MAX ? 1 : next_ + 1;
  const Handle handle = next_;
  next_ = next_ == INT32_MAX ? 1 : next_ + 1;
  handles_.emplace(handle, std::move(object));
  return handle;
}

PosixFtpClient::Connection* PosixFtpClient::Lookup(Handle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    lastError_.code = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (it->second->kind != Object::Kind::Connection) {
    lastError_.code = ERROR_INTERNET_INCORRECT_HANDLE_TYPE;
    return nullptr;
  }
  Connection* c = it->second->connection.get();
  if (c->dead) {
    lastError_.code = ERROR_FTP_DROPPED;
    return nullptr;
  }
  return c;
}

void PosixFtpClient::Close(Handle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return;
  std::unique_ptr<Object> object = std::move(it->second);
  handles_.erase(it);
  switch (object->kind) {
    case Object::Kind::Session: {
      std::vector<Handle> children;
      for (auto& [h, o] : handles_) {
        if (o->kind == Object::Kind::Connection && o->parent == handle) children.push_back(h);
      }
      for (Handle h : children) Close(h);
      break;
    }
    case Object::Kind::Connection: {
      Connection& c = *object->connection;
      if (c.find) handles_.erase(c.find);
      if (!c.dead && c.Send("QUIT") == 0) {
        Reply reply;
        c.Read(reply, std::min(c.timeouts.reply, kQuitWait));
      }
      break;
    }
    case Object::Kind::Find: {
      auto parent = handles_.find(object->parent);
      if (parent != handles_.end()) parent->second->connection->find = 0;
      break;
    }
  }
}

Handle PosixFtpClient::InternetOpen(TextView, uint32_t, TextView, TextView, uint32_t) {
  auto object = std::make_unique<Object>();
  object->kind = Object::Kind::Session;
  return Finish(0, Add(std::move(object)));
}

namespace {

// The text as it goes on the control connection, or 123 / 1113.
int32_t ToWire(CodePage& codePage, TextView text, std::string& out) {
  if (HasLineBreakOrNul(text)) return ERROR_INVALID_NAME;
  auto bytes = codePage.ToAnsi(text);
  if (!bytes) return ERROR_NO_UNICODE_TRANSLATION;
  out = std::move(*bytes);
  return 0;
}

}  // namespace

Handle PosixFtpClient::InternetConnect(Handle session, TextView server, uint16_t port, TextView user,
                                       TextView password, uint32_t service, uint32_t flags, uintptr_t) {
  auto it = handles_.find(session);
  if (it == handles_.end()) return Finish(ERROR_INVALID_HANDLE, Handle{0});
  if (it->second->kind != Object::Kind::Session) return Finish(ERROR_INTERNET_INCORRECT_HANDLE_TYPE, Handle{0});
  if (service != INTERNET_SERVICE_FTP || user.empty()) return Finish(ERROR_INVALID_PARAMETER, Handle{0});
  for (TextView text : {server, user, password}) {
    if (HasLineBreakOrNul(text)) return Finish(ERROR_INVALID_NAME, Handle{0});
  }
  std::string host, wireUser, wirePassword;
  for (auto [text, out] : {std::pair{server, &host}, {user, &wireUser}, {password, &wirePassword}}) {
    if (int32_t err = ToWire(codePage_, text, *out)) return Finish(err, Handle{0});
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) return Finish(ERROR_INTERNET_NAME_NOT_RESOLVED, Handle{0});

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service_ = std::to_string(port == 0 ? INTERNET_DEFAULT_FTP_PORT : port);
  if (::getaddrinfo(host.c_str(), service_.c_str(), &hints, &found) != 0 || !found) {
    return Finish(ERROR_INTERNET_NAME_NOT_RESOLVED, Handle{0});
  }
  auto c = std::make_unique<Connection>();
  c->session = session;
  c->flags = flags;
  c->timeouts = timeouts_;
  const Deadline deadline = Clock::now() + timeouts_.connect;
  int32_t err = ERROR_INTERNET_CANNOT_CONNECT;
  for (addrinfo* a = found; a; a = a->ai_next) {
    err = ConnectTo(a->ai_addr, a->ai_addrlen, deadline, c->control);
    if (err == 0 || err == ERROR_INTERNET_TIMEOUT) break;
  }
  ::freeaddrinfo(found);
  if (err) return Finish(err, Handle{0});

  socklen_t length = sizeof c->peer;
  ::getpeername(c->control.get(), reinterpret_cast<sockaddr*>(&c->peer), &length);
  length = sizeof c->local;
  ::getsockname(c->control.get(), reinterpret_cast<sockaddr*>(&c->local), &length);
  const int one = 1;
  ::setsockopt(c->control.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  Reply reply;
  if ((err = c->ReadFinal(reply, timeouts_.reply))) return Finish(err, Handle{0});
  if (reply.code != 220) return Finish(ERROR_INTERNET_CANNOT_CONNECT, Handle{0});
  if ((err = c->Command("USER " + wireUser, reply))) return Finish(err, Handle{0});
  if (reply.code == 530) return Finish(ERROR_INTERNET_INCORRECT_USER_NAME, Handle{0});
  if (reply.code == 331) {
    if ((err = c->Command("PASS " + wirePassword, reply))) return Finish(err, Handle{0});
    if (reply.code == 530) return Finish(ERROR_INTERNET_INCORRECT_PASSWORD, Handle{0});
  }
  if (reply.code != 230 && reply.code != 202) return Finish(ERROR_INTERNET_LOGIN_FAILURE, Handle{0});
  c->server = AddressText(c->peer) + " " + std::to_string(PortOf(c->peer)) + " " + wireUser;
  if (auto known = mlstOffered_.find(c->server); known != mlstOffered_.end()) c->mlst = known->second;
  auto object = std::make_unique<Object>();
  object->kind = Object::Kind::Connection;
  object->parent = session;
  object->connection = std::move(c);
  return Finish(0, Add(std::move(object)));
}

bool PosixFtpClient::FtpGetFile(Handle connect, TextView remote, TextView local, bool failIfExists, uint32_t,
                                uint32_t, uintptr_t) {
  // Every transfer type is binary: the control never asks for ASCII and a document must arrive unchanged.
  Connection* c = Lookup(connect);
  if (!c) return false;
  std::string path;
  if (int32_t err = ToWire(codePage_, remote, path)) return Finish(err, false);
  int32_t err = 0;
  auto target = ToLocalPath(codePage_, local, &err);
  if (!target) return Finish(err, false);
  // What the system's client does with the target: it writes through a link, refuses a read-only file (root
  // included: the attribute, not the permission, decides there), and never leaves an empty download in place
  // of an existing file.
  std::string destination = *target;
  struct stat st;
  const bool exists = ::stat(target->c_str(), &st) == 0;
  if (exists) {
    if (!S_ISREG(st.st_mode)) return Finish(ERROR_ACCESS_DENIED, false);  // a directory, a FIFO, a device
    if (failIfExists) return Finish(ERROR_FILE_EXISTS, false);
    if ((st.st_mode & 0222) == 0 || ::access(target->c_str(), W_OK) != 0) return Finish(ERROR_ACCESS_DENIED, false);
    if (char* resolved = ::realpath(target->c_str(), nullptr)) {
      destination = resolved;
      std::free(resolved);
    }
  }
  const size_t slash = destination.rfind('/');
  int createError = 0;
  // Beside the target, so that it replaces the target in one rename; elsewhere when its directory is closed to us.
  auto temp = std::make_unique<TempFile>(slash == std::string::npos ? "" : destination.substr(0, slash + 1),
                                         createError);
  const bool beside = temp->fd() >= 0;
  if (!beside) {
    if (createError != EACCES && createError != EPERM && createError != EROFS) {
      return Finish(ErrorFromErrno(createError), false);
    }
    if (!exists) return Finish(ErrorFromErrno(createError), false);
    temp = std::make_unique<TempFile>(TemporaryDirectory(), createError);
    if (temp->fd() < 0) return Finish(ErrorFromErrno(createError), false);
  }

  Connection::DataChannel channel;
  Reply started;
  if ((err = c->StartTransfer("RETR " + path, channel, started))) return Finish(err, false);
  Flow flow;
  ReceiveToFile(channel.socket.get(), temp->fd(), flow);
  if (flow.failed != Flow::Failed::None) return Finish(c->AbandonTransfer(channel, flow), false);
  channel.socket.reset();
  if ((err = c->FinishTransfer())) return Finish(err, false);
  // A server that announced the size and sent another amount lost the connection, or is sending something else.
  if (auto announced = ftp::ParseTransferSize(started.text); announced && flow.bytes != *announced) {
    return Finish(ERROR_INTERNET_CONNECTION_ABORTED, false);
  }
  if (flow.bytes == 0 && exists) return Finish(ERROR_HANDLE_EOF, false);
  return Finish(beside ? temp->RenameOver(destination) : temp->CopyInto(destination), true);
}

bool PosixFtpClient::FtpPutFile(Handle connect, TextView local, TextView remote, uint32_t, uintptr_t) {
  Connection* c = Lookup(connect);
  if (!c) return false;
  std::string path;
  if (int32_t err = ToWire(codePage_, remote, path)) return Finish(err, false);
  int32_t err = 0;
  auto source = ToLocalPath(codePage_, local, &err);
  if (!source) return Finish(err, false);
  Fd file(::open(source->c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return Finish(ErrorFromErrno(errno), false);
  struct stat st;
  if (::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode)) return Finish(ERROR_ACCESS_DENIED, false);

  Connection::DataChannel channel;
  Reply started;
  if ((err = c->StartTransfer("STOR " + path, channel, started))) return Finish(err, false);
  Flow flow;
  CopyFileToSocket(file.get(), channel.socket.get(), flow);
  if (flow.failed != Flow::Failed::None) return Finish(c->AbandonTransfer(channel, flow), false);
  channel.socket.reset();
  return Finish(c->FinishTransfer(), true);
}

Handle PosixFtpClient::FtpFindFirstFile(Handle connect, TextView remote, FindData& record, uint32_t, uintptr_t) {
  Connection* c = Lookup(connect);
  if (!c) return 0;
  if (c->find) return Finish(ERROR_FTP_TRANSFER_IN_PROGRESS, Handle{0});
  std::string path;
  if (int32_t err = ToWire(codePage_, remote, path)) return Finish(err, Handle{0});
  if (path.empty()) path = ".";
  const std::string name(ftp::BaseName(path));
  const bool wildcard = name.find_first_of("*?") != std::string::npos;

  std::optional<ftp::Entry> entry;
  int32_t err = 0;
  Reply reply;
  auto run = [&]() -> int32_t {
    if (wildcard) {
      return c->ListMatch(ftp::DirName(path), [&](const ftp::Entry& e) { return ftp::WildcardMatch(name, e.name); },
                          entry);
    }
    if (!c->mlst) {
      if (int32_t e = c->Command("FEAT", reply)) return e;
      c->mlst = reply.code == 211 && ftp::FeatHas(reply.text, "MLST");
      mlstOffered_[c->server] = *c->mlst;
    }
    if (*c->mlst) {
      if (int32_t e = c->Command("MLST " + path, reply)) return e;
      if (reply.code == 250) {
        entry = ftp::ParseMlstReply(reply.text);
        if (entry) entry->name = ftp::BaseName(entry->name);
        return entry ? 0 : ERROR_INTERNET_EXTENDED_ERROR;
      }
      if (reply.code != 500 && reply.code != 502) return ErrorForReply(reply.code);
    }
    if (int32_t e = c->EnsureBinary()) return e;
    if (int32_t e = c->Command("SIZE " + path, reply)) return e;
    if (auto size = reply.code == 213 ? ftp::ParseSizeReply(reply.text) : std::nullopt) {
      entry = ftp::Entry{name, false, size, std::nullopt};
      if (int32_t e = c->Command("MDTM " + path, reply)) return e;
      if (reply.code == 213 && reply.text.size() > 4) entry->modified = ftp::ParseTimeVal(reply.text.substr(4));
      return 0;
    }
    if (!name.empty() && name != "." && name != "..") {
      if (int32_t e = c->ListMatch(ftp::DirName(path), [&](const ftp::Entry& x) { return x.name == name; }, entry)) {
        if (e != ERROR_INTERNET_EXTENDED_ERROR || c->dead) return e;
      }
      if (entry) return 0;
    }
    bool isDirectory = false;
    if (int32_t e = c->ProbeDirectory(path, isDirectory)) return e;
    if (isDirectory) entry = ftp::Entry{name.empty() ? path : name, true, std::nullopt, std::nullopt};
    return 0;
  };
  err = run();
  // A refusal within the search means that the path is not there.
  if (err == ERROR_INTERNET_EXTENDED_ERROR || (err == 0 && !entry)) return Finish(ERROR_NO_MORE_FILES, Handle{0});
  if (err) return Finish(err, Handle{0});

  record = FindData{};
  record.dwFileAttributes = entry->directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (entry->size) record.SetFileSize(*entry->size);
  if (entry->modified) record.ftCreationTime = record.ftLastAccessTime = record.ftLastWriteTime = *entry->modified;
  std::strncpy(record.cFileName, entry->name.c_str(), sizeof record.cFileName - 1);
  auto object = std::make_unique<Object>();
  object->kind = Object::Kind::Find;
  object->parent = connect;
  c->find = Add(std::move(object));
  return Finish(0, c->find);
}

bool PosixFtpClient::FtpRenameFile(Handle connect, TextView existing, TextView renamed) {
  Connection* c = Lookup(connect);
  if (!c) return false;
  std::string from, to;
  if (int32_t err = ToWire(codePage_, existing, from)) return Finish(err, false);
  if (int32_t err = ToWire(codePage_, renamed, to)) return Finish(err, false);
  if (int32_t err = c->Expect("RNFR " + from, 350)) return Finish(err, false);
  return Finish(c->Expect("RNTO " + to, 250), true);
}

bool PosixFtpClient::FtpDeleteFile(Handle connect, TextView remote) {
  Connection* c = Lookup(connect);
  if (!c) return false;
  std::string path;
  if (int32_t err = ToWire(codePage_, remote, path)) return Finish(err, false);
  return Finish(c->Expect("DELE " + path, 250), true);
}

bool PosixFtpClient::FtpCreateDirectory(Handle connect, TextView directory) {
  Connection* c = Lookup(connect);
  if (!c) return false;
  std::string path;
  if (int32_t err = ToWire(codePage_, directory, path)) return Finish(err, false);
  return Finish(c->Expect("MKD " + path, 257), true);
}

bool PosixFtpClient::InternetCloseHandle(Handle handle) {
  if (!handles_.count(handle)) return Finish(ERROR_INVALID_HANDLE, false);
  Close(handle);
  return Finish(0, true);
}

}  // namespace kadroo::posix
