#pragma once
// One logged-in FTP control connection, the commands sent on it and the data connections it opens, and what it
// learned of its server.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <memory>

#include "host/ftp/FtpProtocol.h"
#include "host/ftp/Stream.h"

namespace kadroo::ftp {

struct Flow;

struct FtpTimeouts {
  std::chrono::milliseconds connect{60'000};  // TCP connect, control and data
  std::chrono::milliseconds reply{60'000};    // each reply on the control connection
  std::chrono::milliseconds data{60'000};     // a data connection without progress

  // WinINet's 60 s, or KADROOA_FTP_TIMEOUT_MS milliseconds for all three where that variable is set.
  static FtpTimeouts FromEnvironment();
};

class ControlConnection {
 public:
  struct DataChannel {
    std::unique_ptr<Listener> listener;  // active mode until the server connected
    std::unique_ptr<Stream> stream;
  };

  ControlConnection(Network& network, uint32_t flags, FtpTimeouts timeouts)
      : flags(flags), timeouts(timeouts), network_(network) {}

  // Connects to the first of `host`'s addresses that answers and reads the greeting; 0 or the platform code.
  int32_t Open(const std::string& host, uint16_t port);
  // USER and PASS; 0, or 12013/12014 for a refused user or password, 12015 for another refusal.
  int32_t Login(const std::string& user, const std::string& password);
  // The record of `path` (see FtpEngine::FtpFindFirstFile); 0 with `entry` empty when nothing names it.
  int32_t FindEntry(const std::string& path, std::optional<Entry>& entry);

  // Sends `line` and reads its final reply.
  int32_t Command(std::string_view line, Reply& reply);
  // Sends `line`; 0 when the reply is of the class of `expected` (2xx for 250), else the error it stands for.
  int32_t Expect(std::string_view line, int expected);
  // Sends TYPE I, opens the data connection and sends `command`; on 0 the server is transferring and `started`
  // holds its preliminary reply.
  int32_t StartTransfer(std::string_view command, DataChannel& channel, Reply& started);
  // Reads the reply that ends a transfer: 226 or 250 is success.
  int32_t FinishTransfer();
  // Ends a transfer whose data stream failed: an idle data connection kills the session (the server may be gone);
  // otherwise the server's final reply is read and the stream's own error reported.
  int32_t AbandonTransfer(DataChannel& channel, const Flow& flow);
  // QUIT, waiting a few seconds at most for the reply.
  void Quit();

  const uint32_t flags;
  const FtpTimeouts timeouts;
  bool dead = false;          // closed, reset, timed out or 421: every later operation gives 12111
  std::optional<bool> mlst;   // FEAT asked, or known from an earlier connection
  std::string server;         // address, port and user, the key of what the client remembers of the server

 private:
  void Kill();
  int32_t Fail(int32_t error);
  int32_t Send(std::string_view line);
  // Reads one whole reply. A 421 kills the connection and gives 12111.
  int32_t Read(Reply& reply, std::chrono::milliseconds timeout);
  // Reads replies until a final one; preliminary replies do not extend the wait, so a server that keeps sending
  // them cannot hold the command beyond its timeout.
  int32_t ReadFinal(Reply& reply, std::chrono::milliseconds timeout);
  int32_t ReadUntil(Reply& reply, Deadline deadline);
  int32_t EnsureBinary();
  int32_t OpenPassive(DataChannel& channel);
  int32_t OpenActive(DataChannel& channel);
  // Waits for the server to connect in active mode; a reply on the control connection meanwhile ends the wait.
  // Only the server's own address may connect: anyone else who finds the port is turned away, and the wait goes
  // on until the timeout.
  int32_t AcceptData(DataChannel& channel);
  // LISTs `dir` and keeps the first entry that `match` accepts.
  int32_t ListMatch(std::string_view dir, const std::function<bool(const Entry&)>& match,
                    std::optional<Entry>& found);
  // True (on 0) when `path` is a directory: CWD into it and back to where the session started.
  int32_t ProbeDirectory(std::string_view path, bool& isDirectory);
  // SIZE and MDTM: the record of a file; 0 with `entry` empty when SIZE does not know the path.
  int32_t StatFile(const std::string& path, std::string_view name, std::optional<Entry>& entry);

  Network& network_;
  std::unique_ptr<Stream> control_;
  Endpoint peer_;
  Endpoint local_;
  std::string input_;          // received and not yet parsed
  ReplyParser parser_;
  bool binary_ = false;        // TYPE I sent
  bool noEpsv_ = false, noEprt_ = false;
  std::optional<std::string> home_;
};

}  // namespace kadroo::ftp
