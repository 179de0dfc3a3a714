#include "host/posix/ftp/ControlConnection.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "ftp/FtpClient.h"
#include "host/posix/ftp/DataStream.h"
#include "host/posix/ftp/Socket.h"

namespace kadroo::posix {
namespace {

using namespace std::chrono;
using ftp::Reply;

constexpr int32_t ERROR_INTERNET_INCORRECT_USER_NAME = 12013;
constexpr int32_t ERROR_INTERNET_INCORRECT_PASSWORD = 12014;
constexpr size_t kMaxReplySize = 1 << 20;  // a server that talks more than this in one reply is broken
constexpr uint64_t kMaxListing = 4 << 20;  // a directory listing read to find one entry
constexpr milliseconds kQuitWait{5'000};   // closing never hangs for a full reply timeout

int32_t ErrorForReply(int code) {
  switch (code) {
    case 421: return ERROR_FTP_DROPPED;
    case 425: return ERROR_INTERNET_CANNOT_CONNECT;
    case 426: return ERROR_INTERNET_CONNECTION_ABORTED;
    default: return ERROR_INTERNET_EXTENDED_ERROR;
  }
}

bool Refused(const Reply& reply) { return reply.code >= 500 && reply.code < 600; }

ftp::Today TodayUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

}  // namespace

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

int32_t ControlConnection::Open(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port == 0 ? INTERNET_DEFAULT_FTP_PORT : port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  }
  const Deadline deadline = Clock::now() + timeouts.connect;
  int32_t err = ERROR_INTERNET_CANNOT_CONNECT;
  for (addrinfo* a = found; a; a = a->ai_next) {
    err = ConnectTo(a->ai_addr, a->ai_addrlen, deadline, control_);
    if (err == 0 || err == ERROR_INTERNET_TIMEOUT) break;
  }
  ::freeaddrinfo(found);
  if (err) return err;

  socklen_t length = sizeof peer_;
  ::getpeername(control_.get(), reinterpret_cast<sockaddr*>(&peer_), &length);
  length = sizeof local_;
  ::getsockname(control_.get(), reinterpret_cast<sockaddr*>(&local_), &length);
  SetNoDelay(control_.get());
  Reply reply;
  if ((err = ReadFinal(reply, timeouts.reply))) return err;
  return reply.code == 220 ? 0 : ERROR_INTERNET_CANNOT_CONNECT;
}

int32_t ControlConnection::Login(const std::string& user, const std::string& password) {
  Reply reply;
  if (int32_t err = Command("USER " + user, reply)) return err;
  if (reply.code == 530) return ERROR_INTERNET_INCORRECT_USER_NAME;
  if (reply.code == 331) {
    if (int32_t err = Command("PASS " + password, reply)) return err;
    if (reply.code == 530) return ERROR_INTERNET_INCORRECT_PASSWORD;
  }
  if (reply.code != 230 && reply.code != 202) return ERROR_INTERNET_LOGIN_FAILURE;
  server = AddressText(peer_) + " " + std::to_string(PortOf(peer_)) + " " + user;
  return 0;
}

int32_t ControlConnection::FindEntry(const std::string& path, std::optional<ftp::Entry>& entry) {
  const std::string name(ftp::BaseName(path));
  if (name.find_first_of("*?") != std::string::npos) {
    return ListMatch(ftp::DirName(path), [&](const ftp::Entry& e) { return ftp::WildcardMatch(name, e.name); },
                     entry);
  }
  Reply reply;
  if (!mlst) {
    if (int32_t err = Command("FEAT", reply)) return err;
    mlst = reply.code == 211 && ftp::FeatHas(reply.text, "MLST");
  }
  if (*mlst) {
    if (int32_t err = Command("MLST " + path, reply)) return err;
    if (reply.code == 250) {
      entry = ftp::ParseMlstReply(reply.text);
      if (entry) entry->name = ftp::BaseName(entry->name);
      return entry ? 0 : ERROR_INTERNET_EXTENDED_ERROR;
    }
    if (reply.code != 500 && reply.code != 502) return ErrorForReply(reply.code);
  }
  if (int32_t err = StatFile(path, name, entry); err || entry) return err;
  if (!name.empty() && name != "." && name != "..") {
    if (int32_t err = ListMatch(ftp::DirName(path), [&](const ftp::Entry& x) { return x.name == name; }, entry)) {
      if (err != ERROR_INTERNET_EXTENDED_ERROR || dead) return err;
    }
    if (entry) return 0;
  }
  bool isDirectory = false;
  if (int32_t err = ProbeDirectory(path, isDirectory)) return err;
  if (isDirectory) entry = ftp::Entry{name.empty() ? path : name, true, std::nullopt, std::nullopt};
  return 0;
}

int32_t ControlConnection::StatFile(const std::string& path, std::string_view name, std::optional<ftp::Entry>& entry) {
  if (int32_t err = EnsureBinary()) return err;
  Reply reply;
  if (int32_t err = Command("SIZE " + path, reply)) return err;
  auto size = reply.code == 213 ? ftp::ParseSizeReply(reply.text) : std::nullopt;
  if (!size) return 0;
  entry = ftp::Entry{std::string(name), false, size, std::nullopt};
  if (int32_t err = Command("MDTM " + path, reply)) return err;
  if (reply.code == 213 && reply.text.size() > 4) entry->modified = ftp::ParseTimeVal(reply.text.substr(4));
  return 0;
}

void ControlConnection::Quit() {
  Reply reply;
  if (!dead && Send("QUIT") == 0) Read(reply, std::min(timeouts.reply, kQuitWait));
}

void ControlConnection::Kill() {
  dead = true;
  control_.reset();
}

int32_t ControlConnection::Send(std::string_view line) {
  if (dead) return ERROR_FTP_DROPPED;
  std::string out(line);
  out += "\r\n";
  const Deadline deadline = Clock::now() + timeouts.reply;
  for (size_t done = 0; done < out.size();) {
    pollfd p{control_.get(), POLLOUT, 0};
    if (PollUntil(&p, 1, deadline) == 0) return Fail(ERROR_INTERNET_TIMEOUT);
    const ssize_t n = ::send(control_.get(), out.data() + done, out.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return Fail(ErrorFromSocket(errno));
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

int32_t ControlConnection::Read(Reply& reply, milliseconds timeout) {
  return ReadUntil(reply, Clock::now() + timeout);
}

int32_t ControlConnection::ReadFinal(Reply& reply, milliseconds timeout) {
  const Deadline deadline = Clock::now() + timeout;
  do {
    if (int32_t err = ReadUntil(reply, deadline)) return err;
  } while (reply.Preliminary());
  return 0;
}

int32_t ControlConnection::ReadUntil(Reply& reply, Deadline deadline) {
  if (dead) return ERROR_FTP_DROPPED;
  size_t replySize = 0;
  for (;;) {
    size_t lf;
    while ((lf = input_.find('\n')) != std::string::npos) {
      std::string_view line(input_.data(), lf);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      auto done = parser_.Feed(line);
      replySize += lf + 1;
      input_.erase(0, lf + 1);
      if (done) {
        reply = std::move(*done);
        if (reply.code < 0) return Fail(ERROR_INTERNET_CONNECTION_ABORTED);
        if (reply.code == 421) return Fail(ERROR_FTP_DROPPED);
        return 0;
      }
    }
    if (replySize + input_.size() > kMaxReplySize) return Fail(ERROR_INTERNET_CONNECTION_ABORTED);
    pollfd p{control_.get(), POLLIN, 0};
    if (PollUntil(&p, 1, deadline) == 0) return Fail(ERROR_INTERNET_TIMEOUT);
    char buffer[4096];
    const ssize_t n = ::recv(control_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) return Fail(ERROR_INTERNET_CONNECTION_ABORTED);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return Fail(ErrorFromSocket(errno));
    }
    AcknowledgeNow(control_.get());
    input_.append(buffer, static_cast<size_t>(n));
  }
}

int32_t ControlConnection::Command(std::string_view line, Reply& reply) {
  if (int32_t err = Send(line)) return err;
  return ReadFinal(reply, timeouts.reply);
}

int32_t ControlConnection::Expect(std::string_view line, int expected) {
  Reply reply;
  if (int32_t err = Command(line, reply)) return err;
  return reply.code / 100 == expected / 100 ? 0 : ErrorForReply(reply.code);
}

int32_t ControlConnection::Fail(int32_t error) {
  Kill();
  return error;
}

int32_t ControlConnection::EnsureBinary() {
  if (binary_) return 0;
  if (int32_t err = Expect("TYPE I", 200)) return err;
  binary_ = true;
  return 0;
}

int32_t ControlConnection::OpenPassive(DataChannel& channel) {
  std::optional<uint16_t> port;
  Reply reply;
  if (!noEpsv_) {
    if (int32_t err = Command("EPSV", reply)) return err;
    if (reply.code == 229) {
      auto address = ftp::ParseEpsvReply(reply.text);
      if (!address) return ERROR_INTERNET_EXTENDED_ERROR;
      port = address->port;
    } else if (Refused(reply)) {
      noEpsv_ = true;
    } else {
      return ErrorForReply(reply.code);
    }
  }
  if (!port) {
    if (peer_.ss_family != AF_INET) return ERROR_INTERNET_EXTENDED_ERROR;  // PASV speaks IPv4 only
    if (int32_t err = Command("PASV", reply)) return err;
    if (reply.code != 227) return ErrorForReply(reply.code);
    auto address = ftp::ParsePasvReply(reply.text.substr(3));
    if (!address) return ERROR_INTERNET_EXTENDED_ERROR;
    port = address->port;
  }
  sockaddr_storage target = peer_;
  SetPort(target, *port);
  const int32_t err = ConnectTo(reinterpret_cast<const sockaddr*>(&target), LengthOf(target),
                                Clock::now() + timeouts.connect, channel.socket);
  return err == ERROR_INTERNET_TIMEOUT ? err : err ? ERROR_INTERNET_CANNOT_CONNECT : 0;
}

int32_t ControlConnection::OpenActive(DataChannel& channel) {
  sockaddr_storage bound = local_;
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
  if (!noEprt_) {
    const int family = bound.ss_family == AF_INET6 ? 2 : 1;
    if (int32_t err = Command("EPRT " + ftp::FormatEprtArgument(family, address, port), reply)) return err;
    if (reply.code == 200) return 0;
    if (!Refused(reply)) return ErrorForReply(reply.code);
    noEprt_ = true;
  }
  auto argument = ftp::FormatPortArgument(address, port);
  if (!argument) return ERROR_INTERNET_EXTENDED_ERROR;
  return Expect("PORT " + *argument, 200);
}

int32_t ControlConnection::AcceptData(DataChannel& channel) {
  if (channel.socket) return 0;
  const Deadline deadline = Clock::now() + timeouts.connect;
  for (;;) {
    pollfd p[2] = {{channel.listener.get(), POLLIN, 0}, {control_.get(), POLLIN, 0}};
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
    if (!SameHost(from, peer_)) continue;
    channel.socket = std::move(s);
    channel.listener.reset();
    return 0;
  }
}

int32_t ControlConnection::StartTransfer(std::string_view command, DataChannel& channel, Reply& started) {
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

int32_t ControlConnection::FinishTransfer() {
  Reply reply;
  if (int32_t err = Read(reply, timeouts.reply)) return err;
  if (reply.code == 226 || reply.code == 250) return 0;
  return ErrorForReply(reply.code);
}

int32_t ControlConnection::AbandonTransfer(DataChannel& channel, const Flow& flow) {
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

int32_t ControlConnection::ListMatch(std::string_view dir, const std::function<bool(const ftp::Entry&)>& match,
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

int32_t ControlConnection::ProbeDirectory(std::string_view path, bool& isDirectory) {
  isDirectory = false;
  Reply reply;
  if (!home_) {
    if (int32_t err = Command("PWD", reply)) return err;
    if (reply.code != 257) return 0;
    home_ = ftp::ParsePwdReply(reply.text);
    if (!home_) return 0;
  }
  if (int32_t err = Command("CWD " + std::string(path), reply)) return err;
  if (reply.code != 250) return 0;
  isDirectory = true;
  return Command("CWD " + *home_, reply);
}
}  // namespace kadroo::posix
