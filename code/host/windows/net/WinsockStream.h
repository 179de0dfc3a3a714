#pragma once
// TCP over Winsock for the FTP engine: connecting within a deadline, a non-blocking socket read and written with
// select, and the listening socket of an active-mode data connection.
#include "ftp/FtpClient.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <string>

#include "host/windows/net/Stream.h"

namespace kadroo::windows::net {

// Winsock for the process, started once; 0 or 12004.
int32_t StartWinsock();

int32_t ErrorFromWinsock(int err);
bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b);
std::string AddressText(const sockaddr_storage& a);
uint16_t PortOf(const sockaddr_storage& a);
void SetPort(sockaddr_storage& a, uint16_t port);

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

class WinsockStream final : public Stream {
 public:
  // Connects to the first of `host`'s addresses that answers: 12007 when the name does not resolve, 12002 when the
  // deadline passed, 12029 when nothing answered.
  static int32_t Connect(const std::string& host, uint16_t port, Deadline deadline,
                         std::unique_ptr<WinsockStream>& out);
  static int32_t ConnectTo(const sockaddr_storage& address, Deadline deadline, std::unique_ptr<WinsockStream>& out);

  // Takes a connected socket.
  explicit WinsockStream(Socket socket);

  int32_t Read(char* data, size_t size, size_t& got, Deadline deadline) override;
  int32_t Write(const char* data, size_t size, Deadline deadline) override;
  int32_t Shutdown(Deadline deadline) override;
  bool Readable() override;

  const sockaddr_storage& peer() const { return peer_; }
  const sockaddr_storage& local() const { return local_; }
  SOCKET handle() const { return socket_.get(); }

 private:
  Socket socket_;
  sockaddr_storage peer_{};
  sockaddr_storage local_{};
};

// The listening end of an active-mode data connection.
class Listener {
 public:
  // Listens on `local`'s address (the control connection's own), on a port the system picks.
  int32_t Open(const sockaddr_storage& local);
  // The address and port to announce in PORT or EPRT.
  const sockaddr_storage& address() const { return address_; }
  // The first connection from `server`'s host. Anyone else who finds the port is turned away and the wait goes
  // on; something readable on `control` (a reply refusing the transfer) ends it with 12003 and `out` empty.
  int32_t Accept(const sockaddr_storage& server, Deadline deadline, Stream* control,
                 std::unique_ptr<WinsockStream>& out);

 private:
  Socket socket_;
  sockaddr_storage address_{};
};

}  // namespace kadroo::windows::net
