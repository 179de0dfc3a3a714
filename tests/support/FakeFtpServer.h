#pragma once
// A scriptable FTP server on the loopback interface for the faults that real servers will not produce on demand,
// in the manner of curl's tests/ftpserver.pl. It keeps its files in memory, records every command line it
// receives, and obeys directives that a test sets before (or between) the client's calls:
//
//   FakeFtpServer server;                       // 127.0.0.1, user "user", password "pass"
//   server.SetFile("doc/a.txt", "hello");
//   server.Reply("EPSV", "500 EPSV not understood");        // every EPSV
//   server.SendData("RETR doc/a.txt", "", 1);               // the first RETR of it delivers 0 bytes, then the file
//   server.DropData("STOR", 1000);                          // close the data connection after 1000 bytes, 426
//   server.Stall("RETR");                                   // never answer RETR
//   server.Trickle("LIST", "line\r\n", 100ms);              // send that line every 100 ms, without end
//   server.CorruptData("STOR", 3);                          // store the upload with its byte 3 changed
//   ... run the client ...
//   EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER user", "PASS pass", ...}));
//
// A directive's key is a verb ("RETR") or a verb and its argument as the client sent it ("SIZE doc/a.txt"),
// which wins over the bare verb. Each applies `times` times (kAlways: every time), in the order set.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ftp/Sha256.h"

namespace kadroo::testing {

class FakeFtpServer {
 public:
  static constexpr int kAlways = -1;

  struct Options {
    bool ipv6 = false;  // listen on ::1 instead of 127.0.0.1
    std::string user = "user";
    std::string password = "pass";
    std::string greeting = "220 FakeFtpServer ready";
    // Add "MLST", or "XSHA256" for the digest of a stored file.
    std::vector<std::string> features = {"EPRT", "EPSV", "MDTM", "PASV", "REST STREAM", "SIZE"};
    int preliminaryGreetings = 0;  // "120" lines, one every 200 ms, before the greeting
  };

  FakeFtpServer() : FakeFtpServer(Options()) {}
  explicit FakeFtpServer(Options options) : options_(std::move(options)) {
    sockaddr_storage a = Loopback(0);
    listener_ = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t length = sizeof a;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), Length(a)) != 0 ||
        ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
      throw std::runtime_error("FakeFtpServer cannot listen");
    }
    port_ = Port(a);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~FakeFtpServer() {
    stopping_ = true;
    acceptor_.join();
    for (auto& t : sessions_) t.join();
    ::close(listener_);
  }
  FakeFtpServer(const FakeFtpServer&) = delete;
  FakeFtpServer& operator=(const FakeFtpServer&) = delete;

  std::string host() const { return options_.ipv6 ? "::1" : "127.0.0.1"; }
  uint16_t port() const { return port_; }
  const std::string& user() const { return options_.user; }
  const std::string& password() const { return options_.password; }

  // Files and directories, named without a leading slash ("doc/a.txt"); directories of a file exist implicitly.
  void SetFile(const std::string& path, std::string content) {
    std::lock_guard lock(mutex_);
    files_[Normal(path)] = std::move(content);
  }
  std::optional<std::string> File(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = files_.find(Normal(path));
    if (it == files_.end()) return std::nullopt;
    return it->second;
  }
  void AddDirectory(const std::string& path) {
    std::lock_guard lock(mutex_);
    dirs_.insert(Normal(path));
  }

  // Answers `command` with `reply` instead of carrying it out; "\n" separates the lines of a multi-line reply.
  void Reply(const std::string& command, const std::string& reply, int times = kAlways) {
    Add(command, {.reply = reply, .times = times});
  }
  // RETR or LIST sends `content` instead of what it would have sent.
  void SendData(const std::string& command, const std::string& content, int times = kAlways) {
    Add(command, {.data = content, .times = times});
  }
  // RETR, STOR or LIST closes its data connection after `bytes` bytes and then answers `finalReply`.
  void DropData(const std::string& command, size_t bytes,
                const std::string& finalReply = "426 Connection closed; transfer aborted.", int times = kAlways) {
    Add(command, {.dropAfter = bytes, .finalReply = finalReply, .times = times});
  }
  // RETR or STOR moves `bytes` bytes and then neither moves more nor closes nor answers.
  void StallData(const std::string& command, size_t bytes, int times = kAlways) {
    Add(command, {.dropAfter = bytes, .stallData = true, .times = times});
  }
  // RETR announces `announced` bytes in its 150 reply, whatever it sends.
  void Announce(const std::string& command, size_t announced, int times = kAlways) {
    Add(command, {.announce = announced, .times = times});
  }
  // RETR or LIST sends `chunk` every `interval`, `count` times (0: until the client goes away or the server
  // stops), then completes.
  void Trickle(const std::string& command, const std::string& chunk, std::chrono::milliseconds interval,
               size_t count = 0, int times = kAlways) {
    Add(command, {.data = chunk, .trickle = interval, .trickleCount = count, .times = times});
  }
  // In active mode, before the server connects for RETR, another host (127.0.0.2) connects to the client's data
  // port and sends `content`; with `serverConnects` false the server then answers 425 instead of connecting.
  void Intrude(const std::string& command, const std::string& content, bool serverConnects, int times = kAlways) {
    Add(command, {.intruder = content, .serverConnects = serverConnects, .times = times});
  }
  // STOR stores what it received with the byte at `offset` changed: the size is right, the content is not.
  void CorruptData(const std::string& command, size_t offset, int times = kAlways) {
    Add(command, {.corruptAt = offset, .times = times});
  }
  // Never answers `command` (and keeps the connection open).
  void Stall(const std::string& command, int times = kAlways) { Add(command, {.stall = true, .times = times}); }
  // Closes the control connection instead of answering `command`.
  void HangUp(const std::string& command, int times = kAlways) { Add(command, {.hangUp = true, .times = times}); }

  // Every command line received over every connection, in order, without CR LF.
  std::vector<std::string> Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  // How many control connections were accepted.
  int Connections() const { return connections_; }

 private:
  struct Directive {
    std::optional<std::string> reply;
    std::optional<std::string> data;
    std::optional<size_t> dropAfter;
    std::string finalReply;
    bool stallData = false;
    bool stall = false;
    bool hangUp = false;
    std::optional<size_t> announce;
    std::optional<std::chrono::milliseconds> trickle;
    size_t trickleCount = 0;
    std::optional<std::string> intruder;
    bool serverConnects = true;
    std::optional<size_t> corruptAt;
    int times = kAlways;
  };

  void Add(const std::string& command, Directive d) {
    std::lock_guard lock(mutex_);
    directives_[command].push_back(std::move(d));
  }

  // The directive for this command line, used up once.
  std::optional<Directive> Take(const std::string& verb, const std::string& argument) {
    std::lock_guard lock(mutex_);
    for (const std::string& key : {verb + " " + argument, verb}) {
      auto it = directives_.find(key);
      if (it == directives_.end() || it->second.empty()) continue;
      Directive d = it->second.front();
      if (it->second.front().times > 0 && --it->second.front().times == 0) it->second.pop_front();
      return d;
    }
    return std::nullopt;
  }

  static std::string Normal(const std::string& path) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= path.size()) {
      size_t j = path.find('/', i);
      if (j == std::string::npos) j = path.size();
      const std::string part = path.substr(i, j - i);
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      i = j + 1;
    }
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
    return out;
  }

  sockaddr_storage Loopback(uint16_t port) const {
    sockaddr_storage a{};
    if (options_.ipv6) {
      auto& a6 = reinterpret_cast<sockaddr_in6&>(a);
      a6.sin6_family = AF_INET6;
      a6.sin6_addr = in6addr_loopback;
      a6.sin6_port = htons(port);
    } else {
      auto& a4 = reinterpret_cast<sockaddr_in&>(a);
      a4.sin_family = AF_INET;
      a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a4.sin_port = htons(port);
    }
    return a;
  }
  static socklen_t Length(const sockaddr_storage& a) {
    return a.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  }
  static uint16_t Port(const sockaddr_storage& a) {
    return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(a).sin6_port
                                         : reinterpret_cast<const sockaddr_in&>(a).sin_port);
  }

  // Waits in short slices so that the destructor is never kept waiting; false on stop or after `timeout`.
  bool WaitReadable(int fd, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }
  void WaitForStop() const {
    while (!stopping_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  void AcceptLoop() {
    while (WaitReadable(listener_, std::chrono::hours(24))) {
      const int s = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (s < 0) continue;
      const int one = 1;  // a reply must not wait for the ACK of the one before it
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ++connections_;
      sessions_.emplace_back([this, s] {
        Session session{*this, s};
        session.Run();
        ::close(s);
      });
    }
  }

  static bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  struct Session {
    FakeFtpServer& server;
    int control;
    std::string input;
    std::string cwd;  // normalised, "" is the root
    bool loggedIn = false;
    std::string user;
    std::optional<std::string> renameFrom;
    int passive = -1;  // listening socket after EPSV/PASV
    std::optional<sockaddr_storage> active;

    ~Session() {
      if (passive >= 0) ::close(passive);
    }

    void Send(const std::string& reply) {
      std::string out;
      size_t i = 0;
      while (i <= reply.size()) {
        size_t j = reply.find('\n', i);
        if (j == std::string::npos) j = reply.size();
        out += reply.substr(i, j - i) + "\r\n";
        i = j + 1;
      }
      SendAll(control, out.data(), out.size());
    }

    std::optional<std::string> ReadLine() {
      for (;;) {
        const size_t lf = input.find('\n');
        if (lf != std::string::npos) {
          std::string line = input.substr(0, lf);
          input.erase(0, lf + 1);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          return line;
        }
        if (!server.WaitReadable(control)) return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(control, buffer, sizeof buffer, 0);
        if (n <= 0) return std::nullopt;
        input.append(buffer, static_cast<size_t>(n));
      }
    }

    std::string Resolve(const std::string& path) const {
      if (!path.empty() && path[0] == '/') return Normal(path);
      return Normal(cwd + "/" + path);
    }
    bool Offers(const std::string& feature) const {
      const auto& f = server.options_.features;
      return std::find(f.begin(), f.end(), feature) != f.end();
    }
    bool IsDirectory(const std::string& path) const {
      std::lock_guard lock(server.mutex_);
      if (path.empty() || server.dirs_.count(path)) return true;
      for (const auto& [name, content] : server.files_) {
        if (name.rfind(path + "/", 0) == 0) return true;
      }
      for (const auto& dir : server.dirs_) {
        if (dir.rfind(path + "/", 0) == 0) return true;
      }
      return false;
    }
    std::optional<std::string> FileContent(const std::string& path) const {
      std::lock_guard lock(server.mutex_);
      auto it = server.files_.find(path);
      if (it == server.files_.end()) return std::nullopt;
      return it->second;
    }

    // Connects to the client's active-mode port from 127.0.0.2 and sends `content`; the connection is left to
    // the client to close.
    void Intrude(const sockaddr_storage& target, const std::string& content) {
      const int s = ::socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in from{};
      from.sin_family = AF_INET;
      from.sin_addr.s_addr = htonl(0x7F000002);
      if (::bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
          ::connect(s, reinterpret_cast<const sockaddr*>(&target), Length(target)) == 0) {
        SendAll(s, content.data(), content.size());
        ::shutdown(s, SHUT_WR);
        server.WaitReadable(s, std::chrono::seconds(2));  // until the client closed it
      }
      ::close(s);
    }

    // The data connection that EPSV/PASV/EPRT/PORT prepared; -1 when there is none.
    int OpenData(const std::optional<Directive>& d = std::nullopt) {
      if (passive >= 0) {
        const int listener = std::exchange(passive, -1);
        int s = -1;
        if (server.WaitReadable(listener, std::chrono::seconds(10))) s = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(listener);
        return s;
      }
      if (active) {
        const sockaddr_storage target = *std::exchange(active, std::nullopt);
        if (d && d->intruder) {
          Intrude(target, *d->intruder);
          if (!d->serverConnects) return -1;
        }
        const int s = ::socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(s, reinterpret_cast<const sockaddr*>(&target), Length(target)) == 0) return s;
        ::close(s);
      }
      return -1;
    }

    // Sends `content` over a data connection under `d`; false when the session must end (stalled and stopped).
    bool Transmit(const std::string& content, const std::optional<Directive>& d) {
      const int data = OpenData(d);
      if (data < 0) {
        Send("425 Can't open data connection.");
        return true;
      }
      if (d && d->trickle) {
        for (size_t sent = 0; (d->trickleCount == 0 || sent < d->trickleCount) && !server.stopping_; ++sent) {
          if (!SendAll(data, content.data(), content.size())) break;
          std::this_thread::sleep_for(*d->trickle);
        }
        ::close(data);
        Send("226 Transfer complete.");
        return true;
      }
      const size_t limit = d && d->dropAfter ? std::min(*d->dropAfter, content.size()) : content.size();
      SendAll(data, content.data(), limit);
      if (d && d->stallData) {
        server.WaitForStop();
        ::close(data);
        return false;
      }
      ::close(data);
      Send(d && d->dropAfter ? d->finalReply : "226 Transfer complete.");
      return true;
    }

    std::string ListLine(const std::string& name, bool directory, size_t size) const {
      char line[512];
      std::snprintf(line, sizeof line, "%s    1 ftp      ftp    %10zu Feb 29  2024 %s",
                    directory ? "drwxr-xr-x" : "-rw-r--r--", size, name.c_str());
      return line;
    }

    std::string Listing(const std::string& dir) const {
      std::lock_guard lock(server.mutex_);
      std::set<std::string> subdirs;
      std::string out;
      const std::string prefix = dir.empty() ? "" : dir + "/";
      for (const auto& [name, content] : server.files_) {
        if (name.rfind(prefix, 0) != 0) continue;
        const std::string rest = name.substr(prefix.size());
        const size_t slash = rest.find('/');
        if (slash == std::string::npos) {
          out += ListLine(rest, false, content.size()) + "\r\n";
        } else {
          subdirs.insert(rest.substr(0, slash));
        }
      }
      for (const auto& d : server.dirs_) {
        if (d.rfind(prefix, 0) == 0 && d.size() > prefix.size() && d.find('/', prefix.size()) == std::string::npos) {
          subdirs.insert(d.substr(prefix.size()));
        }
      }
      for (const auto& d : subdirs) out += ListLine(d, true, 4096) + "\r\n";
      return out;
    }

    static bool ParseHostPort(const std::string& argument, bool extended, sockaddr_storage& out) {
      out = {};
      if (extended) {  // |1|127.0.0.1|5282| or |2|::1|5282|
        if (argument.size() < 7) return false;
        const char d = argument[0];
        const size_t a = argument.find(d, 1), b = argument.find(d, a + 1), c = argument.find(d, b + 1);
        if (c == std::string::npos) return false;
        const std::string family = argument.substr(1, a - 1), host = argument.substr(a + 1, b - a - 1);
        const int port = std::atoi(argument.substr(b + 1, c - b - 1).c_str());
        if (family == "2") {
          auto& a6 = reinterpret_cast<sockaddr_in6&>(out);
          a6.sin6_family = AF_INET6;
          a6.sin6_port = htons(static_cast<uint16_t>(port));
          return ::inet_pton(AF_INET6, host.c_str(), &a6.sin6_addr) == 1;
        }
        auto& a4 = reinterpret_cast<sockaddr_in&>(out);
        a4.sin_family = AF_INET;
        a4.sin_port = htons(static_cast<uint16_t>(port));
        return family == "1" && ::inet_pton(AF_INET, host.c_str(), &a4.sin_addr) == 1;
      }
      unsigned n[6];
      if (std::sscanf(argument.c_str(), "%u,%u,%u,%u,%u,%u", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5]) != 6) {
        return false;
      }
      auto& a4 = reinterpret_cast<sockaddr_in&>(out);
      a4.sin_family = AF_INET;
      a4.sin_port = htons(static_cast<uint16_t>(n[4] * 256 + n[5]));
      a4.sin_addr.s_addr = htonl((n[0] << 24) | (n[1] << 16) | (n[2] << 8) | n[3]);
      return true;
    }

    int Listen(sockaddr_storage& bound) {
      bound = server.Loopback(0);
      const int s = ::socket(bound.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
      socklen_t length = sizeof bound;
      ::bind(s, reinterpret_cast<sockaddr*>(&bound), Length(bound));
      ::listen(s, 1);
      ::getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length);
      if (passive >= 0) ::close(passive);
      passive = s;
      active.reset();
      return Port(bound);
    }

    void Run() {
      for (int i = 0; i < server.options_.preliminaryGreetings && !server.stopping_; ++i) {
        static constexpr char kWait[] = "120 Service ready in a moment.\r\n";
        if (!SendAll(control, kWait, sizeof kWait - 1)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
      Send(server.options_.greeting);
      while (auto line = ReadLine()) {
        {
          std::lock_guard lock(server.mutex_);
          server.commands_.push_back(*line);
        }
        const size_t space = line->find(' ');
        std::string verb = line->substr(0, space);
        for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string argument = space == std::string::npos ? "" : line->substr(space + 1);
        const auto d = server.Take(verb, argument);
        if (d && d->stall) return server.WaitForStop();
        if (d && d->hangUp) return;
        if (d && d->reply) {
          Send(*d->reply);
          if (d->reply->rfind("421", 0) == 0) return;
          continue;
        }
        if (!Handle(verb, argument, d)) return;
      }
    }

    // Carries out one command; false when the session ends.
    bool Handle(const std::string& verb, const std::string& argument, const std::optional<Directive>& d) {
      const std::string path = Resolve(argument);
      if (verb == "QUIT") {
        Send("221 Goodbye.");
        return false;
      }
      if (verb == "USER") {
        user = argument;
        loggedIn = false;
        Send("331 Please specify the password.");
        return true;
      }
      if (verb == "PASS") {
        loggedIn = user == server.options_.user && argument == server.options_.password;
        Send(loggedIn ? "230 Login successful." : "530 Login incorrect.");
        return true;
      }
      if (verb == "FEAT") {
        std::string reply = "211-Features:";
        for (const auto& f : server.options_.features) reply += "\n " + f;
        Send(reply + "\n211 End");
        return true;
      }
      if (!loggedIn) {
        Send("530 Please login with USER and PASS.");
        return true;
      }
      if (verb == "TYPE" || verb == "NOOP") {
        Send("200 OK.");
      } else if (verb == "SYST") {
        Send("215 UNIX Type: L8");
      } else if (verb == "PWD") {
        Send("257 \"/" + cwd + "\" is the current directory");
      } else if (verb == "CWD") {
        if (IsDirectory(path)) cwd = path;
        Send(IsDirectory(path) ? "250 Directory successfully changed." : "550 Failed to change directory.");
      } else if (verb == "EPSV") {
        sockaddr_storage bound;
        Send("229 Entering Extended Passive Mode (|||" + std::to_string(Listen(bound)) + "|)");
      } else if (verb == "PASV") {
        if (server.options_.ipv6) {
          Send("500 PASV on IPv6.");
        } else {
          sockaddr_storage bound;
          const int port = Listen(bound);
          Send("227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," +
               std::to_string(port & 0xFF) + ").");
        }
      } else if (verb == "EPRT" || verb == "PORT") {
        sockaddr_storage target;
        if (ParseHostPort(argument, verb == "EPRT", target)) {
          if (passive >= 0) ::close(std::exchange(passive, -1));
          active = target;
          Send("200 " + verb + " command successful.");
        } else {
          Send("501 Illegal " + verb + " command.");
        }
      } else if (verb == "RETR") {
        auto content = FileContent(path);
        if (!content) {
          Send("550 Failed to open file.");
          return true;
        }
        const std::string& sent = d && d->data ? *d->data : *content;
        Send("150 Opening BINARY mode data connection for " + argument + " (" +
             std::to_string(d && d->announce                       ? *d->announce
                            : d && d->trickle && d->trickleCount ? sent.size() * d->trickleCount
                                                                 : sent.size()) +
             " bytes).");
        return Transmit(sent, d);
      } else if (verb == "LIST") {
        std::string target = argument.rfind("-", 0) == 0 ? cwd : path;
        std::string listing;
        if (auto content = FileContent(target)) {
          const size_t slash = target.rfind('/');
          listing = ListLine(slash == std::string::npos ? target : target.substr(slash + 1), false, content->size()) + "\r\n";
        } else if (IsDirectory(target)) {
          listing = Listing(target);
        } else {
          Send("550 No such file or directory.");
          return true;
        }
        Send("150 Here comes the directory listing.");
        return Transmit(d && d->data ? *d->data : listing, d);
      } else if (verb == "STOR") {
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos && !IsDirectory(path.substr(0, slash))) {
          Send("553 Could not create file.");
          return true;
        }
        const int data = OpenData();
        if (data < 0) {
          Send("425 Can't open data connection.");
          return true;
        }
        Send("150 Ok to send data.");
        std::string received;
        char buffer[65536];
        const size_t limit = d && d->dropAfter ? *d->dropAfter : SIZE_MAX;
        while (received.size() < limit && server.WaitReadable(data)) {
          const ssize_t n = ::recv(data, buffer, std::min(sizeof buffer, limit - received.size()), 0);
          if (n <= 0) break;
          received.append(buffer, static_cast<size_t>(n));
        }
        if (d && d->stallData) {
          server.WaitForStop();
          ::close(data);
          return false;
        }
        ::close(data);
        if (d && d->corruptAt && *d->corruptAt < received.size()) received[*d->corruptAt] ^= 0x20;
        server.SetFile(path, received);
        Send(d && d->dropAfter ? d->finalReply : "226 Transfer complete.");
      } else if (verb == "SIZE") {
        auto content = FileContent(path);
        Send(content ? "213 " + std::to_string(content->size()) : "550 Could not get file size.");
      } else if (verb == "MDTM") {
        Send(FileContent(path) ? "213 20240229123456" : "550 Could not get file modification time.");
      } else if (verb == "MLST") {
        if (std::none_of(server.options_.features.begin(), server.options_.features.end(),
                         [](const std::string& f) { return f.rfind("MLST", 0) == 0; })) {
          Send("500 Unknown command.");
        } else if (auto content = FileContent(path)) {
          Send("250-Listing " + argument + "\n type=file;size=" + std::to_string(content->size()) +
               ";modify=20240229123456; /" + path + "\n250 End");
        } else if (IsDirectory(path)) {
          Send("250-Listing " + argument + "\n type=dir;modify=20240229123456; /" + path + "\n250 End");
        } else {
          Send("550 No such file or directory.");
        }
      } else if (verb == "XSHA256" && Offers("XSHA256")) {
        auto content = FileContent(path);
        Sha256 digest;
        if (content) digest.Update(*content);
        Send(content ? "250 " + digest.HexDigest() : "550 No such file.");
      } else if (verb == "RNFR") {
        const bool exists = FileContent(path) || IsDirectory(path);
        if (exists) renameFrom = path;
        Send(exists ? "350 Ready for RNTO." : "550 RNFR command failed.");
      } else if (verb == "RNTO") {
        if (!renameFrom) {
          Send("503 RNFR required first.");
          return true;
        }
        std::lock_guard lock(server.mutex_);
        auto node = server.files_.extract(*std::exchange(renameFrom, std::nullopt));
        if (node) {
          node.key() = path;
          server.files_.insert_or_assign(path, std::move(node.mapped()));
        }
        Send("250 Rename successful.");
      } else if (verb == "DELE") {
        std::lock_guard lock(server.mutex_);
        Send(server.files_.erase(path) ? "250 Delete operation successful." : "550 Delete operation failed.");
      } else if (verb == "MKD") {
        if (IsDirectory(path) || FileContent(path)) {
          Send("550 Create directory operation failed.");
        } else {
          server.AddDirectory(path);
          Send("257 \"/" + path + "\" created");
        }
      } else {
        Send("502 Command not implemented.");
      }
      return true;
    }
  };

  Options options_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread acceptor_;
  std::vector<std::thread> sessions_;  // only the acceptor thread adds; joined after it ended
  mutable std::mutex mutex_;
  std::map<std::string, std::string> files_;
  std::set<std::string> dirs_;
  std::map<std::string, std::deque<Directive>> directives_;
  std::vector<std::string> commands_;
};

}  // namespace kadroo::testing
