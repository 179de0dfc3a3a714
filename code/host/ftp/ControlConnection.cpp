#include "host/ftp/ControlConnection.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "ftp/FtpClient.h"
#include "host/ftp/Transfer.h"

namespace kadroo::ftp {
namespace {

using namespace std::chrono;

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

Today TodayUtc() {
  const year_month_day date{floor<days>(system_clock::now())};
  return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day()))};
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
  int32_t err = network_.Connect(host, port == 0 ? INTERNET_DEFAULT_FTP_PORT : port, Clock::now() + timeouts.connect,
                                 Network::Role::Control, control_);
  if (err) return err;
  peer_ = control_->Peer();
  local_ = control_->Local();
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
  server = peer_.address + " " + std::to_string(peer_.port) + " " + user;
  return 0;
}

int32_t ControlConnection::FindEntry(const std::string& path, std::optional<Entry>& entry) {
  const std::string name(BaseName(path));
  if (name.find_first_of("*?") != std::string::npos) {
    return ListMatch(DirName(path), [&](const Entry& e) { return WildcardMatch(name, e.name); },
                     entry);
  }
  Reply reply;
  if (!mlst) {
    if (int32_t err = Command("FEAT", reply)) return err;
    mlst = reply.code == 211 && FeatHas(reply.text, "MLST");
  }
  if (*mlst) {
    if (int32_t err = Command("MLST " + path, reply)) return err;
    if (reply.code == 250) {
      entry = ParseMlstReply(reply.text);
      if (entry) entry->name = BaseName(entry->name);
      return entry ? 0 : ERROR_INTERNET_EXTENDED_ERROR;
    }
    if (reply.code != 500 && reply.code != 502) return ErrorForReply(reply.code);
  }
  if (int32_t err = StatFile(path, name, entry); err || entry) return err;
  if (!name.empty() && name != "." && name != "..") {
    if (int32_t err = ListMatch(DirName(path), [&](const Entry& x) { return x.name == name; }, entry)) {
      if (err != ERROR_INTERNET_EXTENDED_ERROR || dead) return err;
    }
    if (entry) return 0;
  }
  bool isDirectory = false;
  if (int32_t err = ProbeDirectory(path, isDirectory)) return err;
  if (isDirectory) entry = Entry{name.empty() ? path : name, true, std::nullopt, std::nullopt};
  return 0;
}

int32_t ControlConnection::StatFile(const std::string& path, std::string_view name, std::optional<Entry>& entry) {
  if (int32_t err = EnsureBinary()) return err;
  Reply reply;
  if (int32_t err = Command("SIZE " + path, reply)) return err;
  auto size = reply.code == 213 ? ParseSizeReply(reply.text) : std::nullopt;
  if (!size) return 0;
  entry = Entry{std::string(name), false, size, std::nullopt};
  if (int32_t err = Command("MDTM " + path, reply)) return err;
  if (reply.code == 213 && reply.text.size() > 4) entry->modified = ParseTimeVal(reply.text.substr(4));
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
  if (int32_t err = control_->Write(out.data(), out.size(), Clock::now() + timeouts.reply)) return Fail(err);
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
    char buffer[4096];
    size_t got = 0;
    if (int32_t err = control_->Read(buffer, sizeof buffer, deadline, got)) return Fail(err);
    if (got == 0) return Fail(ERROR_INTERNET_CONNECTION_ABORTED);
    input_.append(buffer, got);
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
      auto address = ParseEpsvReply(reply.text);
      if (!address) return ERROR_INTERNET_EXTENDED_ERROR;
      port = address->port;
    } else if (Refused(reply)) {
      noEpsv_ = true;
    } else {
      return ErrorForReply(reply.code);
    }
  }
  if (!port) {
    if (peer_.ipv6) return ERROR_INTERNET_EXTENDED_ERROR;  // PASV speaks IPv4 only
    if (int32_t err = Command("PASV", reply)) return err;
    if (reply.code != 227) return ErrorForReply(reply.code);
    auto address = ParsePasvReply(reply.text.substr(3));
    if (!address) return ERROR_INTERNET_EXTENDED_ERROR;
    port = address->port;
  }
  const int32_t err =
      network_.Connect(peer_.address, *port, Clock::now() + timeouts.connect, Network::Role::Data, channel.stream);
  return err == ERROR_INTERNET_TIMEOUT ? err : err ? ERROR_INTERNET_CANNOT_CONNECT : 0;
}

int32_t ControlConnection::OpenActive(DataChannel& channel) {
  if (network_.Listen(local_, channel.listener)) return ERROR_INTERNET_CANNOT_CONNECT;
  const Endpoint bound = channel.listener->Bound();
  const std::string& address = bound.address;
  const uint16_t port = bound.port;
  Reply reply;
  if (!noEprt_) {
    const int family = bound.ipv6 ? 2 : 1;
    if (int32_t err = Command("EPRT " + FormatEprtArgument(family, address, port), reply)) return err;
    if (reply.code == 200) return 0;
    if (!Refused(reply)) return ErrorForReply(reply.code);
    noEprt_ = true;
  }
  auto argument = FormatPortArgument(address, port);
  if (!argument) return ERROR_INTERNET_EXTENDED_ERROR;
  return Expect("PORT " + *argument, 200);
}

int32_t ControlConnection::AcceptData(DataChannel& channel) {
  if (channel.stream) return 0;
  if (int32_t err = channel.listener->Accept(*control_, Clock::now() + timeouts.connect, channel.stream)) return err;
  if (!channel.stream) {
    Reply reply;
    if (int32_t err = Read(reply, timeouts.reply)) return err;
    return ErrorForReply(reply.code);
  }
  channel.listener.reset();
  return 0;
}

int32_t ControlConnection::StartTransfer(std::string_view command, DataChannel& channel, Reply& started) {
  if (int32_t err = EnsureBinary()) return err;
  if (int32_t err = (flags & INTERNET_FLAG_PASSIVE) ? OpenPassive(channel) : OpenActive(channel)) return err;
  if (int32_t err = Send(command)) return err;
  if (int32_t err = Read(started, timeouts.reply)) return err;
  if (!started.Preliminary()) return ErrorForReply(started.code);
  return AcceptData(channel);
}

int32_t ControlConnection::FinishTransfer() {
  Reply reply;
  if (int32_t err = Read(reply, timeouts.reply)) return err;
  if (reply.code == 226 || reply.code == 250) return 0;
  return ErrorForReply(reply.code);
}

int32_t ControlConnection::AbandonTransfer(DataChannel& channel, const Flow& flow) {
  channel.stream.reset();
  if (flow.failed == Flow::Failed::Network && flow.code == ERROR_INTERNET_TIMEOUT) return Fail(ERROR_INTERNET_TIMEOUT);
  Reply reply;
  if (int32_t err = Read(reply, timeouts.reply)) return err;
  // The server's word on a broken connection is steadier than which of EPIPE or ECONNRESET the race gave us.
  if (flow.failed == Flow::Failed::Network && !reply.Positive()) return ErrorForReply(reply.code);
  return flow.code;
}

int32_t ControlConnection::ListMatch(std::string_view dir, const std::function<bool(const Entry&)>& match,
                                     std::optional<Entry>& found) {
  DataChannel channel;
  Reply started;
  const std::string command = dir.empty() ? std::string("LIST") : "LIST " + std::string(dir);
  if (int32_t err = StartTransfer(command, channel, started)) return err;
  const Today today = TodayUtc();
  std::string pending;
  char buffer[16384];
  Flow flow;
  // A find needs one entry: a listing that goes on past a few MiB or past the timeout is not worth waiting for.
  const Deadline deadline = Clock::now() + timeouts.reply;
  uint64_t total = 0;
  auto giveUp = [&] {
    channel.stream.reset();
    Kill();  // the server is still sending; its late replies must not be taken for answers to what follows
    return ERROR_INTERNET_EXTENDED_ERROR;
  };
  for (;;) {
    if (Clock::now() >= deadline) return giveUp();
    size_t n = 0;
    if (int32_t err = channel.stream->Read(buffer, sizeof buffer, deadline, n)) {
      if (err == ERROR_INTERNET_TIMEOUT) return giveUp();
      flow.Fail(Flow::Failed::Network, err);
      return AbandonTransfer(channel, flow);
    }
    if (n > 0 && (total += n) > kMaxListing) return giveUp();
    if (n > 0) pending.append(buffer, n);
    size_t start = 0, lf;
    while ((lf = pending.find('\n', start)) != std::string::npos || (n == 0 && start < pending.size())) {
      if (lf == std::string::npos) lf = pending.size();
      if (!found) {
        auto entry = ParseListLine(std::string_view(pending).substr(start, lf - start), today);
        if (entry && match(*entry)) found = std::move(entry);
      }
      start = lf + 1;
    }
    pending.erase(0, std::min(start, pending.size()));
    if (pending.size() > 65536) pending.clear();  // no listing line is that long
    if (n == 0) break;
  }
  channel.stream.reset();
  return FinishTransfer();
}

int32_t ControlConnection::ProbeDirectory(std::string_view path, bool& isDirectory) {
  isDirectory = false;
  Reply reply;
  if (!home_) {
    if (int32_t err = Command("PWD", reply)) return err;
    if (reply.code != 257) return 0;
    home_ = ParsePwdReply(reply.text);
    if (!home_) return 0;
  }
  if (int32_t err = Command("CWD " + std::string(path), reply)) return err;
  if (reply.code != 250) return 0;
  isDirectory = true;
  return Command("CWD " + *home_, reply);
}
}  // namespace kadroo::ftp
