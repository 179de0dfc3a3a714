#pragma once
// TCP over Winsock for the FTP engine: connecting within a deadline, a non-blocking socket read and written with
// select, and the listening socket of an active-mode data connection.
#include "ftp/FtpClient.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <string>

#include "host/ftp/Stream.h"

namespace kadroo::windows::net {

using ftp::Clock;
using ftp::Deadline;
using ftp::Endpoint;

// What the Listener asks of a control connection while it waits: whether a read would not wait.
class Pollable {
 public:
  virtual ~Pollable() = default;
  virtual bool Readable() = 0;
};

// Winsock for the process, started once; 0 or 12004.
int32_t StartWinsock();

int32_t ErrorFromWinsock(int err);
Endpoint EndpointOf(const sockaddr_storage& a);

class Socket {
 public:
  Socket() = default;
  explicit Socket(SOCKET s) : s_(s) {}
  Socket(Socket&& other) noexcept : s_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept {
    reset(other.release());
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { reset(); }
  SOCKET get() const { return s_; }
  explicit operator bool() const { return s_ != INVALID_SOCKET; }
  SOCKET release() {
    const SOCKET s = s_;
    s_ = INVALID_SOCKET;
    return s;
  }
  void reset(SOCKET s = INVALID_SOCKET) {
    if (s_ != INVALID_SOCKET) ::closesocket(s_);
    s_ = s;
  }

 private:
  SOCKET s_ = INVALID_SOCKET;
};

class WinsockStream final : public ftp::Stream, public Pollable {
 public:
  // Connects to the first of `host`'s addresses that answers: 12007 when the name does not resolve, 12002 when the
  // deadline passed, 12029 when nothing answered.
  static int32_t Connect(const std::string& host, uint16_t port, Deadline deadline,
                         std::unique_ptr<WinsockStream>& out);
  static int32_t ConnectTo(const sockaddr_storage& address, Deadline deadline, std::unique_ptr<WinsockStream>& out);

  // Takes a connected socket.
  explicit WinsockStream(Socket socket);

  int32_t Read(char* data, size_t size, Deadline deadline, size_t& got) override;
  int32_t Write(const char* data, size_t size, Deadline deadline) override;
  int32_t Shutdown(Deadline deadline) override;
  Endpoint Peer() const override { return EndpointOf(peer_); }
  Endpoint Local() const override { return EndpointOf(local_); }
  bool Readable() override;

  const sockaddr_storage& peer() const { return peer_; }

 private:
  Socket socket_;
  sockaddr_storage peer_{};
  sockaddr_storage local_{};
};

// The listening end of an active-mode data connection.
class WinsockListener final : public ftp::Listener {
 public:
  // Listens on `local`'s address (the control connection's own), on a port the system picks; 0 or 12029.
  int32_t Open(const Endpoint& local);
  Endpoint Bound() const override { return EndpointOf(address_); }
  // The first connection from the host of `control`'s peer. Anyone else who finds the port is turned away and the
  // wait goes on; something readable on `control` (a reply refusing the transfer) ends it with 0 and `out` empty.
  int32_t Accept(ftp::Stream& control, Deadline deadline, std::unique_ptr<ftp::Stream>& out) override;

 private:
  Socket socket_;
  sockaddr_storage address_{};
};

}  // namespace kadroo::windows::net
